/* Display levels of a frame: the background level (the mode of the pixel
 * values) and a robust width of the distribution around it.
 *
 * Plain C routines, arguments by value, results through pointers; the
 * trailing '_' of white_ and white_1 is part of their name only.
 *
 * Histograms have 32767 counters: counter b holds the pixels of value
 * b - 101 (values -101 .. 32665). Matrices for solve hold element (i, j),
 * both from 1, at index i*25 + j; vectors are used from index 1. */
#ifndef PGC_LEVELS_H
#define PGC_LEVELS_H

#ifdef __cplusplus
extern "C" {
#endif

enum { PGC_HIST_BINS = 32767, PGC_SOLVE_MAX = 24, PGC_SOLVE_COLS = 25 };

/* Mode (as a pixel value) and width (in counts, at least 1) of the
 * n1 x n2 pixels of map. A frame with no pixel in -100 .. 32665 gives
 * peak 0 and width 1. */
void white_(const short* map, int n1, int n2, float* peak, float* sigm);
void white_1(const short* map, int n1, int n2, float* peak, float* sigm, int* ihist);

/* Same contract and identical results as white_ / white_1. */
void white_black(const short* map, int n1, int n2, float* peak, float* sigm);
void white_black_1(const short* map, int n1, int n2, float* peak, float* sigm, int* ihist);

/* Mode (0-based bin position) and width (bins) of a histogram of
 * PGC_HIST_BINS counters, considering bins 1 .. n. */
void histt(const int* ihist, float* xpeak, float* sigma, int n);
void histat(const int* ihist, float* xpeak, float* sigma, int n);

/* Least-squares parabola through (k, a[k]), k = 1 .. n (a[0] unused):
 * vertex in xpeak, width sqrt(1/|2 c3|) in sigma; both 0 if the fit fails. */
void parbol(const float* a, int n, float* xpeak, float* sigma);

/* Solves a x = b for n <= 24 unknowns by Gaussian elimination with partial
 * pivoting; on return b[1..n] holds x and a is overwritten. */
void solve(float* a, float* b, int n);

#ifdef __cplusplus
}
#endif

#endif
