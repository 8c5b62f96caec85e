// Helpers shared by the library's sources; not part of its interface.
#pragma once

#include "handle.h"

#include <cstddef>
#include <cstdio>
#include <optional>
#include <string>

namespace pgc {

// A file name handed over from Fortran or C: it ends at the first NUL, blank
// or control character (and, when top_bit_ends, at a byte with its top bit
// set), and after at most max_len characters. Bytes past max_len are never
// read: a Fortran argument that the name fills exactly ends there.
std::string fortran_name(const char* f, std::size_t max_len, bool top_bit_ends);

// A decimal integer read as "%d" does from byte col of an 80-byte card,
// never looking past the card. Nothing when there is no number there.
std::optional<long> card_int(const char* card, int col);

// A real read as "%f" does from byte col of an 80-byte card.
std::optional<double> card_real(const char* card, int col);

// Reads up to n bytes; returns how many were read (short at end of file).
std::size_t read_bytes(std::FILE* f, void* to, std::size_t n);

} // namespace pgc
