// flatbuild on a fake host: flats written by cfitsio into a scratch folder
// (the image library reads them itself), the reference and the console the
// fake's.
#include "fake_system.h"
#include "flatref.h"
#include "helpers.h"

#include <cstring>
#include <gtest/gtest.h>

using qor::test::Fault;

namespace {

const std::string flatref = "/u/tarnu/flatref";

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

struct FlatReference : ::testing::Test {
    qor::test::FakeSystem sys;
    pgctest::Scratch scratch;

    void SetUp() override { unsetenv("QOR_ROOT"); }

    // A flat as the camera's FITS writer stores it: unsigned counts, BZERO 32768.
    std::string flat(const std::string& name, long nx, long ny,
                     const std::vector<std::uint16_t>& v) {
        pgctest::write_fits(scratch.path(name), nx, ny, USHORT_IMG, TUSHORT, v.data());
        return scratch.path(name);
    }
    int flatbuild(const std::string& path) { return flat::flatbuild(sys, {"flatbuild", path}); }
};

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

TEST_F(FlatReference, OfAFlatNotAMultipleOf512) {
    // 4000 x 4096: treated as 4000 x 4000, mm 8, side 4096; the first
    // 16,000,000 pixels of the file in file order are scaled, the rest is 1.
    std::vector<std::uint16_t> v(4000L * 4096);
    for (std::size_t i = 0; i < v.size(); ++i) v[i] = static_cast<std::uint16_t>(20000 + i % 1000);
    ASSERT_EQ(flatbuild(flat("dFLAT.fit", 4000, 4096, v)), 0) << sys.out;
    const auto ref = sys.content(flatref);
    ASSERT_TRUE(ref);
    ASSERT_EQ(ref->size(), 2u * 4096 * 4096 + 4);
    const auto p = pixels_of(*ref, 4096L * 4096);
    for (std::size_t i : {0UL, 4000UL, 15999999UL})
        EXPECT_EQ(p[i], (v[i] >> 1)) << i; // (v - 32768 + 32768) >> 1
    EXPECT_EQ(p[16000000], 1);
    EXPECT_EQ(p[4096L * 4096 - 1], 1);
    EXPECT_EQ(sys.out, "center ADU: " + std::to_string(level_of(*ref)) + "\n");
}

TEST_F(FlatReference, UsageAndFlatsThatCannotServeLeaveTheOldReference) {
    EXPECT_EQ(flat::flatbuild(sys, {"flatbuild"}), 0);
    EXPECT_EQ(sys.out, "\n\n\t *** output /u/tarnu/flatref (for last?.jpg) ***\n"
                       "\n\t Ex:   flatbuild in(d*FLAT*.fit)     2006,10\n\n");

    // Flats that ccdpeek would refuse for every full frame: smaller ones
    // (their reference is of another side) and a saturated one, whose level
    // lies beyond the histogram and comes out 0; and flats that cannot be
    // read whole, or at all.
    std::vector<std::uint16_t> one(1, 2000), small(1024 * 1024, 2000), full(4096L * 4096, 65535);
    const std::string cut = flat("cut.fit", 4096, 4096, std::vector<std::uint16_t>(4096L * 4096));
    std::filesystem::resize_file(cut, 5760 + 2 * 4096 * 4000);
    std::vector<float> reals(64 * 64, 1.0f);
    pgctest::write_fits(scratch.path("real.fit"), 64, 64, FLOAT_IMG, TFLOAT, reals.data());
    sys.put(flatref, "the good one");
    for (auto [bad, why] : std::vector<std::pair<std::string, std::string>>{
             {flat("one.fit", 1, 1, one), "could never serve a full frame"},
             {flat("small.fit", 1024, 1024, small), "could never serve a full frame"},
             {flat("full.fit", 4096, 4096, full),
              "the centre level of " + scratch.path("full.fit") +
                  " is 0.000000, no frame can be divided by it"},
             {cut, "rows"},
             {scratch.path("none.fit"), "cannot open"},
             {scratch.path("real.fit"), "BITPIX"}}) {
        sys.out.clear();
        EXPECT_EQ(flatbuild(bad), 1) << bad;
        EXPECT_NE(sys.out.find(why), std::string::npos) << sys.out;
        EXPECT_EQ(sys.out.substr(0, 11), "flatbuild: ") << sys.out;
        const std::string kept = "; /u/tarnu/flatref left as it was\n";
        EXPECT_EQ(sys.out.substr(sys.out.size() - kept.size()), kept);
    }
    EXPECT_EQ(sys.file(flatref), "the good one");
    for (const auto& entry : sys.file_log) EXPECT_EQ(entry.find(flatref), std::string::npos);
}

TEST_F(FlatReference, AReferenceThatCannotBeWrittenSaysWhyAndLeavesTheOldOne) {
    // How each step of a replacement fails is the seam's to prove; here the
    // reason reaches the message and the old reference stays.
    const std::string path =
        flat("dFLAT.fit", 4096, 4096, std::vector<std::uint16_t>(4096L * 4096, 2000));
    sys.put(flatref, "the good one");
    sys.fail("rename", flatref, Fault::io_error, 1);
    EXPECT_EQ(flatbuild(path), 1);
    EXPECT_EQ(sys.out, "flatbuild: cannot write /u/tarnu/flatref: Input/output error"
                       "; /u/tarnu/flatref left as it was\n");
    EXPECT_EQ(sys.file(flatref), "the good one");
    sys.out.clear();
    EXPECT_EQ(flatbuild(path), 0);
    EXPECT_EQ(sys.out, "center ADU: 2000.000000\n");
    EXPECT_EQ(level_of(sys.file(flatref)), 2000.0f);
}
