// The library's Fortran-callable readers of whole images and windows.
#include "frames.h"
#include "header_utils.h"
#include "internal.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/types.h>
#include <vector>

namespace {

constexpr int block_bytes = 2880;
constexpr int win = 101; // window side of readcc_, readc_, readd_
constexpr long max_pixels = 4096L * 4096L;

qor::File open_reader(const char* f1) {
    qor::File f = qor::open_file(pgc::fortran_name(f1, 60, true), "rb");
    if (!f) std::fputs("open error\n", stdout);
    return f;
}

// Reads one header block; a block the file holds only in part is padded with
// blanks. False when nothing at all could be read.
bool read_block(std::FILE* f, char* block) {
    const std::size_t got = pgc::read_bytes(f, block, block_bytes);
    std::memset(block + got, ' ', block_bytes - got);
    return got > 0;
}

bool has_end(const char* block) {
    return indexpos(block, "END     ", 36) < 36;
}

// Skips header blocks up to the one holding END, at most max_blocks of them.
// Returns the number of blocks read, 0 when no END was found.
int skip_header(std::FILE* f, int max_blocks) {
    char block[block_bytes];
    for (int blocks = 1; blocks <= max_blocks; ++blocks) {
        if (!read_block(f, block)) return 0;
        if (has_end(block)) return blocks;
    }
    return 0;
}

// Reads up to n items of size bytes from item position pos; returns how many
// were read. Positions before the start of the file, or so far behind it
// that the byte offset has no value, give nothing.
std::size_t read_items(std::FILE* f, long long pos, void* to, std::size_t size, std::size_t n) {
    long long offset = 0;
    if (pos < 0 || __builtin_mul_overflow(pos, static_cast<long long>(size), &offset) ||
        fseeko(f, static_cast<off_t>(offset), SEEK_SET) != 0)
        return 0;
    return pgc::read_bytes(f, to, size * n) / size;
}

float big_endian_float(const char* p) {
    char b[4] = {p[3], p[2], p[1], p[0]};
    float v;
    std::memcpy(&v, b, 4);
    return v;
}

// Reads one 101-pixel float row of a window at float position pos into row;
// returns how many were read.
std::size_t window_row(std::FILE* f, long long pos, float* row) {
    char raw[win * 4];
    const std::size_t got = read_items(f, pos, raw, 4, win);
    for (std::size_t j = 0; j < got; ++j) row[j] = big_endian_float(raw + 4 * j);
    return got;
}

// First column of a window centred on column ix, counted from 1 as the
// file positions count them. Worked out in 64 bits: a centre near either end
// of the int range must not overflow.
long long first_column(int ix) {
    return static_cast<long long>(ix) - 51;
}

// First float position of window row r in a 2048-wide float image behind a
// header of h floats: rows and columns there count from 1.
long long float_row_pos(long long r, int ix, long long h) {
    return (r - 1) * 2048 + first_column(ix) + h;
}

} // namespace

extern "C" void readfits_(const char* f1, void* out, int* n1, int* n2) {
    char* a = static_cast<char*>(out);
    *n1 = 0;
    *n2 = 0;
    qor::File f = open_reader(f1);
    if (!f) return;
    char block[block_bytes];
    read_block(f.get(), block);
    const int b = indexpos(block, "BITPIX  ", 36);
    if (b == 36) return;
    const int k = indexpos(block, "NAXIS1  ", 36);
    if (k >= 35) return; // NAXIS2 is the card after NAXIS1
    const long bitpix = pgc::card_int(block + 80 * b, 23).value_or(0);
    const long nx = pgc::card_int(block + 80 * k, 23).value_or(0);
    const long ny = pgc::card_int(block + 80 * (k + 1), 23).value_or(0);

    for (int blocks = 1; !has_end(block); ++blocks)
        if (blocks == 10 || !read_block(f.get(), block)) return;

    // The caller's buffer is sized for a frame; a header asking for anything
    // else must not make us write past it.
    const long bpp = std::labs(bitpix) / 8;
    if ((bpp != 1 && bpp != 2 && bpp != 4 && bpp != 8) || bpp * 8 != std::labs(bitpix) || nx < 1 ||
        ny < 1 || nx > max_pixels || ny > max_pixels || nx * ny > max_pixels) {
        std::fputs("bad header\n", stdout);
        return;
    }
    const std::size_t len = static_cast<std::size_t>(bpp * nx * ny);
    pgc::read_bytes(f.get(), a, len);
    if (bpp == 2) swap2(a, static_cast<int>(len));
    if (bpp == 4) swap4(a, static_cast<int>(len));
    *n1 = static_cast<int>(nx);
    *n2 = static_cast<int>(ny);
}

extern "C" void readcn_(const char* f1, float* a, const int* ix, const int* iy, const int* n) {
    qor::File f = open_reader(f1);
    if (!f) return;
    const int blocks = skip_header(f.get(), 5);
    if (blocks == 0 || *n < 1 || *n > 2048) return;
    const long long h = 720LL * blocks;
    const std::size_t side = static_cast<std::size_t>(*n);
    std::vector<char> raw(side * 4);
    std::size_t out = 0;
    for (long long r = *iy; r < static_cast<long long>(*iy) + *n; ++r) {
        if (r < 0 || r > 2046) continue;
        const std::size_t got = read_items(f.get(), r * 2048 + *ix + h, raw.data(), 4, side);
        for (std::size_t j = 0; j < got; ++j) {
            const float v = big_endian_float(raw.data() + 4 * j);
            a[out + j] = v < 0 ? 0.0f : v;
        }
        out += side;
    }
}

extern "C" void readcc_(const char* f1, void* window, const int* ix, const int* iy) {
    float* map = static_cast<float*>(window);
    qor::File f = open_reader(f1);
    if (!f) return;
    const int blocks = skip_header(f.get(), 5);
    if (blocks == 0) return;
    const long long h = 720LL * blocks;
    std::fill_n(map, win * win, -1.0f);
    float row[win];
    for (int t = 0; t < win; ++t) {
        const long long r = static_cast<long long>(*iy) - 50 + t;
        if (r < 0 || r > 2046) continue;
        const std::size_t got = window_row(f.get(), float_row_pos(r, *ix, h), row);
        for (std::size_t j = 0; j < got; ++j)
            map[(100 - t) * win + (100 - static_cast<int>(j))] = row[j] < 0 ? 0.0f : row[j];
    }
}

extern "C" void readc_(const char* f1, void* window, const int* ix, const int* iy) {
    short* map = static_cast<short*>(window);
    qor::File f = open_reader(f1);
    if (!f) return;
    const int blocks = skip_header(f.get(), 5);
    if (blocks == 0) return;
    const long long h = 720LL * blocks;
    std::fill_n(map, win * win, static_cast<short>(32767));
    float row[win];
    for (int t = 0; t < win; ++t) {
        const long long r = static_cast<long long>(*iy) - 50 + t;
        if (r < 0 || r > 2046) continue;
        const std::size_t got = window_row(f.get(), float_row_pos(r, *ix, h), row);
        for (std::size_t j = 0; j < got; ++j) {
            const float v = 0.25f * row[j];
            // NaN fails both tests and would not convert; it counts as 0.
            const float c = v > 32766.0f ? 32766.0f : (v >= 0.0f ? v : 0.0f);
            map[t * win + j] = static_cast<short>(c);
        }
    }
}

extern "C" void readd_(const char* f1, void* window, const int* ix, const int* iy, const int* nx,
                       const int* ny) {
    short* map = static_cast<short*>(window);
    qor::File f = open_reader(f1);
    if (!f) return;
    std::fill_n(map, win * win, static_cast<short>(32767));
    short row[win];
    for (int t = 0; t < win; ++t) {
        const long long r = static_cast<long long>(*iy) - 50 + t;
        if (r < 0 || r >= static_cast<long long>(*ny) - 1) continue;
        const long long pos = (r - 1) * *nx + first_column(*ix) + 4320;
        const std::size_t got = read_items(f.get(), pos, row, 2, win);
        swap2(row, static_cast<int>(2 * got));
        for (std::size_t j = 0; j < got; ++j)
            map[(100 - t) * win + j] = row[j] < 0 ? 0 : (row[j] > 32766 ? 32766 : row[j]);
    }
}
