// Display levels of a full 4096 x 4096 frame, against one plain pass
// summing the same pixels. The histogram pass should dominate, so the
// ratio stays under about 3.
#include "levels.h"
#include "timing.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

namespace {

constexpr int kSide = 4096;

// Sky of Gaussian noise with a sprinkling of stars, as the camera delivers.
std::vector<short> sky_frame() {
    std::mt19937 gen(42);
    std::normal_distribution<float> noise(1000.0f, 12.0f);
    std::vector<short> map(std::size_t(kSide) * kSide);
    for (auto& v : map) v = short(std::lround(noise(gen)));
    std::uniform_int_distribution<int> pos(8, kSide - 9);
    for (int s = 0; s < 2000; ++s) {
        int cx = pos(gen), cy = pos(gen);
        for (int dy = -6; dy <= 6; ++dy)
            for (int dx = -6; dx <= 6; ++dx) {
                short& p = map[std::size_t(cy + dy) * kSide + cx + dx];
                p = short(std::min(32000.0, p + 25000.0 * std::exp(-(dx * dx + dy * dy) / 5.0)));
            }
    }
    return map;
}

long long plain_sum(const std::vector<short>& map) {
    long long sum = 0;
    for (short v : map) sum += v;
    return sum;
}

} // namespace

int main(int argc, char** argv) {
    int runs = argc > 1 ? std::atoi(argv[1]) : 7;
    if (runs < 1) runs = 1;

    const std::vector<short> map = sky_frame();
    long long sum = 0;
    float peak = 0, sigm = 0;

    // Interleaved, so that both see the same state of the machine.
    double sum_best = 1e30, white_best = 1e30;
    for (int i = 0; i < runs; ++i) {
        sum_best = std::min(sum_best, bench::seconds([&] { sum = plain_sum(map); }));
        bench::keep(sum);
        white_best = std::min(
            white_best, bench::seconds([&] { white_(map.data(), kSide, kSide, &peak, &sigm); }));
        bench::keep(peak);
    }

    // The statistics alone, on the finished histogram: they should not
    // depend on the frame size.
    std::vector<int> ihist(PGC_HIST_BINS);
    white_1(map.data(), kSide, kSide, &peak, &sigm, ihist.data());
    float xpeak = 0, width = 0;
    double stats_best = bench::best_seconds(runs, [&] {
        histt(ihist.data(), &xpeak, &width, PGC_HIST_BINS - 1);
        bench::keep(xpeak);
    });

    std::printf("frame %d x %d, best of %d runs\n", kSide, kSide, runs);
    std::printf("  plain sum of the pixels: %8.2f ms (mean %.2f)\n", sum_best * 1e3,
                double(sum) / double(map.size()));
    std::printf("  white_ (mode and width): %8.2f ms (peak %.2f, width %.2f)\n", white_best * 1e3,
                peak, sigm);
    std::printf("  histt on its histogram:  %8.2f ms\n", stats_best * 1e3);
    std::printf("  ratio white_ / sum:      %8.2f\n", white_best / sum_best);
    return 0;
}
