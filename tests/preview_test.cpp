// Every frame the simulated camera writes gets its previews through
// newimage2, as the daemon starts it when an exposure has ended, and its
// FITS copy with a small preview kept for the night report.
#include "temp_site.h"

#include "files.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <gtest/gtest.h>

using qor::test::TempSite;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

TEST(Previews, EachFrameOfTheCameraThroughNewimage2) {
    TempSite site(qor::test::SiteOptions{.frame_side = 1024, .readout_seconds = 0});
    ASSERT_TRUE(site.ok()) << site.error();
    const fs::path work = fs::path(site.root()) / "work", old = fs::current_path();
    fs::create_directory(work);
    fs::current_path(work); // where newimage2 runs, the GIFs land
    const std::string status = site.path("/u/tarnu/status/");
    for (const char* side : {"1024", "512"}) {
        const std::string obsnum = *site.key("setups.variables.obsnum.value");
        const std::string frame = site.path("/data/d" + obsnum + ".ccd");
        qor::replace_file(site.tool("fff.dat"),
                          std::string("0\n0\n0\n") + side + "\n" + side + "\n0\nSlow\nM42\n");
        ASSERT_EQ(site.run({site.tool("fff")}), 0);
        ASSERT_TRUE(TempSite::wait_for([&] { return qor::file_exists(frame); }, 20s)) << frame;
        for (const char* f : {"last1.jpg", "last2.jpg", "lastimage.txt"}) fs::remove(status + f);

        EXPECT_EQ(site.run({site.tool("newimage2"), obsnum}), 0);
        const auto text = qor::read_file(status + "lastimage.txt");
        ASSERT_TRUE(text) << side;
        EXPECT_EQ(text->substr(0, frame.size() + 1), frame + "\n");
        char naxis2[32];
        std::snprintf(naxis2, sizeof naxis2, "NAXIS2  = %20s", side);
        EXPECT_NE(text->find(naxis2), std::string::npos) << *text;
        for (const char* f : {"last1.jpg", "last2.jpg"}) {
            const auto jpg = qor::read_file(status + f);
            ASSERT_TRUE(jpg) << f;
            EXPECT_EQ(jpg->substr(0, 3), "\xFF\xD8\xFF") << f; // a JPEG's start of image
        }
        EXPECT_EQ(qor::read_file((work / "last1.gif").string())->substr(0, 6), "GIF87a");
        // Kept for the night report: a small preview of this frame, and its FITS copy.
        EXPECT_EQ(qor::read_file(site.path("/data/fits/d" + obsnum + ".jpg")),
                  qor::read_file(status + "last1.jpg"));
        EXPECT_EQ(qor::read_file(site.path("/data/fits/d" + obsnum + ".fits")).value_or("").substr(0, 9),
                  "SIMPLE  =");
    }
    fs::current_path(old);
}
