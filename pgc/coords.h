/* Coordinate, time and wavelet routines offered to outside callers.
 *
 * ad_lb, toms and daub4 take their arguments by value; wtn_ follows the
 * Fortran convention (every argument by reference), so that Fortran code
 * reaches it as CALL WTN(A, N1, N2, ISIGN) with REAL A(N1, N2) and default
 * INTEGER sizes and direction. */
#ifndef PGC_COORDS_H
#define PGC_COORDS_H

#ifdef __cplusplus
extern "C" {
#endif

/* Equatorial (radians) to ecliptic: longitude 0..360 and latitude -90..90,
 * in degrees. */
void ad_lb(double al4, double de4, float* pl, float* pb);

/* Sexagesimal text of aa into cc (at least 12 bytes):
 *   k = 1  " hh:mm:ss.t" (sign or blank first), 11 characters;
 *   k = 0  " dd:mm:ss" seconds rounded, 9 characters;
 *   k = 2  "ddd:mm:ss" without sign, seconds truncated, 9 characters.
 * A value too large for its form (or not a number) is written with '*'
 * in place of the digits. */
void toms(double aa, char* cc, int k);

/* One level of the four-coefficient wavelet filter on a[0..n-1], in place:
 * forward for isign >= 0, inverse for isign < 0. n must be even and at
 * least 4; other lengths leave a unchanged. */
void daub4(float* a, int n, int isign);

/* Two-dimensional wavelet transform of the n1 x n2 array a (first index
 * fastest), in place: forward for *isign >= 0, inverse for *isign < 0.
 * Along each dimension the filter is applied at lengths n, n/2, ... while
 * the length is even and at least 4, so powers of two get the full pyramid
 * and the inverse always undoes the forward transform. */
void wtn_(float* a, const int* n1, const int* n2, const int* isign);

#ifdef __cplusplus
}
#endif

#endif
