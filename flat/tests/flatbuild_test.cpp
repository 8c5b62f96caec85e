// The flat-field reference from flat frames written by cfitsio.
#include "flatref.h"
#include "helpers.h"
#include "temp_site.h"

#include "files.h"

#include <cstring>
#include <gtest/gtest.h>
#include <random>

using qor::test::TempSite;

namespace {

// A flat as the camera's FITS writer stores it: unsigned counts, BZERO 32768.
std::string write_flat(const TempSite& site, long nx, long ny,
                       const std::vector<std::uint16_t>& v) {
    const std::string path = site.path("/data/dFLAT.fit");
    pgctest::write_fits(path, nx, ny, USHORT_IMG, TUSHORT, v.data());
    return path;
}

std::vector<short> pixels_of(const std::string& ref, std::size_t n) {
    std::vector<short> p(n);
    std::memcpy(p.data(), ref.data(), 2 * n);
    return p;
}

float level_of(const std::string& ref) {
    float f = 0;
    std::memcpy(&f, ref.data() + ref.size() - 4, 4);
    return f;
}

} // namespace

TEST(Flatbuild, ScalingKeepsEveryPixelPositive) {
    // (z + p) >> 1 with z the integer part of BZERO; 0 and below become 1.
    std::vector<short> v = {-32768, -32767, -32766, 0, 32767, -1};
    flat::de_f64(v.data(), 32768.9, 6, 1);
    EXPECT_EQ(v, (std::vector<short>{1, 1, 1, 16384, 32767, 16383}));
    std::vector<short> w = {10, -10};
    flat::de_f64(w.data(), -0.7, 2, 1); // the fraction goes toward zero: z = 0
    EXPECT_EQ(w, (std::vector<short>{5, 1}));

    // The strips just left and right of the centre column of a 4096 flat:
    // the sum of their levels, whatever lies around them.
    std::vector<short> flat(4096L * 4096, 9);
    for (long r = 1536; r < 2560; ++r) {
        std::fill_n(flat.begin() + r * 4096 + 1792, 256, short{1500});
        std::fill_n(flat.begin() + r * 4096 + 2048, 256, short{1700});
    }
    EXPECT_EQ(flat::bal(flat.data(), 4096), 3200);
    std::fill(flat.begin(), flat.end(), short{3000}); // equal strips: twice the level
    EXPECT_EQ(flat::bal(flat.data(), 1024), 6000);
}

TEST(Flatbuild, ReferenceOfAFlatNotAMultipleOf512) {
    TempSite site;
    ASSERT_TRUE(site.ok()) << site.error();
    // 4000 x 4096: treated as 4000 x 4000, mm 8, side 4096; the first
    // 16,000,000 pixels of the file in file order are scaled, the rest is 1.
    std::vector<std::uint16_t> v(4000L * 4096);
    for (std::size_t i = 0; i < v.size(); ++i) v[i] = static_cast<std::uint16_t>(20000 + i % 1000);
    const std::string flat = write_flat(site, 4000, 4096, v);
    auto r = site.capture({site.tool("flatbuild"), flat});
    ASSERT_EQ(r.status, 0) << r.out;
    const auto ref = qor::read_file(site.path("/u/tarnu/flatref"));
    ASSERT_TRUE(ref);
    ASSERT_EQ(ref->size(), 2u * 4096 * 4096 + 4);
    const auto p = pixels_of(*ref, 4096L * 4096);
    for (std::size_t i : {0UL, 4000UL, 15999999UL})
        EXPECT_EQ(p[i], (v[i] >> 1)) << i; // (v - 32768 + 32768) >> 1
    EXPECT_EQ(p[16000000], 1);
    EXPECT_EQ(p[4096L * 4096 - 1], 1);
    EXPECT_EQ(r.out, "center ADU: " + std::to_string(level_of(*ref)) + "\n");
}

TEST(Flatbuild, UsageAndFlatsThatCannotServeLeaveTheOldReference) {
    TempSite site;
    ASSERT_TRUE(site.ok()) << site.error();
    auto usage = site.capture({site.tool("flatbuild")});
    EXPECT_EQ(usage.status, 0);
    EXPECT_EQ(usage.out, "\n\n\t *** output /u/tarnu/flatref (for last?.jpg) ***\n"
                         "\n\t Ex:   flatbuild in(d*FLAT*.fit)     2006,10\n\n");

    // A full flat of background 2000 counts with a dark corner: centre 2000.
    std::vector<std::uint16_t> v(4096L * 4096, 2000);
    std::fill_n(v.begin(), 100, 0);
    const std::string flat = write_flat(site, 4096, 4096, v);
    ASSERT_EQ(site.run({site.tool("flatbuild"), flat}), 0);
    const auto good = qor::read_file(site.path("/u/tarnu/flatref"));
    ASSERT_TRUE(good);
    EXPECT_EQ(level_of(*good), 2000.0f);
    EXPECT_EQ(pixels_of(*good, 1)[0], 1);

    // Flats that ccdpeek would refuse for every full frame: smaller ones
    // (their reference is of another side) and a saturated one, whose level
    // lies beyond the histogram and comes out 0.
    std::vector<std::uint16_t> one(1, 2000), small(1024 * 1024, 2000), full(4096L * 4096, 65535);
    pgctest::write_fits(site.path("/data/one.fit"), 1, 1, USHORT_IMG, TUSHORT, one.data());
    pgctest::write_fits(site.path("/data/small.fit"), 1024, 1024, USHORT_IMG, TUSHORT,
                        small.data());
    pgctest::write_fits(site.path("/data/full.fit"), 4096, 4096, USHORT_IMG, TUSHORT, full.data());
    std::filesystem::resize_file(flat, 5760 + 2 * 4096 * 4000);
    std::vector<float> reals(64 * 64, 1.0f);
    pgctest::write_fits(site.path("/data/real.fit"), 64, 64, FLOAT_IMG, TFLOAT, reals.data());
    for (auto [bad, why] : std::vector<std::pair<std::string, std::string>>{
             {site.path("/data/one.fit"), "could never serve a full frame"},
             {site.path("/data/small.fit"), "could never serve a full frame"},
             {site.path("/data/full.fit"), "no frame can be divided by it"},
             {flat, "rows"},
             {site.path("/data/none.fit"), "cannot open"},
             {site.path("/data/real.fit"), "BITPIX"}}) {
        auto r = site.capture({site.tool("flatbuild"), bad});
        EXPECT_EQ(r.status, 1) << bad;
        EXPECT_NE(r.out.find(why), std::string::npos) << r.out;
        EXPECT_NE(r.out.find("/u/tarnu/flatref left as it was"), std::string::npos) << r.out;
        EXPECT_TRUE(qor::read_file(site.path("/u/tarnu/flatref")) == good) << bad;
    }
}
