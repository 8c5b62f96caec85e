// The installed tools against the simulated camera database: what the fake
// host cannot show (dbshow printing straight to our output, no shell between
// a value and the database, the real clock read in local time).
#include "temp_site.h"

#include "files.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>

using qor::test::TempSite;

namespace {

class Tools : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(site.ok()) << site.error(); }

    TempSite site;
};

} // namespace

TEST_F(Tools, AValueIsOneLiteralWordAndNeverACommand) {
    const std::string hostile = "21:05:07_$(touch_x);rm_-rf_y|z";
    auto dir = std::filesystem::path(site.root()) / "work";
    std::filesystem::create_directory(dir);
    qor::replace_file((dir / "y").string(), "keep");
    auto cwd = std::filesystem::current_path();
    std::filesystem::current_path(dir);
    int status = site.run({site.tool("keyset"), "p1", hostile});
    auto shown = site.capture({site.tool("keyshow"), "p1"});
    std::filesystem::current_path(cwd);

    EXPECT_EQ(status, 0);
    EXPECT_EQ(site.key("setups.qor.p1.value"), hostile);
    EXPECT_EQ(shown.out, hostile + "\n");
    EXPECT_FALSE(std::filesystem::exists(dir / "x"));
    EXPECT_TRUE(std::filesystem::exists(dir / "y"));
}

TEST_F(Tools, ShowToolsPrintTheValueAndPassOnTheStatus) {
    site.set_key("setups.qor.v1.value", "19:44:56.0_abc");
    auto k = site.capture({site.tool("keyshow"), "v1"});
    EXPECT_EQ(k.out, "19:44:56.0_abc\n");
    EXPECT_EQ(k.status, 0);
    auto v = site.capture({site.tool("varshow"), "qor", "v1"});
    EXPECT_EQ(v.out, k.out);
    EXPECT_EQ(site.capture({site.tool("varshow"), "variables", "obsnum"}).out, "1\n");

    auto missing = site.capture({site.tool("keyshow"), "nokey"});
    EXPECT_EQ(missing.out, "");
    EXPECT_NE(missing.status, 0);

    auto t = site.capture({site.tool("ccdtemp")});
    EXPECT_EQ(t.out, "-110.7\n");
    EXPECT_EQ(t.status, 0);

    auto times = site.capture({site.tool("exptimes")});
    EXPECT_EQ(times.status, 0);
    EXPECT_EQ(std::count(times.out.begin(), times.out.end(), '\n'), 24);
    EXPECT_EQ(times.out.substr(0, 22), *site.key("imageid.exposures.0.exp_begin") + "\n");
}

TEST_F(Tools, JdstampWritesFourDigitsWithoutLineEnd) {
    const char* tz = std::getenv("TZ");
    std::string old_tz = tz ? tz : "";
    setenv("TZ", "UTC", 1);
    // The clock stands still (-f), so a slow start cannot move the second.
    // faketime preloads its library; a sanitizer build must let it go first.
    const char* asan = std::getenv("ASAN_OPTIONS");
    std::string old_asan = asan ? asan : "";
    setenv("ASAN_OPTIONS", (old_asan + ":verify_asan_link_order=0").c_str(), 1);
    auto r = site.capture({"faketime", "-f", "2026-12-06 19:00:00", site.tool("jdstamp")});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "Sun Dec  6 19:00:00 2026\n");
    EXPECT_EQ(qor::read_file(site.path("/home/tarnu/jd.tmp")), "1381");
    if (tz) {
        setenv("TZ", old_tz.c_str(), 1);
    } else {
        unsetenv("TZ");
    }
    if (asan) {
        setenv("ASAN_OPTIONS", old_asan.c_str(), 1);
    } else {
        unsetenv("ASAN_OPTIONS");
    }
}

TEST_F(Tools, ExpstartReadsTheSitesStatusAndWithoutExptimeDatSetsNothing) {
    ASSERT_TRUE(site.log_calls_to(site.root() + "/bin/dbset"));
    // The camera idle: no wait.
    qor::replace_file(site.path("/u/tarnu/status/telescope.txt"),
                      "19:44:56.0\n19:44:56.0\n05:35:17.3\n-05:23:28.0\n0:00:00.0\n"
                      "0000 00 0003\n0000000\n-110.00\n"
                      "2026-12-08T19:44:56.0 2026-12-08T19:45:26.0 2026-12-08T19:45:30.1\n");
    std::filesystem::remove(site.tool("exptime.dat"));
    auto r = site.capture({site.tool("expstart")});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "\n\texptime.dat not found!\n");
    EXPECT_TRUE(site.log_lines("dbset").empty());
}
