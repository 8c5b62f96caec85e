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
 * character variable work. Names longer than the routine's limit are refused
 * as unopenable rather than cut, so that no other file is ever opened.
 *
 * index: the C library declares index() in <strings.h> (pulled in by
 * <string.h> and <cstring>) with another meaning and type. This library
 * therefore gives the routine under two names:
 *   - pgc_index(), declared below, which every caller can use safely and which
 *     the library itself uses;
 *   - the symbol index, kept in an archive member of its own. The linker
 *     takes that member only into programs that themselves call an undefined
 *     index (old C and Fortran callers that want this routine); it then
 *     replaces the C library's index for that whole program, which is what
 *     such a program asked for. Programs that only use the other routines
 *     never get it, so the C library's index stays intact for them.
 *   Whichever definition the linker meets first wins, and a runtime linked
 *   ahead of everything (a sanitizer's, for one) carries its own index; a
 *   program that must get this index in any build links the object library
 *   pgc_index besides pgc.
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
int index(const char* a, int c);
#endif

/* Position of the first place where all of b stands in a; -1 if none or b is
 * empty. */
int nindex(const char* a, const char* b);

/* Card number (from 0) of the first of n cards whose keyword equals the 8
 * bytes of f1; n when none does (0 for n <= 0). */
int indexpos(const char* head, const char* f1, int n);

/* indexpos over the 72 cards of a two-block header: 0..71, or 72. */
int c_indexpos(const char* head, const char* f1);

/* Prints s and a newline and ends the process with status 0. */
void stop(const char* s);

/* Byte order of 16-bit and 32-bit items over nbyte bytes. */
void swap2(char* a, int nbyte);
void swap4(char* a, int nbyte);

/* Size of the named file in bytes, 0 when it cannot be opened. */
long file_size(const char* name);

/* Fortran-callable file routines. tvcoordc_, tvread_ and tvwrite_ print
 * "error\n" and touch nothing when the file cannot be opened. */
void tvcoordc_(const char* f1, const char* a);
void tvread_(const char* f1, char* a, const int* len, const int* pos);
void tvwrite_(const char* f1, const char* a, const int* len, const int* pos);
void writefits_(const char* f1, const char* a, const int* len, const int* flag);
void filesize_(const char* name, int* flen);
void writetail_(const char* head);

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
