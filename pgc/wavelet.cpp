// Wavelet transform with the four-coefficient Daubechies filter.
#include "coords.h"

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <memory>
#include <new>

namespace {

// The four Daubechies coefficients, (1 + sqrt 3) / (4 sqrt 2), (3 + sqrt 3) /
// (4 sqrt 2), (3 - sqrt 3) / (4 sqrt 2) and (1 - sqrt 3) / (4 sqrt 2), in
// single precision like the arrays they filter.
constexpr float c0 = 0.4829629f;
constexpr float c1 = 0.8365163f;
constexpr float c2 = 0.22414386f;
constexpr float c3 = -0.12940952f;

// One filter level on a[0..n-1] (n even, >= 4) through the work buffer w.
void filter(float* a, int n, int isign, float* w) {
    const int nh = n / 2;
    if (isign >= 0) {
        int i = 0;
        for (int j = 0; j < n - 3; j += 2, ++i) {
            w[i] = c0 * a[j] + c1 * a[j + 1] + c2 * a[j + 2] + c3 * a[j + 3];
            w[i + nh] = c3 * a[j] - c2 * a[j + 1] + c1 * a[j + 2] - c0 * a[j + 3];
        }
        // Periodic: the last pair reaches round to the start.
        w[i] = c0 * a[n - 2] + c1 * a[n - 1] + c2 * a[0] + c3 * a[1];
        w[i + nh] = c3 * a[n - 2] - c2 * a[n - 1] + c1 * a[0] - c0 * a[1];
    } else {
        w[0] = c2 * a[nh - 1] + c1 * a[n - 1] + c0 * a[0] + c3 * a[nh];
        w[1] = c3 * a[nh - 1] - c0 * a[n - 1] + c1 * a[0] - c2 * a[nh];
        for (int i = 0, j = 2; i < nh - 1; ++i, j += 2) {
            w[j] = c2 * a[i] + c1 * a[i + nh] + c0 * a[i + 1] + c3 * a[i + nh + 1];
            w[j + 1] = c3 * a[i] - c0 * a[i + nh] + c1 * a[i + 1] - c2 * a[i + nh + 1];
        }
    }
    std::copy(w, w + n, a);
}

bool filterable(int n) {
    return n >= 4 && n % 2 == 0;
}

// Transforms the `lines` lines of length n that start at a + l * step and
// run with stride `stride`; line and work hold at least n values.
void transform_lines(float* a, int n, std::size_t stride, std::size_t lines, std::size_t step,
                     int isign, float* line, float* work) {
    int lengths[32];
    int levels = 0;
    for (int len = n; filterable(len); len /= 2) lengths[levels++] = len;
    if (isign < 0) std::reverse(lengths, lengths + levels);
    if (levels == 0) return;
    for (std::size_t l = 0; l < lines; ++l) {
        float* base = a + l * step;
        for (int i = 0; i < n; ++i) line[i] = base[i * stride];
        for (int k = 0; k < levels; ++k) filter(line, lengths[k], isign, work);
        for (int i = 0; i < n; ++i) base[i * stride] = line[i];
    }
}

} // namespace

extern "C" {

void daub4(float* a, int n, int isign) {
    if (!a || !filterable(n)) return;
    std::unique_ptr<float[]> w(new (std::nothrow) float[n]);
    if (!w) {
        std::fputs(" No memory for DAUB4\n", stdout);
        return;
    }
    filter(a, n, isign, w.get());
}

void wtn_(float* a, const int* n1, const int* n2, const int* isign) {
    if (!a || !n1 || !n2 || !isign) return;
    if (*n1 <= 0 || *n2 <= 0) {
        std::fputs(" Bad array size for WTN\n", stdout);
        return;
    }
    const std::size_t d1 = static_cast<std::size_t>(*n1), d2 = static_cast<std::size_t>(*n2);
    // Buffers for both dimensions first, so that a shortage of memory never
    // leaves the array half transformed.
    const std::size_t longest = std::max(d1, d2);
    std::unique_ptr<float[]> buffers(new (std::nothrow) float[2 * longest]);
    if (!buffers) {
        std::fputs(" No memory for WTN\n", stdout);
        return;
    }
    float* line = buffers.get();
    float* work = line + longest;
    transform_lines(a, *n1, 1, d2, d1, *isign, line, work);
    transform_lines(a, *n2, d1, d1, 1, *isign, line, work);
}

} // extern "C"
