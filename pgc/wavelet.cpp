// Wavelet transform with the four-coefficient Daubechies filter.
#include "coords.h"

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <vector>

namespace {

constexpr float C0 = 0.4829629f;
constexpr float C1 = 0.8365163f;
constexpr float C2 = 0.22414386f;
constexpr float C3 = -0.12940952f;

// One filter level on a[0..n-1] (n even, >= 4) through the work buffer w.
void filter(float* a, int n, int isign, float* w) {
    const int nh = n / 2;
    if (isign >= 0) {
        int i = 0;
        for (int j = 0; j < n - 3; j += 2, ++i) {
            w[i] = C0 * a[j] + C1 * a[j + 1] + C2 * a[j + 2] + C3 * a[j + 3];
            w[i + nh] = C3 * a[j] - C2 * a[j + 1] + C1 * a[j + 2] - C0 * a[j + 3];
        }
        // Periodic: the last pair reaches round to the start.
        w[i] = C0 * a[n - 2] + C1 * a[n - 1] + C2 * a[0] + C3 * a[1];
        w[i + nh] = C3 * a[n - 2] - C2 * a[n - 1] + C1 * a[0] - C0 * a[1];
    } else {
        w[0] = C2 * a[nh - 1] + C1 * a[n - 1] + C0 * a[0] + C3 * a[nh];
        w[1] = C3 * a[nh - 1] - C0 * a[n - 1] + C1 * a[0] - C2 * a[nh];
        for (int i = 0, j = 2; i < nh - 1; ++i, j += 2) {
            w[j] = C2 * a[i] + C1 * a[i + nh] + C0 * a[i + 1] + C3 * a[i + nh + 1];
            w[j + 1] = C3 * a[i] - C0 * a[i + nh] + C1 * a[i + 1] - C2 * a[i + nh + 1];
        }
    }
    std::copy(w, w + n, a);
}

bool filterable(int n) {
    return n >= 4 && n % 2 == 0;
}

// Lengths of the pyramid along one dimension, largest first.
std::vector<int> pyramid(int n) {
    std::vector<int> lengths;
    for (int len = n; filterable(len); len /= 2) lengths.push_back(len);
    return lengths;
}

// Transforms every line of length n, stride `stride`, starting at the
// `lines` offsets base + l * step.
void transform_lines(float* a, int n, std::size_t stride, std::size_t lines, std::size_t step,
                     int isign) {
    std::vector<int> lengths = pyramid(n);
    if (lengths.empty()) return;
    if (isign < 0) std::reverse(lengths.begin(), lengths.end());
    std::vector<float> line(n), work(n);
    for (std::size_t l = 0; l < lines; ++l) {
        float* base = a + l * step;
        for (int i = 0; i < n; ++i) line[i] = base[i * stride];
        for (int len : lengths) filter(line.data(), len, isign, work.data());
        for (int i = 0; i < n; ++i) base[i * stride] = line[i];
    }
}

} // namespace

extern "C" {

void daub4(float* a, int n, int isign) {
    if (!a || !filterable(n)) return;
    std::vector<float> w(n);
    filter(a, n, isign, w.data());
}

void wtn_(float* a, const int* n1, const int* n2, const int* isign) {
    if (!a || !n1 || !n2 || !isign) return;
    if (*n1 <= 0 || *n2 <= 0) {
        std::fputs(" Bad array size for WTN\n", stdout);
        return;
    }
    const std::size_t d1 = std::size_t(*n1), d2 = std::size_t(*n2);
    transform_lines(a, *n1, 1, d2, d1, *isign);
    transform_lines(a, *n2, d1, d1, 1, *isign);
}

} // extern "C"
