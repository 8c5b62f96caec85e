// Reduction of a frame to the grey previews.
#include "reduce.h"

#include "frames.h"
#include "levels.h"

#include <algorithm>
#include <cstdint>
#include <vector>

namespace pgc {

namespace {

constexpr int detector = 4096;
constexpr int half = 2048;   // first column of the right half of the detector
constexpr int overscan = 32; // overscan columns per half

} // namespace

short median(short* values, int count) {
    std::sort(values, values + count);
    return values[count / 2];
}

void baseline(short* row, int n1, int n2, int c) {
    // Stored big-endian as count - 32768; half the count is the preview unit.
    for (int j = 0; j < n1; ++j) {
        const auto u = static_cast<std::uint16_t>(row[j]);
        const auto stored = static_cast<std::uint16_t>((u >> 8) | (u << 8));
        row[j] = static_cast<short>((stored ^ 0x8000u) >> 1);
    }
    if (n1 < overscan) return;
    const short e = median(row + n1 - overscan, overscan);
    // Image columns j with c + j below 2048 lie on the left half.
    int left = 0;
    short f = e;
    if (n1 - n2 == 2 * overscan) {
        f = median(row + n1 - 2 * overscan, overscan);
        left = static_cast<int>(
            std::clamp(half - static_cast<long long>(c), 0LL, static_cast<long long>(n2)));
    }
    for (int j = 0; j < left; ++j) row[j] = static_cast<short>(row[j] - f);
    for (int j = left; j < n2; ++j) row[j] = static_cast<short>(row[j] - e);
}

void shrink1(const short* src, int stride, short* dst, int r0, int r1, int c0, int c1) {
    for (int r = r0; r < r1; ++r) {
        const short* from = src + static_cast<long>(r) * stride;
        dst = std::copy(from + c0, from + c1, dst);
    }
}

void shrinkj(short* p, short k) {
    for (int r = 0; r < detector; ++r) {
        short* row = p + static_cast<long>(r) * detector;
        for (int j = 0; j < half; ++j) row[j] = static_cast<short>(row[j] - k);
    }
}

void balence(short* p, short* q) {
    float a = 0, b = 0, width = 0;
    shrink1(p, detector, q, 1536, 2560, half - 256, half);
    white_(q, 1024, 256, &a, &width);
    shrink1(p, detector, q, 1536, 2560, half, half + 256);
    white_(q, 1024, 256, &b, &width);
    shrinkj(p, static_cast<short>(static_cast<int>(a - b + 1.5)));
}

void shrink2(const short* src, int side, int mm, int divisor, short* dst) {
    // Each block row: its mm image rows summed column by column, then the
    // column sums of each block added up. One pass, in storage order.
    const int cols = std::min(side, preview_side * mm);
    std::vector<int> sums(static_cast<std::size_t>(cols));
    for (int block_row = 0; block_row < preview_side; ++block_row) {
        std::fill(sums.begin(), sums.end(), 0);
        for (long y = static_cast<long>(block_row) * mm;
             y < std::min<long>((block_row + 1L) * mm, side); ++y) {
            const short* row = src + y * side;
            for (int x = 0; x < cols; ++x) sums[x] += row[x];
        }
        for (int block_col = 0; block_col < preview_side; ++block_col) {
            int sum = 0;
            for (int x = block_col * mm; x < std::min((block_col + 1) * mm, cols); ++x)
                sum += sums[x];
            dst[block_row * preview_side + block_col] = static_cast<short>(sum / divisor);
        }
    }
}

void movepic(short* values, short* scratch, int field, int n) {
    const long area = static_cast<long>(field) * field;
    std::copy(values, values + area, scratch);
    std::fill(values, values + area, short{0});
    const int o = (field - n) / 2;
    for (int r = 0; r < n; ++r)
        std::copy_n(scratch + static_cast<long>(r) * field, n,
                    values + static_cast<long>(r + o) * field + o);
}

void shrink0(const short* src, short* dst) {
    shrink1(src, preview_side, dst, 128, 384, 128, 384);
}

Levels preview_levels(const short* values, int n, short* scratch, int held) {
    // The region the levels come from.
    int r0 = 0, r1 = preview_side, c0 = 0, c1 = preview_side;
    if (n >= 4000 || n < preview_side) {
        r0 = c0 = 128;
        r1 = c1 = 384;
    } else if (n % preview_side != 0) {
        r1 = c1 = n / block_factor(n); // whole blocks of the frame
    }
    // The preview rows that hold what was read of the frame.
    const int first = n < preview_side ? (preview_side - n) / 2 : 0;
    const int rows = n < preview_side ? held : held / block_factor(n);
    if (held < n && rows > 0) {
        r0 = std::max(r0, first);
        r1 = std::min(r1, first + rows);
        if (r1 <= r0) r0 = first, r1 = first + rows;
    }
    Levels l;
    shrink1(values, preview_side, scratch, r0, r1, c0, c1);
    white_(scratch, c1 - c0, r1 - r0, &l.level, &l.width);
    return l;
}

void grey(const short* values, int count, Levels l, std::uint8_t* out) {
    const float hi = l.level + 20 * l.width;
    const float lo = l.level - 20 * l.width;
    const float scale = 250 / (hi - lo);
    for (int i = 0; i < count; ++i) {
        const double g = (values[i] - lo) * scale + 0.5;
        out[i] = static_cast<std::uint8_t>(g < 0 ? 0 : (g > 255 ? 255 : static_cast<int>(g)));
    }
}

void comp4(short* values, int n, std::uint8_t* out, int held) {
    std::vector<short> scratch(preview_side * preview_side);
    if (n < preview_side) movepic(values, scratch.data(), preview_side, n);
    grey(values, preview_side * preview_side, preview_levels(values, n, scratch.data(), held), out);
}

void shrink256(const std::uint8_t* src, std::uint8_t* dst) {
    for (int l = 0; l < preview_side; l += 2)
        for (int j = 0; j < preview_side; j += 2)
            dst[small_side * (l / 2) + j / 2] = src[preview_side * l + j];
}

} // namespace pgc
