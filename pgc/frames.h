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
#ifndef PGC_FRAMES_H
#define PGC_FRAMES_H

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

#include <array>
#include <cstddef>
#include <string>
#include <vector>

namespace pgc {

constexpr int head_cards = 72;
constexpr int head_bytes = head_cards * 80;
constexpr int max_side = 4096;    // largest image side of the chain
constexpr int max_raw_row = 4160; // 4096 image + 64 overscan pixels

using Head = std::array<char, head_bytes>;

// The block factor mm: number of 512-pixel blocks along an image side n.
int block_factor(int n);

enum class Load {
    ok,          // loaded; message may still say what the file lacked
    cannot_open, // the file could not be opened
    bad_frame    // the header does not describe a frame we can load
};

// Memory for full frames: large blocks are asked for in huge pages, which
// takes a 32 MB frame in a few page faults instead of thousands.
template <class T> struct FrameAllocator {
    using value_type = T;
    FrameAllocator() = default;
    template <class U> FrameAllocator(const FrameAllocator<U>&) {}
    T* allocate(std::size_t n);
    void deallocate(T* p, std::size_t n);
    bool operator==(const FrameAllocator&) const = default;
};

// A frame in memory. pix holds (mm*512)^2 pixels so that the reduction to
// 512 x 512 never reads past it; the image is side x side with row stride
// side, and everything behind it is 0.
struct Frame {
    Head head{};
    int n1 = 0;            // NAXIS1 as stored
    int n2 = 0;            // NAXIS2 as stored
    int coloff = 0;        // raw frames: detector column of the first pixel
    double bzero = 0;      // FITS frames: BZERO, 0 when the header has none
    int side = 0;          // side of the square image
    int mm = 0;            // block factor of side
    long missing_rows = 0; // image rows the file did not hold (left 0)
    std::vector<short, FrameAllocator<short>> pix;
    std::string message; // why a frame was refused, or what it lacked
};

// Called for each raw row as stored (big-endian): converts it in place to
// preview units and subtracts the overscan (n1 row length, n2 image columns,
// c column offset). Only the first n2 values are kept afterwards.
using RowFn = void (*)(short* row, int n1, int n2, int c);

// Raw frame: NAXIS2 rows of NAXIS1 pixels; each complete row goes through
// baseline and its first NAXIS2 values form the square image. Refuses NAXIS2
// outside 1..4096, NAXIS1 outside max(NAXIS2, 32)..4160 and a file that holds
// no whole row; a frame cut short keeps the rows it holds (missing_rows).
Load load_raw(const std::string& path, Frame& f, RowFn baseline);

// How a FITS frame that is not square is laid out in pix.
enum class Rows {
    file_order, // side*side pixels in file order, rows laid end to end
    naxis1_rows // the first side pixels of each NAXIS1-long row
};

// FITS frame: 16-bit pixels turned to host order; preview units are the
// caller's step (de_f64). The pixels start at byte 5760 behind the usual
// 72-card header, also when END stands in the first block and the second is
// a blank header block; at 2880 when a one-block header is followed by the
// pixels (the second block is not blank, or only the file's length fits the
// pixels from there); behind the block holding END for longer headers (5760,
// with a note, when no END is found within ten blocks). Refuses a BITPIX
// other than 16, a side outside 1..4096 and a file that holds no whole row;
// nothing is allocated beyond (mm*512)^2 pixels, whatever NAXIS1 says.
Load load_fits(const std::string& path, Frame& f, Rows rows);

} // namespace pgc
#endif

#endif
