// Overscan, levelling of the detector halves, block means and grey mapping.
#include "reduce.h"

#include <cstdint>
#include <gtest/gtest.h>
#include <random>
#include <vector>

namespace {

// A raw row as stored: preview values p become counts 2p, big-endian,
// less 32768.
std::vector<short> stored_row(const std::vector<int>& preview) {
    std::vector<short> row;
    for (int p : preview) {
        const auto s = static_cast<std::uint16_t>(2 * p - 32768);
        row.push_back(static_cast<short>(static_cast<std::uint16_t>((s >> 8) | (s << 8))));
    }
    return row;
}

// Image columns 5000 + j % 7, then the overscan stretches.
std::vector<int> image_then(int n2, const std::vector<std::pair<int, int>>& overscan) {
    std::vector<int> v;
    for (int j = 0; j < n2; ++j) v.push_back(5000 + j % 7);
    for (auto [count, value] : overscan) v.insert(v.end(), count, value);
    return v;
}

std::vector<short> noise(std::size_t n, double level, double sigma, unsigned seed) {
    std::mt19937 gen(seed);
    std::normal_distribution<double> d(level, sigma);
    std::vector<short> v(n);
    for (auto& x : v) x = static_cast<short>(std::lround(d(gen)));
    return v;
}

} // namespace

TEST(Reduce, OverscanOfEachDetectorHalf) {
    // 64 overscan columns: the first 32 are the left half's, the last 32 the
    // right half's; the column offset says where the frame's columns lie.
    for (int offset : {0, 2048, 1000}) {
        auto row = stored_row(image_then(4096, {{32, 1000}, {32, 1200}}));
        pgc::baseline(row.data(), 4160, 4096, offset);
        for (int j : {0, 1047, 1048, 2047, 2048, 4095}) {
            const int drop = offset + j > 2047 ? 1200 : 1000;
            EXPECT_EQ(row[j], 5000 + j % 7 - drop) << "offset " << offset << " column " << j;
        }
    }
    // 32 overscan columns: one level, the median (17th smallest) of them.
    std::vector<std::pair<int, int>> spread;
    for (int k = 0; k < 32; ++k) spread.push_back({1, 900 + (k * 13) % 32});
    auto row = stored_row(image_then(4096, spread));
    pgc::baseline(row.data(), 4128, 4096, 0);
    EXPECT_EQ(row[0], 5000 - 916);
    EXPECT_EQ(row[4095], 5000 + 4095 % 7 - 916);
    EXPECT_TRUE(std::is_sorted(row.begin() + 4096, row.end())); // the median sorts in place

    // Counts of 0, 32768 and 65535 are 0, 16384 and 32767 in preview units.
    std::vector<short> raw = {static_cast<short>(0x0080), 0, static_cast<short>(0xFF7F)};
    raw.resize(100, static_cast<short>(0x0080)); // overscan of count 0
    pgc::baseline(raw.data(), 100, 36, 0);
    EXPECT_EQ((std::vector<short>(raw.begin(), raw.begin() + 3)),
              (std::vector<short>{0, 16384, 32767}));
}

TEST(Reduce, LeftHalfIsLevelledToTheRightOne) {
    // Strips of levels 1010.2 and 1000.0: k = 10.2 + 1.5 cut to 11.
    const int side = 4096;
    std::vector<short> image(static_cast<std::size_t>(side) * side);
    for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<short>(i % 97);
    auto left = noise(1024 * 256, 1010.2, 10.0, 2), right = noise(1024 * 256, 1000.0, 10.0, 1);
    for (int r = 0; r < 1024; ++r) {
        std::copy_n(left.begin() + r * 256, 256, image.begin() + (1536 + r) * side + 1792);
        std::copy_n(right.begin() + r * 256, 256, image.begin() + (1536 + r) * side + 2048);
    }
    const std::vector<short> before = image;
    std::vector<short> scratch(262144);
    pgc::balence(image.data(), scratch.data());
    for (std::size_t i : {0UL, 1536UL * side + 1900, 4095UL * side + 2047})
        EXPECT_EQ(image[i], before[i] - 11) << i;
    for (std::size_t i : {2048UL, 2000UL * side + 2100, 4095UL * side + 4095})
        EXPECT_EQ(image[i], before[i]) << i;
}

TEST(Reduce, PreviewPixelsAreBlockMeans) {
    // 4096: means of 8 x 8 blocks, cut toward zero; halved once more for
    // the FITS previews.
    std::vector<short> big(4096L * 4096);
    for (std::size_t i = 0; i < big.size(); ++i)
        big[i] = static_cast<short>(i % 4096 + (i / 4096) % 3);
    std::vector<short> b(512 * 512);
    pgc::shrink2(big.data(), 4096, 8, 64, b.data());
    // Block (0, 1): columns 8..15 (mean 11.5) plus rows 0..7 (mean 0.875).
    EXPECT_EQ(b[1], 12);
    EXPECT_EQ(b[511 * 512 + 511], 4092); // columns 4088..4095, rows 4088..4095: 4092.5
    pgc::shrink2(big.data(), 4096, 8, 128, b.data());
    EXPECT_EQ(b[1], 6);

    // 512: the frame itself; 256: top-left, the rest black.
    auto frame = noise(512 * 512, 700, 5, 3);
    pgc::shrink2(frame.data(), 512, 1, 1, b.data());
    EXPECT_EQ(b, frame);
    frame.resize(256 * 256);
    pgc::shrink2(frame.data(), 256, 1, 1, b.data());
    EXPECT_EQ(b[255 * 512 + 255], frame[255 * 256 + 255]);
    EXPECT_EQ(b[255 * 512 + 256], 0);
    EXPECT_EQ(b[256 * 512], 0);
}

TEST(Reduce, GreyScaleRunsFromLevelLessToLevelPlusTwentyWidths) {
    const std::vector<short> v = {800, 1000, 1200, 1210, 1300, 700, -5};
    std::vector<std::uint8_t> g(v.size());
    pgc::grey(v.data(), static_cast<int>(v.size()), {1000.0f, 10.0f}, g.data());
    EXPECT_EQ(g, (std::vector<std::uint8_t>{0, 125, 250, 255, 255, 0, 0}));

    std::vector<std::uint8_t> big(512 * 512), small(256 * 256);
    for (std::size_t i = 0; i < big.size(); ++i)
        big[i] = static_cast<std::uint8_t>(i % 512 + i / 512);
    pgc::shrink256(big.data(), small.data());
    EXPECT_EQ(small[0], big[0]);
    EXPECT_EQ(small[3 * 256 + 5], big[6 * 512 + 10]);
}

TEST(Reduce, LevelsComeFromThePartThatShowsTheFrame) {
    // A preview whose centre (rows and columns 128..383) is at 1000 and
    // whose border, most of it, is at 3000.
    std::vector<short> p = noise(512 * 512, 3000, 10, 4);
    auto centre = noise(512 * 512, 1000, 10, 5);
    for (int r = 128; r < 384; ++r)
        std::copy_n(centre.begin() + r * 512 + 128, 256, p.begin() + r * 512 + 128);
    std::vector<short> scratch(512 * 512);
    EXPECT_NEAR(pgc::preview_levels(p.data(), 4096, scratch.data(), 4096).level, 1000, 1);
    EXPECT_NEAR(pgc::preview_levels(p.data(), 2048, scratch.data(), 2048).level, 3000, 1);
    EXPECT_NEAR(pgc::preview_levels(p.data(), 512, scratch.data(), 512).level, 3000, 1);
    // Cut short: only the rows read count, wherever the usual region lies.
    EXPECT_NEAR(pgc::preview_levels(p.data(), 4096, scratch.data(), 2048).level, 1000, 1);
    EXPECT_NEAR(pgc::preview_levels(p.data(), 4096, scratch.data(), 800).level, 3000, 1);

    // A 256 frame sits in the middle on black, its levels its own.
    std::vector<short> frame = noise(256 * 256, 1000, 10, 6), b(512 * 512);
    pgc::shrink2(frame.data(), 256, 1, 1, b.data());
    std::vector<std::uint8_t> g(512 * 512);
    pgc::comp4(b.data(), 256, g.data(), 256);
    EXPECT_EQ(g[127 * 512 + 200], 0);
    EXPECT_EQ(g[200 * 512 + 384], 0);
    EXPECT_EQ(b[128 * 512 + 128], frame[0]);
    EXPECT_EQ(b[383 * 512 + 383], frame[255 * 256 + 255]);
    EXPECT_NEAR(g[256 * 512 + 256], 125, 20);
}
