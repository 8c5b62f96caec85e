// Keeps the library non-empty while its routines are written.
