// Display levels: histogram of the pixel values, then mode and width of the
// histogram from a parabola fitted to the log of the smoothed peak.
#include "levels.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <new>

namespace {

constexpr int bins = PGC_HIST_BINS; // counter b holds pixel value b - 101
constexpr int offset = 101;
constexpr int max_scale = 50; // largest smoothing scale: window 101, kernel 201

// Frames from this size on are counted into several partial histograms so
// that runs of equal sky values do not wait on the same counter.
constexpr std::size_t split_above = std::size_t{1} << 18;

// Highest bin with a count, 0 if none (bin 0 counts here too).
int top_bin(const int* ihist) {
    for (int b = bins - 1; b > 0; --b)
        if (ihist[b] != 0) return b;
    return 0;
}

void count_direct(const short* map, std::size_t count, int* ihist) {
    for (std::size_t i = 0; i < count; ++i) {
        unsigned b = static_cast<unsigned>(map[i] + offset);
        if (b < static_cast<unsigned>(bins)) ++ihist[b];
    }
}

// Builds the histogram of count pixels into ihist and returns the top bin.
int build_histogram(const short* map, std::size_t count, int* ihist) {
    std::fill(ihist, ihist + bins, 0);
    if (count < split_above) {
        count_direct(map, count, ihist);
        return top_bin(ihist);
    }
    // Every 16-bit value has its own slot after the offset (mod 65536), so
    // the counting needs no range test; out-of-range slots are dropped when
    // merging.
    constexpr std::size_t slots = 65536;
    std::unique_ptr<std::uint32_t[]> part(new (std::nothrow) std::uint32_t[4 * slots]());
    if (!part) {
        // Short of memory: count straight into the caller's histogram.
        count_direct(map, count, ihist);
        return top_bin(ihist);
    }
    std::uint32_t* p0 = part.get();
    std::uint32_t* p1 = p0 + slots;
    std::uint32_t* p2 = p1 + slots;
    std::uint32_t* p3 = p2 + slots;
    std::size_t i = 0;
    for (; i + 4 <= count; i += 4) {
        ++p0[static_cast<std::uint16_t>(map[i] + offset)];
        ++p1[static_cast<std::uint16_t>(map[i + 1] + offset)];
        ++p2[static_cast<std::uint16_t>(map[i + 2] + offset)];
        ++p3[static_cast<std::uint16_t>(map[i + 3] + offset)];
    }
    for (; i < count; ++i) ++p0[static_cast<std::uint16_t>(map[i] + offset)];
    for (int b = 0; b < bins; ++b) ihist[b] = static_cast<int>(p0[b] + p1[b] + p2[b] + p3[b]);
    return top_bin(ihist);
}

// v truncated to an int and clamped to lo..hi; NaN goes to lo.
int clamp_bin(double v, int lo, int hi) {
    if (!(v >= lo)) return lo;
    if (v >= hi) return hi;
    return static_cast<int>(v);
}

struct Mode {
    float xpeak;
    float sigma;
};

// Bins 1..top of a histogram, top the last one with a count, and their sum.
struct Counts {
    const int* h;
    int top = 1;
    long long total = 0;
    float totalf = 0; // summed in single precision, as the measures use it
};

Counts counts_of(const int* h, int n) {
    Counts c{h};
    for (int b = n; b >= 1; --b)
        if (h[b] != 0) {
            c.top = b;
            break;
        }
    for (int b = 1; b <= c.top; ++b) {
        c.total += h[b];
        c.totalf += static_cast<float>(h[b]);
    }
    return c;
}

struct Peak {
    int bin = 0;
    int height = 0;
};

// Starting peak: the fullest bin inside the 10-90 % band of the counts,
// which keeps hot pixels and a cold overscan edge out.
Peak start_peak(const Counts& c) {
    Peak peak;
    long long running = 0;
    for (int b = 1; b <= c.top; ++b) {
        running += c.h[b];
        if (0.1 * static_cast<double>(c.total) <= static_cast<double>(running) &&
            static_cast<double>(running) <= 0.9 * static_cast<double>(c.total) &&
            c.h[b] > peak.height) {
            peak.height = c.h[b];
            peak.bin = b;
        }
    }
    return peak;
}

// The bin where the running count passes half the total; the last bin if
// rounding keeps it from passing.
int median_bin(const Counts& c) {
    float running = 0;
    for (int b = 1; b <= c.top; ++b) {
        running += static_cast<float>(c.h[b]);
        if (running > 0.5f * c.totalf) return b;
    }
    return c.top;
}

// Width of a Gaussian of this area and height; with no peak the cap.
float gaussian_width(const Counts& c, int height) {
    float width = static_cast<float>(0.1 * c.top);
    if (height > 0) {
        float guess = static_cast<float>(static_cast<double>(c.totalf) /
                                         (static_cast<double>(height) * 2.5066283f));
        if (!(guess > 0.1 * c.top)) width = guess;
    }
    return width;
}

// A Gaussian smoothing kernel of scale m (3..max_scale): weights w[1..len],
// centred on w[u].
struct Kernel {
    int m = 0;
    int len = 0;
    int u = 0;
    float w[4 * max_scale + 2] = {};
};

Kernel kernel_for(float width) {
    Kernel k;
    k.m = static_cast<int>(width + 0.5f);
    if (k.m <= 2) k.m = 3;
    if (k.m > max_scale) k.m = max_scale;
    k.len = 4 * k.m + 1;
    k.u = 2 * k.m + 1;
    for (int j = 1; j <= k.u; ++j) {
        double d = j - k.u;
        k.w[j] = static_cast<float>(std::exp(-d * d * 0.5 / (static_cast<double>(k.m) * k.m)));
        k.w[k.len + 1 - j] = k.w[j];
    }
    return k;
}

// Bin i smoothed by the kernel. Weights whose bins fall outside 1..top are
// left out and the rest renormalised, so the edges are not pulled down.
float smoothed(const Counts& c, const Kernel& k, int i) {
    int jlo = std::max(1, k.u + 1 - i);
    int jhi = std::min(k.len, c.top + k.u - i);
    float num = 0, den = 0;
    for (int j = jlo; j <= jhi; ++j) {
        num += k.w[j] * static_cast<float>(c.h[i + j - k.u]);
        den += k.w[j];
    }
    return den > 0 ? num / den : 0.0f;
}

struct Fit {
    float peak;     // vertex of the parabola, as a bin position
    float centroid; // mean bin of the window, the peak when it is empty
    float width;    // the parabola's width less the kernel's
};

// A parabola through the log of the smoothed counts in a window of m bins
// either side of p.
Fit fit_peak(const Counts& c, const Kernel& k, float p) {
    int centre = clamp_bin(static_cast<double>(p) + 0.5, 1, c.top);
    int lo = std::max(centre - k.m, 1);
    int hi = std::min(centre + k.m, c.top);

    float s0 = 0, s1 = 0;
    float fit[2 * max_scale + 2];
    for (int i = lo; i <= hi; ++i) {
        s0 += static_cast<float>(c.h[i]);
        s1 += static_cast<float>(static_cast<double>(i) * c.h[i]);
        float s = smoothed(c, k, i);
        if (s < 1) s = 1;
        fit[i - lo + 1] = static_cast<float>(std::log(static_cast<double>(s)));
    }

    float x = 0, ws = 0;
    parbol(fit, hi - lo + 1, &x, &ws);
    Fit f;
    // The kernel's own width m comes off in quadrature.
    float d = ws * ws - static_cast<float>(k.m * k.m);
    f.width = d < 0 ? 0.0f : static_cast<float>(std::sqrt(static_cast<double>(d)));
    f.peak = x + static_cast<float>(lo - 1);
    f.centroid = s0 > 0.5f ? s1 / s0 : f.peak;
    return f;
}

// Half the number of bins beside the mode p needed for 68 % of the counts.
float half_width_68(const Counts& c, float p) {
    int centre = clamp_bin(static_cast<double>(p) + 1.5, 1, c.top);
    long long acc = c.h[centre];
    long long limit = static_cast<long long>(0.68 * static_cast<double>(c.totalf) + 0.5);
    int count = 0;
    for (int i = 1; i <= c.top; ++i) {
        if (centre + i <= c.top) {
            acc += c.h[centre + i];
            ++count;
            if (acc > limit) break;
        }
        if (centre - i >= 1) {
            acc += c.h[centre - i];
            ++count;
            if (acc > limit) break;
        }
    }
    return 0.5f * static_cast<float>(count);
}

Mode mode_and_width(const int* h, int n) {
    const Counts c = counts_of(h, std::min(n, bins - 1));
    // Nothing to measure: the lowest position and the smallest width.
    if (c.total <= 0 || !(c.totalf > 0)) return {0.0f, 1.0f};

    const Peak start = start_peak(c);
    const float sigma0 = gaussian_width(c, start.height);
    const Kernel k = kernel_for(sigma0);

    // Two fits, the second around the first's vertex; a vertex that wanders
    // off the starting peak gives way to the window's centroid.
    float p = static_cast<float>(start.bin);
    float sigfit = 0;
    for (int pass = 0; pass < 2; ++pass) {
        const Fit f = fit_peak(c, k, p);
        sigfit = f.width;
        p = std::fabs(f.peak - static_cast<float>(start.bin)) <= sigma0 ? f.peak : f.centroid;
    }

    // To the bin numbering from 0; a mode too near either end is the median.
    p -= 1;
    float medp = static_cast<float>(median_bin(c) - 1);
    if (!(p <= static_cast<float>(c.top) - sigma0)) p = medp;
    if (!(p >= sigma0)) p = medp;

    float sigma = sigfit;
    const float h68 = half_width_68(c, p);
    if (!(sigma <= h68)) sigma = h68;
    if (sigma < 1) sigma = 1;
    return {p, sigma};
}

void levels_of_frame(const short* map, int n1, int n2, float* peak, float* sigm, int* ihist,
                     void (*stats)(const int*, float*, float*, int)) {
    if (!ihist || !peak || !sigm) return;
    std::size_t count =
        (map && n1 > 0 && n2 > 0) ? static_cast<std::size_t>(n1) * static_cast<std::size_t>(n2) : 0;
    int top = build_histogram(map, count, ihist);
    if (top == 0) {
        // No pixel in range (empty frame, or all at -101): read it as a
        // blank frame rather than invent a level.
        *peak = 0;
        *sigm = 1;
        return;
    }
    stats(ihist, peak, sigm, top);
    *peak -= 100;
}

// The levels of a blank frame, so that callers still get usable levels.
void no_memory(float* peak, float* sigm) {
    std::fputs(" No memory for the histogram\n", stdout);
    if (peak) *peak = 0;
    if (sigm) *sigm = 1;
}

} // namespace

extern "C" {

void histt(const int* ihist, float* xpeak, float* sigma, int n) {
    if (!ihist || !xpeak || !sigma) return;
    Mode mode = mode_and_width(ihist, n);
    *xpeak = mode.xpeak;
    *sigma = mode.sigma;
}

void histat(const int* ihist, float* xpeak, float* sigma, int n) {
    histt(ihist, xpeak, sigma, n);
}

void white_1(const short* map, int n1, int n2, float* peak, float* sigm, int* ihist) {
    levels_of_frame(map, n1, n2, peak, sigm, ihist, histt);
}

void white_black_1(const short* map, int n1, int n2, float* peak, float* sigm, int* ihist) {
    levels_of_frame(map, n1, n2, peak, sigm, ihist, histat);
}

void white_(const short* map, int n1, int n2, float* peak, float* sigm) {
    std::unique_ptr<int[]> ihist(new (std::nothrow) int[bins]);
    if (!ihist) return no_memory(peak, sigm);
    white_1(map, n1, n2, peak, sigm, ihist.get());
}

void white_black(const short* map, int n1, int n2, float* peak, float* sigm) {
    std::unique_ptr<int[]> ihist(new (std::nothrow) int[bins]);
    if (!ihist) return no_memory(peak, sigm);
    white_black_1(map, n1, n2, peak, sigm, ihist.get());
}

} // extern "C"
