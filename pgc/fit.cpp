// Least-squares parabola and the small linear solver behind it.
#include "levels.h"

#include <cmath>
#include <cstdio>
#include <utility>

namespace {

constexpr int cols = PGC_SOLVE_COLS;

float& at(float* a, int i, int j) {
    return a[i * cols + j];
}

} // namespace

extern "C" {

void solve(float* a, float* b, int n) {
    if (!a || !b || n < 1) return;
    if (n > PGC_SOLVE_MAX) {
        // The 25-column layout holds no more; leave the caller's data alone.
        std::fputs(" Too many unknowns for SOLVE\n", stdout);
        return;
    }
    for (int k = 1; k < n; ++k) {
        int piv = k;
        float big = std::fabs(at(a, k, k));
        for (int i = k + 1; i <= n; ++i) {
            float v = std::fabs(at(a, i, k));
            if (v > big) {
                big = v;
                piv = i;
            }
        }
        if (big == 0) {
            for (int i = 1; i <= n; ++i) b[i] = 0;
            std::fputs(" Zero determinant from SOLVE\n", stdout);
            return;
        }
        if (piv != k) {
            for (int j = 1; j <= n; ++j) std::swap(at(a, k, j), at(a, piv, j));
            std::swap(b[k], b[piv]);
        }
        for (int i = k + 1; i <= n; ++i) {
            float f = at(a, i, k) / at(a, k, k);
            b[i] -= f * b[k];
            for (int j = k; j <= n; ++j) at(a, i, j) -= f * at(a, k, j);
        }
    }
    for (int i = n; i >= 1; --i) {
        if (at(a, i, i) == 0) {
            b[i] = 0;
            continue;
        }
        float s = 0;
        for (int j = i + 1; j <= n; ++j) s += at(a, i, j) * b[j];
        b[i] = (b[i] - s) / at(a, i, i);
    }
}

void parbol(const float* a, int n, float* xpeak, float* sigma) {
    if (!xpeak || !sigma) return;
    float mat[cols * cols] = {};
    float vec[cols] = {};

    // Sums in double: x^4 reaches 1e8 over a 101-point window.
    double sx = 0, sx2 = 0, sx3 = 0, sx4 = 0, sy = 0, sxy = 0, sx2y = 0;
    for (int k = 1; a && k <= n; ++k) {
        double x = k, y = a[k];
        double x2 = x * x;
        sx += x;
        sx2 += x2;
        sx3 += x2 * x;
        sx4 += x2 * x2;
        sy += y;
        sxy += x * y;
        sx2y += x2 * y;
    }
    at(mat, 1, 1) = static_cast<float>(a && n > 0 ? n : 0);
    at(mat, 1, 2) = at(mat, 2, 1) = static_cast<float>(sx);
    at(mat, 1, 3) = at(mat, 2, 2) = at(mat, 3, 1) = static_cast<float>(sx2);
    at(mat, 2, 3) = at(mat, 3, 2) = static_cast<float>(sx3);
    at(mat, 3, 3) = static_cast<float>(sx4);
    vec[1] = static_cast<float>(sy);
    vec[2] = static_cast<float>(sxy);
    vec[3] = static_cast<float>(sx2y);
    solve(mat, vec, 3);

    float c2 = vec[2], c3 = vec[3];
    if (c3 == 0) {
        *xpeak = 0;
        *sigma = 0;
        return;
    }
    float t = 2 * c3;
    *xpeak = -c2 / t;
    // An upward parabola gets a width too; callers bound it.
    *sigma = static_cast<float>(std::sqrt(1.0 / std::fabs(static_cast<double>(t))));
}

} // extern "C"
