// One frame as the batch driver and the daemon take it, against the
// simulated camera: read the number, start fff, wait for the frame file,
// run newimage0; the number has moved on for the next frame.
#include "temp_site.h"

#include "files.h"

#include <chrono>
#include <filesystem>
#include <gtest/gtest.h>

using qor::test::TempSite;
using namespace std::chrono_literals;

TEST(ExposureCycle, FrameIsNamedByTheNumberReadBeforeTheStart) {
    TempSite site;
    ASSERT_TRUE(site.ok()) << site.error();
    site.set_key("setups.variables.obsnum.value", "7");

    auto n = site.capture({site.tool("varshow"), "variables", "obsnum"}, 80);
    ASSERT_EQ(n.out, "7\n");
    qor::replace_file(site.tool("fff.dat"), "50\n0\n0\n512\n512\n0\nSlow\nM42\n");
    const std::string frame = site.path("/data/d7.ccd");
    ASSERT_EQ(site.run({site.tool("fff")}), 0);
    // While the exposure runs the daemon reads the same number.
    EXPECT_EQ(site.capture({site.tool("varshow"), "variables", "obsnum"}, 80).out, "7\n");
    EXPECT_FALSE(qor::file_exists(frame));
    ASSERT_TRUE(TempSite::wait_for([&] { return qor::file_exists(frame); }, 10s));
    EXPECT_EQ(site.run({site.tool("newimage0")}), 0);
    EXPECT_EQ(site.log_lines("newimage0"), std::vector<std::string>{"newimage0"});
    EXPECT_EQ(site.capture({site.tool("varshow"), "variables", "obsnum"}, 80).out, "8\n");
    // The daemon's job file reads the set-up through varshow.
    EXPECT_EQ(site.capture({site.tool("varshow"), "exposure", "0"}, 80).out, "50\n");
    EXPECT_EQ(site.capture({site.tool("varshow"), "object", "0"}, 80).out, "M42\n");
}

TEST(ExposureCycle, TheQuickLookReadsTheSimulatedFrame) {
    TempSite site;
    ASSERT_TRUE(site.ok()) << site.error();
    if (!qor::file_exists(site.tool("ccdpeek"))) GTEST_SKIP() << "ccdpeek is not built";
    qor::replace_file(site.tool("fff.dat"), "0\n0\n0\n512\n512\n0\nSlow\nM42\n");
    ASSERT_EQ(site.run({site.tool("fff")}), 0);
    const std::string frame = site.path("/data/d1.ccd");
    ASSERT_TRUE(TempSite::wait_for([&] { return qor::file_exists(frame); }, 10s));

    auto dir = std::filesystem::path(site.root()) / "u/tarnu/mokel";
    auto cwd = std::filesystem::current_path();
    std::filesystem::current_path(dir);
    site.run({site.tool("ccdpeek"), frame});
    std::filesystem::current_path(cwd);
    auto text = qor::read_file(site.path("/u/tarnu/status/lastimage.txt"));
    ASSERT_TRUE(text);
    EXPECT_EQ(text->substr(0, frame.size() + 1), frame + "\n");
    EXPECT_NE(text->find("NAXIS1  =                  576"), std::string::npos);
    EXPECT_TRUE(qor::file_exists((dir / "last2.gif").string()));
}
