// The quick-look programs' frames in memory: the C++ side of the frame
// readers, for the library's own programs. Outside callers include pgc.h,
// which holds the C interface alone.
#pragma once

#include "readers.h"

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
