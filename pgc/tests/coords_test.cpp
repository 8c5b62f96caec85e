#include "coords.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

const double pi = std::acos(-1.0);

// Text written by toms into a 12-byte field inside a guarded buffer; the
// guard bytes must survive.
std::string toms_text(double value, int k) {
    char buf[12 + 8];
    std::memset(buf, '#', sizeof buf);
    toms(value, buf, k);
    for (std::size_t i = 12; i < sizeof buf; ++i) EXPECT_EQ(buf[i], '#') << "overrun at " << i;
    EXPECT_NE(std::memchr(buf, '\0', 12), nullptr);
    return std::string(buf);
}

void wtn(std::vector<float>& a, int n1, int n2, int isign) {
    wtn_(a.data(), &n1, &n2, &isign);
}

double energy(const std::vector<float>& a) {
    double e = 0;
    for (float v : a) e += static_cast<double>(v) * v;
    return e;
}

std::vector<float> random_array(std::size_t n, unsigned seed) {
    std::mt19937 gen(seed);
    std::uniform_real_distribution<float> dist(-1000.0f, 1000.0f);
    std::vector<float> a(n);
    for (auto& v : a) v = dist(gen);
    return a;
}

} // namespace

TEST(AdLbTest, EclipticCoordinates) {
    float l = -1, b = -1;
    ad_lb(0.0, 0.0, &l, &b);
    EXPECT_NEAR(l, 0, 1e-5);
    EXPECT_NEAR(b, 0, 1e-5);

    ad_lb(pi / 2, 0.0, &l, &b);
    EXPECT_NEAR(l, 90, 1e-3);
    EXPECT_NEAR(b, -23.44, 0.01);

    // The celestial north pole lies at ecliptic latitude 90 - 23.44.
    ad_lb(0.0, pi / 2, &l, &b);
    EXPECT_NEAR(b, 66.56, 0.01);

    // Longitudes west of the equinox come out between 180 and 360.
    ad_lb(-0.3, -0.1, &l, &b);
    EXPECT_GT(l, 180);
    EXPECT_LT(l, 360);

    // At the ecliptic south pole the rounded obliquity puts the sine a hair
    // past 1; the latitude must still be a number.
    const double de = std::atan2(0.9175, 0.3978);
    ad_lb(pi / 2, -de, &l, &b);
    EXPECT_TRUE(std::isfinite(b));
    EXPECT_NEAR(b, -90, 0.5);
    ad_lb(-pi / 2, de, &l, &b);
    EXPECT_TRUE(std::isfinite(b));
    EXPECT_NEAR(b, 90, 0.5);

    // Nonsense in, no crash; a null result pointer is skipped.
    ad_lb(NAN, 1e300, &l, &b);
    ad_lb(0.1, 0.2, nullptr, nullptr);
}

TEST(TomsTest, ThreeFormsAndCarries) {
    EXPECT_EQ(toms_text(12.5, 1), " 12:30:00.0");
    EXPECT_EQ(toms_text(-0.5, 0), "-00:30:00");
    EXPECT_EQ(toms_text(-0.5, 2), "  0:30:00");
    EXPECT_EQ(toms_text(359.5, 2), "359:30:00");

    // Seconds of 59.96 carry into the minutes, and on into the hours.
    EXPECT_EQ(toms_text(59.96 / 3600, 1), " 00:01:00.0");
    EXPECT_EQ(toms_text(5 + 59.0 / 60 + 59.96 / 3600, 1), " 06:00:00.0");

    // Form 0 rounds to whole seconds; form 2 truncates them.
    EXPECT_EQ(toms_text(10 + 20.0 / 60 + 30.6 / 3600, 0), " 10:20:31");
    EXPECT_EQ(toms_text(10 + 20.0 / 60 + 30.6 / 3600, 2), " 10:20:30");
    EXPECT_EQ(toms_text(-(89 + 59.0 / 60 + 59.7 / 3600), 0), "-90:00:00");
}

// Values too large for the 12-byte field, or not numbers, are starred out
// instead of overrunning the caller's buffer.
TEST(TomsTest, ValuesBeyondTheForm) {
    EXPECT_EQ(toms_text(99.99, 1), " 99:59:24.0");
    EXPECT_EQ(toms_text(123.5, 1), " **:**:**.*");
    EXPECT_EQ(toms_text(-1e30, 1), "-**:**:**.*");
    EXPECT_EQ(toms_text(180.25, 0), " **:**:**");
    EXPECT_EQ(toms_text(999.5, 2), "999:30:00");
    EXPECT_EQ(toms_text(1000.0, 2), "***:**:**");
    EXPECT_EQ(toms_text(NAN, 2), "***:**:**");
    toms(1.0, nullptr, 1);
}

TEST(Daub4Test, OneLevel) {
    const float c0 = 0.4829629f, c1 = 0.8365163f, c2 = 0.22414386f, c3 = -0.12940952f;
    float a[4] = {1, 2, 3, 4};
    daub4(a, 4, 1);
    // Two smooth values, two details; the second of each pair wraps round.
    EXPECT_NEAR(a[0], c0 * 1 + c1 * 2 + c2 * 3 + c3 * 4, 1e-5);
    EXPECT_NEAR(a[1], c0 * 3 + c1 * 4 + c2 * 1 + c3 * 2, 1e-5);
    EXPECT_NEAR(a[2], c3 * 1 - c2 * 2 + c1 * 3 - c0 * 4, 1e-5);
    EXPECT_NEAR(a[3], c3 * 3 - c2 * 4 + c1 * 1 - c0 * 2, 1e-5);
    daub4(a, 4, -1);
    for (int i = 0; i < 4; ++i) EXPECT_NEAR(a[i], i + 1, 1e-5);

    // Lengths outside the filter's reach leave the values alone.
    float odd[5] = {1, 2, 3, 4, 5};
    daub4(odd, 5, 1);
    daub4(odd, 2, 1);
    daub4(odd, 0, -1);
    daub4(odd, -8, 1);
    daub4(nullptr, 8, 1);
    for (int i = 0; i < 5; ++i) EXPECT_EQ(odd[i], i + 1);
}

// The filter is orthonormal: the forward transform keeps the energy and the
// inverse restores the array, for square, oblong and one-line arrays and for
// sizes that are not powers of two.
TEST(WtnTest, RoundTripKeepsEnergy) {
    const int sizes[][2] = {{64, 32}, {4, 4}, {2048, 4}, {256, 1}, {1, 128}, {12, 20}, {6, 7}};
    unsigned seed = 3;
    for (auto [n1, n2] : sizes) {
        SCOPED_TRACE(std::to_string(n1) + " x " + std::to_string(n2));
        auto a = random_array(static_cast<std::size_t>(n1) * n2, seed++);
        const auto original = a;
        wtn(a, n1, n2, 1);
        if (n1 >= 4 || n2 >= 4) {
            EXPECT_NE(a, original);
        }
        EXPECT_NEAR(energy(a) / energy(original), 1.0, 1e-5);
        wtn(a, n1, n2, -1);
        for (std::size_t i = 0; i < a.size(); ++i) ASSERT_NEAR(a[i], original[i], 2e-3) << i;
    }
}

// A constant array: the full pyramid leaves all its weight in the 2 x 2
// smooth corner, each value multiplied by sqrt(2) per level.
TEST(WtnTest, PyramidDepth) {
    const int n1 = 32, n2 = 16;
    std::vector<float> a(n1 * n2, 1.0f);
    wtn(a, n1, n2, 1);
    const float corner =
        std::sqrt(static_cast<float>(n1 / 2)) * std::sqrt(static_cast<float>(n2 / 2));
    for (int j = 0; j < n2; ++j)
        for (int i = 0; i < n1; ++i) {
            float expect = (i < 2 && j < 2) ? corner : 0.0f;
            ASSERT_NEAR(a[i + n1 * j], expect, 1e-4) << i << "," << j;
        }
}

TEST(WtnTest, BadSizesChangeNothing) {
    std::vector<float> a = {1, 2, 3, 4, 5, 6, 7, 8};
    const auto original = a;
    for (auto [n1, n2] : {std::pair{0, 8}, std::pair{8, 0}, std::pair{-4, 2}, std::pair{2, -4}}) {
        testing::internal::CaptureStdout();
        wtn(a, n1, n2, 1);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), " Bad array size for WTN\n");
    }
    wtn(a, 1, 3, 1);
    EXPECT_EQ(a, original);

    // NaN pixels spread through their lines but nothing else breaks.
    std::vector<float> b(16 * 16, 1.0f);
    b[5] = NAN;
    wtn(b, 16, 16, 1);
    wtn(b, 16, 16, -1);
    EXPECT_TRUE(std::isnan(b[5]));
    int n = 16, isign = 1;
    wtn_(nullptr, &n, &n, &isign);
}
