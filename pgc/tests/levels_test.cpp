#include "levels.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

namespace {

struct Levels {
    float peak = -999;
    float sigm = -999;
};

Levels white(const std::vector<short>& map, int n1, int n2) {
    Levels l;
    white_(map.data(), n1, n2, &l.peak, &l.sigm);
    return l;
}

Levels white_black_of(const std::vector<short>& map, int n1, int n2) {
    Levels l;
    white_black(map.data(), n1, n2, &l.peak, &l.sigm);
    return l;
}

// Sky of Gaussian noise, rounded to whole counts as the camera delivers.
std::vector<short> noise_frame(int n1, int n2, double level, double sigma, unsigned seed) {
    std::mt19937 gen(seed);
    std::normal_distribution<double> dist(level, sigma);
    std::vector<short> map(static_cast<std::size_t>(n1) * n2);
    for (auto& v : map) v = static_cast<short>(std::lround(dist(gen)));
    return map;
}

// A few bright stars and hot pixels on top of the sky.
void add_stars(std::vector<short>& map, int n1, int n2, unsigned seed) {
    std::mt19937 gen(seed);
    std::uniform_int_distribution<int> x(0, n1 - 1), y(0, n2 - 1);
    for (int s = 0; s < 40; ++s) {
        int cx = x(gen), cy = y(gen);
        for (int dy = -4; dy <= 4; ++dy)
            for (int dx = -4; dx <= 4; ++dx) {
                int px = cx + dx, py = cy + dy;
                if (px < 0 || py < 0 || px >= n1 || py >= n2) continue;
                double v = map[static_cast<std::size_t>(py) * n1 + px] +
                           20000.0 * std::exp(-(dx * dx + dy * dy) / 4.0);
                map[static_cast<std::size_t>(py) * n1 + px] =
                    static_cast<short>(std::min(v, 32000.0));
            }
    }
    for (int h = 0; h < 200; ++h) map[static_cast<std::size_t>(y(gen)) * n1 + x(gen)] = 32767;
}

std::string solve_output(float* a, float* b, int n) {
    testing::internal::CaptureStdout();
    solve(a, b, n);
    return testing::internal::GetCapturedStdout();
}

} // namespace

// The background level and noise of real skies, with and without stars:
// the mode within half a count, the width within 10 %.
TEST(WhiteTest, FindsModeAndWidthOfNoisySky) {
    struct Sky {
        double level, sigma;
        bool stars;
        int side;
    };
    // Below about 8 counts the width is held to whole half-bins, off by up
    // to 0.5; wide skies need a large frame to pin the mode to half a count.
    const Sky skies[] = {{1000.0, 12.0, false, 512}, {1000.0, 12.0, true, 512},
                         {1000.4, 12.0, true, 512},  {300.0, 8.0, false, 512},
                         {300.0, 8.0, true, 512},    {20000.0, 40.0, false, 512},
                         {20000.0, 40.0, true, 512}, {5000.0, 120.0, false, 2048}};
    unsigned seed = 1;
    for (const Sky& sky : skies) {
        const bool stars = sky.stars;
        const int n1 = sky.side, n2 = sky.side;
        auto map = noise_frame(n1, n2, sky.level, sky.sigma, seed++);
        if (stars) add_stars(map, n1, n2, seed++);
        Levels l = white(map, n1, n2);
        SCOPED_TRACE("level " + std::to_string(sky.level) + " sigma " + std::to_string(sky.sigma) +
                     (stars ? " with stars" : ""));
        EXPECT_NEAR(l.peak, sky.level, 0.5);
        EXPECT_NEAR(l.sigm, sky.sigma, 0.1 * sky.sigma);

        Levels lb = white_black_of(map, n1, n2);
        EXPECT_EQ(l.peak, lb.peak);
        EXPECT_EQ(l.sigm, lb.sigm);
    }
}

// Broad wings under the sky peak (faint sources, a gradient) must not
// widen the noise: the fit sees the core, its smoothing taken out again.
TEST(WhiteTest, WidthIsThatOfTheCore) {
    std::mt19937 gen(5);
    std::normal_distribution<double> core(1000, 10), wings(1000, 80);
    std::uniform_real_distribution<double> pick(0, 1);
    std::vector<short> map(512 * 512);
    for (auto& v : map)
        v = static_cast<short>(std::lround(pick(gen) < 0.7 ? core(gen) : wings(gen)));
    Levels l = white(map, 512, 512);
    EXPECT_NEAR(l.peak, 1000, 0.5);
    EXPECT_NEAR(l.sigm, 10, 1.5);
}

// The caller's histogram is the plain count of values -101 .. 32665, for
// small frames and through the partial histograms of large ones.
TEST(WhiteTest, FillsCallersHistogram) {
    std::vector<short> small = {-32768, -102, -101, -101, -100, 0, 0, 7, 32665, 32666, 32767};
    auto big = noise_frame(1024, 1024, 800, 9, 7);
    big[5] = -101;
    big[6] = -20000;
    big[7] = 32700;
    for (const auto& map : {small, big}) {
        std::vector<int> ihist(PGC_HIST_BINS, 99), expect(PGC_HIST_BINS, 0);
        for (short v : map)
            if (v >= -101 && v <= 32665) ++expect[v + 101];
        float peak = 0, sigm = 0;
        white_1(map.data(), static_cast<int>(map.size()), 1, &peak, &sigm, ihist.data());
        EXPECT_EQ(ihist, expect);
        Levels l = white(map, static_cast<int>(map.size()), 1);
        EXPECT_EQ(l.peak, peak);
        EXPECT_EQ(l.sigm, sigm);
    }
}

TEST(WhiteTest, EdgeFrames) {
    // A blank frame: level 0, the smallest width.
    std::vector<short> zeros(256 * 256, 0);
    Levels l = white(zeros, 256, 256);
    EXPECT_EQ(l.peak, 0);
    EXPECT_EQ(l.sigm, 1);

    // Pixels at -101 and out of range leave the levels alone.
    auto sky = noise_frame(256, 256, 600, 8, 11);
    Levels clean = white(sky, 256, 256);
    for (std::size_t i = 0; i < sky.size(); i += 97) sky[i] = -101;
    for (std::size_t i = 1; i < sky.size(); i += 89) sky[i] = -30000;
    for (std::size_t i = 2; i < sky.size(); i += 83) sky[i] = 32700;
    auto reference = noise_frame(256, 256, 600, 8, 11);
    for (std::size_t i = 0; i < sky.size(); ++i)
        if (sky[i] == -101 || sky[i] == -30000 || sky[i] == 32700) reference[i] = 32666;
    Levels dirty = white(sky, 256, 256);
    Levels ignored = white(reference, 256, 256);
    EXPECT_EQ(dirty.peak, ignored.peak);
    EXPECT_EQ(dirty.sigm, ignored.sigm);
    EXPECT_NEAR(dirty.peak, clean.peak, 0.5);

    // Nothing in range, no pixels at all, or nonsense sizes: a blank frame.
    std::vector<short> low(1000, -101);
    for (auto [frame, n1, n2] : {std::tuple{low, 1000, 1}, std::tuple{low, 0, 5},
                                 std::tuple{low, -3, 7}, std::tuple{low, 10, -1}}) {
        Levels e = white(frame, n1, n2);
        EXPECT_EQ(e.peak, 0);
        EXPECT_EQ(e.sigm, 1);
    }
    float peak = -1, sigm = -1;
    white_(nullptr, 100, 100, &peak, &sigm);
    EXPECT_EQ(peak, 0);
    EXPECT_EQ(sigm, 1);

    // One value everywhere else: the level is that value, width 1.
    std::vector<short> flat(4096, 1234);
    l = white(flat, 64, 64);
    EXPECT_EQ(l.peak, 1234);
    EXPECT_EQ(l.sigm, 1);
}

// When 95 % of the pixels share one value and the rest lie above it, no bin
// falls inside the 10-90 % band: the search starts at bin 0, the fit finds
// a flat line at bin 1 and the median takes over.
TEST(WhiteTest, NoBinInsideBandFallsBackToMedian) {
    std::vector<short> map(10000, 500);
    for (int i = 0; i < 500; ++i) map[i * 20] = static_cast<short>(501 + i % 100);
    Levels l = white(map, 100, 100);
    EXPECT_EQ(l.peak, 500);
    EXPECT_EQ(l.sigm, 1);
}

// Three frames that each take one turn of the estimate, pinned to what it
// gives there.
TEST(WhiteTest, FallbacksAndTheSmallestSmoothingScale) {
    auto levels_of = [](const std::vector<std::pair<int, int>>& counts) {
        std::vector<short> map;
        for (auto [value, n] : counts)
            map.insert(map.end(), static_cast<std::size_t>(n), static_cast<short>(value));
        return white(map, static_cast<int>(map.size()), 1);
    };
    // Uniform 1000..1099: the fitted vertex of a flat top lands more than
    // sigma0 from the starting bin, and the window's centroid replaces it.
    std::vector<std::pair<int, int>> uniform;
    for (int v = 1000; v < 1100; ++v) uniform.push_back({v, 100});
    Levels l = levels_of(uniform);
    EXPECT_NEAR(l.peak, 1032.5, 0.01);
    EXPECT_NEAR(l.sigm, 34.5, 0.01);

    // Counts rising to the top value: a position within sigma0 of the top of
    // the used range gives way to the median.
    std::vector<std::pair<int, int>> ramp;
    for (int v = 0; v < 200; ++v) ramp.push_back({1000 + v, v * v / 40 + 1});
    l = levels_of(ramp);
    EXPECT_NEAR(l.peak, 1158, 0.01);
    EXPECT_NEAR(l.sigm, 35, 0.01);

    // Nearly one value: sigma0 is far below 2.5, and the smoothing kernel is
    // still 3 bins wide.
    l = levels_of({{999, 250}, {1000, 1000}, {1001, 334}});
    EXPECT_NEAR(l.peak, 1000.053, 0.02);
    EXPECT_EQ(l.sigm, 1);
}

// A flat-topped distribution fits no Gaussian: the width is capped by the
// 68 % half-width (68 of 100 equally filled bins, 34 bins).
TEST(HisttTest, WidthCappedByCountOfBins) {
    std::vector<int> h(PGC_HIST_BINS, 0);
    for (int b = 1000; b < 1100; ++b) h[b] = 500;
    float xpeak = 0, sigma = 0, xa = 0, sa = 0;
    histt(h.data(), &xpeak, &sigma, 1099);
    EXPECT_GE(xpeak, 999 - 50);
    EXPECT_LE(xpeak, 1099);
    EXPECT_LE(sigma, 34.5f);
    EXPECT_GE(sigma, 33.0f);
    histat(h.data(), &xa, &sa, 1099);
    EXPECT_EQ(xa, xpeak);
    EXPECT_EQ(sa, sigma);
}

// Empty or negative histograms and a top bin past the last counter.
TEST(HisttTest, BadHistograms) {
    std::vector<int> h(PGC_HIST_BINS, 0);
    float xpeak = -1, sigma = -1;
    histt(h.data(), &xpeak, &sigma, 0);
    EXPECT_EQ(xpeak, 0);
    EXPECT_EQ(sigma, 1);

    h[PGC_HIST_BINS - 1] = 10;
    histt(h.data(), &xpeak, &sigma, 1 << 30);
    EXPECT_EQ(xpeak, PGC_HIST_BINS - 2);
    EXPECT_EQ(sigma, 1);

    h.assign(PGC_HIST_BINS, -5);
    histt(h.data(), &xpeak, &sigma, 1000);
    EXPECT_EQ(xpeak, 0);
    EXPECT_EQ(sigma, 1);
}

TEST(ParbolTest, VertexAndWidth) {
    // ln of a Gaussian of centre 7.3 and width 2.5 is an exact parabola.
    float a[16];
    for (int k = 1; k <= 15; ++k)
        a[k] = 5.0f - static_cast<float>((k - 7.3) * (k - 7.3) / (2 * 2.5 * 2.5));
    float x = 0, s = 0;
    parbol(a, 15, &x, &s);
    EXPECT_NEAR(x, 7.3, 1e-3);
    EXPECT_NEAR(s, 2.5, 1e-3);

    // Opening upwards gives a width as well.
    for (int k = 1; k <= 15; ++k) a[k] = -a[k];
    parbol(a, 15, &x, &s);
    EXPECT_NEAR(x, 7.3, 1e-3);
    EXPECT_NEAR(s, 2.5, 1e-3);

    // One point cannot be fitted.
    testing::internal::CaptureStdout();
    parbol(a, 1, &x, &s);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), " Zero determinant from SOLVE\n");
    EXPECT_EQ(x, 0);
    EXPECT_EQ(s, 0);
}

TEST(SolveTest, PivotsAndSingularSystems) {
    auto A = [](float* a, int i, int j) -> float& { return a[i * PGC_SOLVE_COLS + j]; };

    // The first pivot is zero: rows must be exchanged.
    // x + y + z = 6, 2y + 5z = -4, 2x + 5y - z = 27  ->  (5, 3, -2)
    float a[PGC_SOLVE_COLS * PGC_SOLVE_COLS] = {};
    float b[PGC_SOLVE_COLS] = {};
    float rows[3][4] = {{0, 2, 5, -4}, {1, 1, 1, 6}, {2, 5, -1, 27}};
    for (int i = 1; i <= 3; ++i) {
        for (int j = 1; j <= 3; ++j) A(a, i, j) = rows[i - 1][j - 1];
        b[i] = rows[i - 1][3];
    }
    EXPECT_EQ(solve_output(a, b, 3), "");
    EXPECT_NEAR(b[1], 5, 1e-4);
    EXPECT_NEAR(b[2], 3, 1e-4);
    EXPECT_NEAR(b[3], -2, 1e-4);

    // First column all zero: one message, all zeros.
    float z[PGC_SOLVE_COLS * PGC_SOLVE_COLS] = {};
    float zb[PGC_SOLVE_COLS] = {0, 1, 2, 3};
    A(z, 1, 2) = A(z, 2, 2) = A(z, 3, 3) = 1;
    EXPECT_EQ(solve_output(z, zb, 3), " Zero determinant from SOLVE\n");
    EXPECT_EQ(zb[1], 0);
    EXPECT_EQ(zb[2], 0);
    EXPECT_EQ(zb[3], 0);

    // One unknown with a zero coefficient: 0, silently.
    float one[PGC_SOLVE_COLS * PGC_SOLVE_COLS] = {};
    float ob[PGC_SOLVE_COLS] = {0, 4};
    EXPECT_EQ(solve_output(one, ob, 1), "");
    EXPECT_EQ(ob[1], 0);

    // Too many unknowns or none: the caller's data stay as they were.
    float keep[PGC_SOLVE_COLS] = {0, 7, 8};
    EXPECT_EQ(solve_output(one, keep, 25), " Too many unknowns for SOLVE\n");
    EXPECT_EQ(solve_output(one, keep, 0), "");
    EXPECT_EQ(keep[1], 7);
    EXPECT_EQ(keep[2], 8);
}
