/* Reading frame pixels from disk.
 *
 * Raw frames (.ccd) and FITS frames (.fit) of the quick-look programs have a
 * header of exactly two blocks (72 cards, 5760 bytes) followed by 16-bit
 * big-endian pixels. Card 3 is NAXIS1, card 4 NAXIS2, and in raw frames card
 * 5 the detector column of the first pixel; values are read from column 21.
 *
 * The library readers below are called from Fortran (arguments by reference,
 * file name blank-padded). Their file name ends at the first blank, control
 * character or byte with its top bit set, and is at most 60 characters
 * long: a Fortran CHARACTER*60 argument has no byte behind it to look at, so
 * the 61st is never read. They only read, so the file is opened read-only. */
#ifndef PGC_READERS_H
#define PGC_READERS_H

#ifdef __cplusplus
extern "C" {
#endif

/* Preview units of a FITS frame: each of the first n1*n2 values v becomes
 * (v + e) >> 1 in 16 bits, e the integer part of bzero as a float. */
void de_f64(short* values, double bzero, int n1, int n2);

/* Whole FITS image, 2- and 4-byte pixels in host order. n1, n2 = NAXIS1,
 * NAXIS2, or both 0 on failure. a must hold |BITPIX|/8 * n1 * n2 bytes; images
 * of more than 4096 x 4096 pixels are refused. */
void readfits_(const char* f1, void* a, int* n1, int* n2);

/* Up to n x n floats (n <= 2048) from a float image with rows of 2048, from
 * column ix, rows iy .. iy+n-1 (rows outside 0..2046 give no output). */
void readcn_(const char* f1, float* a, const int* ix, const int* iy, const int* n);

/* 101 x 101 windows around column ix, row iy: readcc_ floats turned by
 * 180 degrees (fill -1), readc_ a quarter of the floats (fill 32767), readd_
 * from a 16-bit frame of nx x ny pixels, rows reversed (fill 32767). Pixels
 * that lie before the start or beyond the end of the file keep the fill.
 * The window is float map[101][101] (readcc_) or short map[101][101], passed
 * as such or as a plain buffer of 101 * 101 values. */
void readcc_(const char* f1, void* map, const int* ix, const int* iy);
void readc_(const char* f1, void* map, const int* ix, const int* iy);
void readd_(const char* f1, void* map, const int* ix, const int* iy, const int* nx, const int* ny);

#ifdef __cplusplus
}
#endif

#endif
