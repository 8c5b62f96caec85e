// The installed ccdpeek and fitpeek in a simulated site, on frames written
// here (raw) and by cfitsio (FITS): their previews read back with
// ImageMagick, their JPEG copies made by the real convert.
#include "helpers.h"
#include "raw_frame.h"
#include "temp_site.h"
#include "text.h"

#include "files.h"

#include <cstring>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <optional>

using peektest::raw_frame;
using peektest::sky;
using qor::lines_of;
using qor::test::TempSite;
namespace fs = std::filesystem;

namespace {

class Peek : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(site.ok()) << site.error();
        old_cwd = fs::current_path();
        fs::create_directory(site.path("/work"));
        fs::current_path(site.path("/work")); // the GIFs land here
    }
    void TearDown() override { fs::current_path(old_cwd); }

    qor::Captured peek(const std::string& program, const std::string& frame) {
        return site.capture({site.tool(program), frame});
    }
    std::string status(const std::string& name) const {
        return site.path("/u/tarnu/status/" + name);
    }
    // A grey preview as ImageMagick decodes it.
    std::string decoded(const std::string& gif, std::size_t side) {
        return site.capture({"/usr/bin/convert", gif, "-depth", "8", "gray:-"}, side * side + 1)
            .out;
    }

    TempSite site;
    fs::path old_cwd;
};

} // namespace

TEST_F(Peek, FramesCutShortOrWithoutBzeroStillGetPreviews) {
    const std::string f = site.path("/data/d2.ccd");
    qor::replace_file(f, raw_frame(512, sky).substr(0, 5760 + 2 * 576 * 100 + 7));
    auto r = peek("ccdpeek", f);
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("frame ends after 100 of 512 rows"), std::string::npos) << r.out;
    const std::string shown = decoded("last2.gif", 512);
    ASSERT_EQ(shown.size(), 512u * 512);
    // The sky (turned by 180 degrees: the frame's first rows at the bottom).
    EXPECT_NEAR(static_cast<unsigned char>(shown[511 * 512 + 100]), 125, 30);
    EXPECT_EQ(static_cast<unsigned char>(shown[0]), 0);

    std::vector<short> v(512 * 512);
    for (std::size_t i = 0; i < v.size(); ++i) v[i] = static_cast<short>(sky(i / 512, i % 512));
    pgctest::write_fits(site.path("/data/nobzero.fit"), 512, 512, SHORT_IMG, TSHORT, v.data());
    r = peek("fitpeek", site.path("/data/nobzero.fit"));
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("no BZERO card, 0 used"), std::string::npos) << r.out;
    EXPECT_TRUE(qor::file_exists(status("last1.jpg")));
}

TEST_F(Peek, FullFramesAreDividedByTheFlatOfTheFilterInTheBeam) {
    // Filter 3 in the beam, which the table calls R: flatR is used.
    qor::replace_file(site.tool("exp.dat"), "30\nfilt: 3\n");
    qor::replace_file(site.path("/u/tarnu/FILTER"), "B 1\nV 2\nR 3\n");
    // A flat whose response falls from the first row to the last, and a
    // frame of uniform sky seen through it: divided, the sky is uniform, and
    // once the halves are levelled (the left one reads 5 % higher) uniform
    // across the detector.
    auto response = [](int r) { return 1.5 - r / 4096.0; };
    std::string flat(2L * 4096 * 4096 + 4, '\0');
    for (long i = 0; i < 4096L * 4096; ++i) {
        const auto p = static_cast<short>(8000 * response(static_cast<int>(i / 4096)));
        std::memcpy(flat.data() + 2 * i, &p, 2);
    }
    const float level = 2 * 8000 * 1.0f; // the strips' mean response is 1
    std::memcpy(flat.data() + flat.size() - 4, &level, 4);
    qor::replace_file(site.path("/u/tarnu/flatR"), flat);
    qor::replace_file(site.path("/data/d5.ccd"), raw_frame(4096, [&](int r, int c) {
                          return static_cast<int>((c < 2048 ? 4200 : 4000) * response(r)) +
                                 (c + r) % 3;
                      }));
    auto r = peek("ccdpeek", site.path("/data/d5.ccd"));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "last?.jpg:  using flatR\n");
    const std::string shown = decoded("last2.gif", 512);
    ASSERT_EQ(shown.size(), 512u * 512);
    for (std::size_t at : {0UL, 256UL * 512, 511UL * 512 + 511, 200UL * 512 + 300})
        EXPECT_NEAR(static_cast<unsigned char>(shown[at]), 125, 10) << at;
    EXPECT_GT(fs::file_size(status("last2.jpg")), 1000u);
    EXPECT_EQ(lines_of(*qor::read_file(status("lastimage.txt")))[5].substr(0, 30),
              "NAXIS1  =                 4160");

    // A 2048 frame is not flat-fielded: no flat is named. Read out from
    // detector column 1024, its right half lies on the detector's right half
    // and loses that half's bias.
    qor::replace_file(site.path("/data/d6.ccd"), raw_frame(2048, sky, {}, {}, 1024));
    r = peek("ccdpeek", site.path("/data/d6.ccd"));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "");
    const std::string window = decoded("last2.gif", 512);
    ASSERT_EQ(window.size(), 512u * 512);
    for (std::size_t at : {256UL * 512 + 10, 256UL * 512 + 500})
        EXPECT_NEAR(static_cast<unsigned char>(window[at]), 125, 40) << at;
}
