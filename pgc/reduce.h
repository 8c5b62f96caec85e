// Reducing a loaded frame to the grey previews: overscan subtraction while a
// raw frame is read, levelling of the two detector halves, block means down
// to 512 x 512, grey levels from the histogram, and halving to 256 x 256.
//
// Images are row-major 16-bit pixels in preview units (half counts). The
// detector is 4096 x 4096, read out in two halves split at column 2048;
// the previews are 512 x 512 and 256 x 256.
#pragma once

#include <cstdint>

namespace pgc {

constexpr int preview_side = 512;
constexpr int small_side = 256;

// Sorts the count values ascending in place; returns the one at count/2
// (for 32 values the 17th smallest).
short median(short* values, int count);

// One raw row as stored (n1 big-endian pixels, n2 of them image, c the
// detector column of the first): to preview units, then less its overscan
// level. With 64 overscan columns the first 32 belong to the left half of
// the detector and the last 32 to the right one, and each image column loses
// its own half's level; otherwise every column loses the level of the last
// 32. The subtraction wraps in 16 bits. Rows of fewer than 32 pixels have no
// overscan and are only converted.
void baseline(short* row, int n1, int n2, int c);

// Copies rows r0..r1-1, columns c0..c1-1 of an image with the given row
// stride into dst, row by row.
void shrink1(const short* src, int stride, short* dst, int r0, int r1, int c0, int c1);

// Lowers columns 0..2047 of all 4096 rows of a 4096 x 4096 image by k
// (16-bit wrap): the left half of the detector.
void shrinkj(short* p, short k);

// Levels the left half of a 4096 x 4096 image to the right one: the mode of
// a 1024 x 256 strip just left of the centre line against that of the strip
// just right of it (rows 1536..2559). q is scratch of 262144 pixels.
void balence(short* p, short* q);

// The 512 x 512 preview of a side x side image (row stride side): means of
// mm x mm blocks, the sum divided by divisor toward zero. Pixels outside the
// image count as 0, so a frame smaller than the preview sits top-left and
// one whose side is no multiple of 512 is not read past its rows.
void shrink2(const short* src, int side, int mm, int divisor, short* dst);

// Centres the top-left n x n of a field x field image on a black field;
// scratch holds field * field pixels.
void movepic(short* values, short* scratch, int field, int n);

// Copies the central 256 x 256 of a 512 x 512 image (rows and columns
// 128..383).
void shrink0(const short* src, short* dst);

// Display levels: background level and width of the preview.
struct Levels {
    float level = 0;
    float width = 1;
};

// The levels of the preview of a frame of side n: from its central
// 256 x 256 for full frames (n >= 4000) and for frames smaller than the
// preview (which then fill that centre); otherwise from the part of the
// preview the frame covers, which is all of it for sides that are multiples
// of 512. Of a frame cut short, only the rows it holds (its first held rows)
// count: the missing ones are black and no background. scratch holds
// 512 x 512 pixels.
Levels preview_levels(const short* values, int n, short* scratch, int held);

// Grey values of count pixels: level - 20 widths maps to 0, level + 20
// widths to 250, and everything is clamped to 0..255.
void grey(const short* values, int count, Levels l, std::uint8_t* out);

// The whole grey mapping of a 512 x 512 preview of a frame of side n, held
// of whose rows were read: centred when the frame is smaller than the
// preview, then levels and grey.
void comp4(short* values, int n, std::uint8_t* out, int held);

// The 256 x 256 preview from the 512 x 512 one: the top-left pixel of each
// 2 x 2 block.
void shrink256(const std::uint8_t* src, std::uint8_t* dst);

} // namespace pgc
