// The key and status tools run against the simulated camera database.
#include "temp_site.h"

#include "files.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <thread>

using qor::test::TempSite;
using namespace std::chrono_literals;

namespace {

class Tools : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(site.ok()) << site.error(); }

    void log_instead_of(const std::string& installed_path) {
        ASSERT_TRUE(site.log_calls_to(installed_path));
    }

    TempSite site;
};

} // namespace

TEST_F(Tools, KeysetChecksTheFirstTwoCharactersAndStoresUnderTheWholeName) {
    auto r = site.capture({site.tool("keyset"), "ss0", "5"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(site.key("setups.qor.ss0.value"), "5");

    for (const char* k : {"vv", "v1", "pp", "p0", "p1", "p2", "p3", "ss", "s0", "s1", "s2", "s3"}) {
        EXPECT_EQ(site.run({site.tool("keyset"), k, "x1"}), 0) << k;
        EXPECT_EQ(site.key(std::string("setups.qor.") + k + ".value"), "x1") << k;
    }
}

TEST_F(Tools, KeysetRefusesAnUnknownNameAndRunsNothing) {
    log_instead_of(site.root() + "/bin/dbset");
    for (const char* k : {"xx", "v", "sx", "P1"}) {
        auto r = site.capture({site.tool("keyset"), k, "1"});
        EXPECT_EQ(r.status, 1) << k;
        EXPECT_EQ(r.out, "error name\n") << k;
    }
    EXPECT_TRUE(site.log_lines("dbset").empty());
}

TEST_F(Tools, UsageTextsWhenArgumentsAreMissing) {
    log_instead_of(site.root() + "/bin/dbset");
    log_instead_of(site.root() + "/bin/dbshow");
    const std::string keyset_usage = "\n\t****** Usage: keyset v1 1234_5678\n\n";
    for (const qor::Argv& argv :
         {qor::Argv{site.tool("keyset")}, qor::Argv{site.tool("keyset"), "v1"},
          qor::Argv{site.tool("keyset"), "xx"}}) {
        auto r = site.capture(argv);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out, keyset_usage);
    }
    auto ks = site.capture({site.tool("keyshow")});
    EXPECT_EQ(ks.status, 0);
    EXPECT_EQ(ks.out, "\n\t****** Usage: keyshow v1\n\n");
    for (const qor::Argv& argv :
         {qor::Argv{site.tool("varshow")}, qor::Argv{site.tool("varshow"), "variables"}}) {
        auto r = site.capture(argv);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out, "\n\t**** Usage: varshow variables obsnum\n\n");
    }
    EXPECT_TRUE(site.log_lines("dbset").empty());
    EXPECT_TRUE(site.log_lines("dbshow").empty());
}

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

    // The command line splits at blanks: a blank cannot be stored, '_' stands for it.
    log_instead_of(site.root() + "/bin/dbset");
    site.run({site.tool("keyset"), "v1", "1234 5678"});
    site.run({site.tool("keyset"), "v1", "1234_5678"});
    auto lines = site.log_lines("dbset");
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "dbset setups.qor.v1.value 1234 5678"); // three words
    EXPECT_EQ(lines[1], "dbset setups.qor.v1.value 1234_5678");
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
}

TEST_F(Tools, ExptimesAsksForThreeStampsOfEachOfTheLastEightExposures) {
    auto real = site.capture({site.tool("exptimes")});
    EXPECT_EQ(real.status, 0);
    EXPECT_EQ(std::count(real.out.begin(), real.out.end(), '\n'), 24);
    EXPECT_EQ(real.out.substr(0, 22), *site.key("imageid.exposures.0.exp_begin") + "\n");

    log_instead_of(site.root() + "/bin/dbshow");
    site.run({site.tool("exptimes")});
    auto lines = site.log_lines("dbshow");
    ASSERT_EQ(lines.size(), 24u);
    EXPECT_EQ(lines[0], "dbshow imageid.exposures.0.exp_begin");
    EXPECT_EQ(lines[1], "dbshow imageid.exposures.0.exp_end");
    EXPECT_EQ(lines[2], "dbshow imageid.exposures.0.ro_end");
    EXPECT_EQ(lines[23], "dbshow imageid.exposures.7.ro_end");
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

    site.run({"faketime", "-f", "1995-11-20 12:00:00", site.tool("jdstamp")});
    EXPECT_EQ(qor::read_file(site.path("/u/tarnu/jd.tmp")), "0042");
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

TEST_F(Tools, Newimage2RunsTheQuickLookOnTheFrameAfterThreeSeconds) {
    log_instead_of(site.tool("ccdpeek"));
    auto usage = site.capture({site.tool("newimage2")});
    EXPECT_EQ(usage.out, "\tUsage newimage2 obsnum\n");
    EXPECT_EQ(usage.status, 0);

    for (const char* bad : {"12x", "", "1;touch", "../../etc/passwd", "99999999999"}) {
        auto r = site.capture({site.tool("newimage2"), bad});
        EXPECT_NE(r.status, 0) << bad;
        EXPECT_NE(r.out.find("not an observation number"), std::string::npos) << bad;
    }
    EXPECT_TRUE(site.log_lines("ccdpeek").empty());

    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(site.run({site.tool("newimage2"), "123"}), 0);
    EXPECT_GE(std::chrono::steady_clock::now() - start, 3s);
    auto lines = site.log_lines("ccdpeek");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], "ccdpeek " + site.path("/data/d123.ccd"));
}

namespace {

// Last lines of the daemon's telescope.txt in the camera's three phases:
// exposing (seconds left), reading out (seconds so far), idle (three stamps).
const std::string exposing = "2026-12-08T19:44:56.0      25";
const std::string reading = "2026-12-08T19:44:56.0 2026-12-08T19:45:26.0       3";
const std::string idle = "2026-12-08T19:44:56.0 2026-12-08T19:45:26.0 2026-12-08T19:45:30.1";

void write_status(const TempSite& site, const std::string& last) {
    qor::replace_file(site.path("/u/tarnu/status/telescope.txt"),
                      "19:44:56.0\n19:44:56.0\n05:35:17.3\n-05:23:28.0\n0:00:00.0\n"
                      "0000 00 0003\n0000000\n-110.00\n" +
                          last + "\n");
}

} // namespace

TEST_F(Tools, ExpstartWaitsForTheIdleCameraThenStartsTheExposure) {
    log_instead_of(site.root() + "/bin/dbset");
    qor::replace_file(site.tool("exptime.dat"), "2500\nignored\n");
    write_status(site, exposing);
    std::string out = site.root() + "/expstart.out";
    pid_t pid = site.start({site.tool("expstart")}, out);
    ASSERT_GT(pid, 0);

    std::this_thread::sleep_for(1s);
    write_status(site, reading); // blank at index 45: still waiting
    std::this_thread::sleep_for(4500ms);
    EXPECT_TRUE(site.log_lines("dbset").empty());
    write_status(site, idle);

    int status = -1;
    EXPECT_TRUE(TempSite::wait_for([&] { return waitpid(pid, &status, WNOHANG) == pid; }, 7s));
    EXPECT_EQ(status, 0);
    auto lines = site.log_lines("dbset");
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0], "dbset setups.exposure.current.value 2500");
    EXPECT_EQ(lines[1], "dbset setups.record.current.value Yes");
    EXPECT_EQ(lines[2], "dbset setups.flags.windowset.value 1");
    EXPECT_EQ(lines[3], "dbset setups.flags.start.value 1");
    EXPECT_EQ(qor::read_file(out), "");
}

TEST_F(Tools, ExpstartWithoutExptimeDatSetsNothing) {
    log_instead_of(site.root() + "/bin/dbset");
    write_status(site, idle);
    std::filesystem::remove(site.tool("exptime.dat"));
    auto r = site.capture({site.tool("expstart")});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "\n\texptime.dat not found!\n");
    EXPECT_TRUE(site.log_lines("dbset").empty());
}
