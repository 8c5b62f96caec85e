/* Header cards, byte order, files in place, stamps and the catalogue.
 *
 * A header card is 80 bytes of text without a terminator; card j of a header
 * starts at byte 80*j. A keyword is the card's first 8 bytes, blank-padded
 * ("BZERO   "). The value field starts at column 21 (byte 20).
 *
 * Plain routines take integers by value and NUL-terminated strings. Routines
 * ending in '_' are called from Fortran: every argument by reference, and the
 * hidden length arguments Fortran appends for character arguments are not
 * declared (the callee ignores them, which the C calling convention allows).
 *
 * File names passed to the '_' routines: the name ends at the first NUL,
 * blank or control character, so both a C string and a blank-padded Fortran
 * character variable work. No byte past the routine's limit (79 characters
 * for filesize_) is read: an argument that exactly fills it has none.
 *
 * index: the C library declares index() in <strings.h> (pulled in by
 * <string.h> and <cstring>) with another meaning and type. This library
 * therefore gives the routine under two names:
 *   - pgc_index(), declared below, which every caller can use safely and which
 *     the library itself uses;
 *   - the symbol index, which is not in the archive pgc at all but in an
 *     object of its own (the object library pgc_index). Only a program that
 *     links that object gets it, and then for the whole program, which is
 *     what such a program (an old C or Fortran caller) asked for. Any other
 *     program that links pgc and calls index from <strings.h> gets the C
 *     library's, whose result is a pointer.
 *   Its prototype conflicts with <strings.h>, so it is declared only when
 *   PGC_DECLARE_INDEX is defined, in a C file that does not include
 *   <string.h> or <strings.h>. */
#ifndef PGC_HEADER_UTILS_H
#define PGC_HEADER_UTILS_H

#ifdef __cplusplus
extern "C" {
#endif

/* Printer sequences written around the header block on a PCL page. */
extern const char small[24];
extern const char tail[5];

/* Position (from 0) of the first c in a, or -1. */
int pgc_index(const char* a, int c);
#ifdef PGC_DECLARE_INDEX
/* The compiler knows index as the C library's; this declaration is the
 * routine the program asked for. */
#if defined(__GNUC__) && !defined(__cplusplus)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wbuiltin-declaration-mismatch"
#endif
int index(const char* a, int c);
#if defined(__GNUC__) && !defined(__cplusplus)
#pragma GCC diagnostic pop
#endif
#endif

/* Position of the first place where all of b stands in a; -1 if none or b is
 * empty. */
int nindex(const char* a, const char* b);

/* Card number (from 0) of the first of n cards whose keyword equals the 8
 * bytes of f1; n when none does (0 for n <= 0). The cards come as a card
 * array (char head[][80]) or as a plain buffer of 80-byte cards; both
 * convert to the untyped pointer in C and C++ alike. */
int indexpos(const void* head, const char* f1, int n);

/* indexpos over the 72 cards of a two-block header: 0..71, or 72. */
int c_indexpos(const void* head, const char* f1);

/* Prints s and a newline and ends the process with status 0. */
void stop(const char* s);

/* Byte order of 16-bit and 32-bit items over nbyte bytes, whatever the
 * items' type (short, int, long, float arrays or raw bytes). */
void swap2(void* a, int nbyte);
void swap4(void* a, int nbyte);

/* Size of the named file in bytes, 0 when it cannot be opened. */
long file_size(const char* name);

/* Fortran-callable file routines. tvcoordc_, tvread_ and tvwrite_ print
 * "error\n" and touch nothing when the file cannot be opened. Headers
 * (char a[72][80]) and data buffers of any type are passed untyped. */
void tvcoordc_(const char* f1, const void* a);
void tvread_(const char* f1, void* a, const int* len, const int* pos);
void tvwrite_(const char* f1, const void* a, const int* len, const int* pos);
void writefits_(const char* f1, const void* a, const int* len, const int* flag);
void filesize_(const char* name, int* flen);
void writetail_(const void* head);

/* Stamps: fdate_ needs 26 bytes; usrid_ the user name (at most 32
 * characters of USER are used, none when it is unset) plus 26. */
void fdate_(char* a);
void usrid_(char* a);
void dispdot_(void);
void mokel_(void);

#ifdef __cplusplus
}
#endif

#endif
