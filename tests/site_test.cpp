// The simulated site that every integration test stands on.
#include "temp_site.h"

#include "files.h"
#include "site.h"

#include <csignal>
#include <gtest/gtest.h>
#include <sys/stat.h>

using qor::test::TempSite;

TEST(TempSite, MakesTheAccountAndPointsTheProcessAtIt) {
    std::string root;
    {
        TempSite site;
        ASSERT_TRUE(site.ok()) << site.error();
        root = site.root();
        EXPECT_EQ(qor::site_root(), root);
        EXPECT_EQ(qor::tool_path("keyset"), site.tool("keyset"));
        // /home/tarnu and /u/tarnu are one directory.
        EXPECT_TRUE(qor::replace_file(site.path("/home/tarnu/jd.tmp"), "1381"));
        EXPECT_EQ(qor::read_file(site.path("/u/tarnu/jd.tmp")), "1381");
        for (const char* f : {"/u/tarnu/FILTER", "/u/tarnu/RUN_NUMBER", "/u/tarnu/NAME",
                              "/u/tarnu/mokel/exptime.dat", "/u/tarnu/status/netjob.log"}) {
            EXPECT_TRUE(qor::file_exists(site.path(f))) << f;
        }
        EXPECT_EQ(qor::read_file(site.path("/u/tarnu/mokel/BAUD")), "9600\n");
        EXPECT_EQ(site.key("setups.variables.obsnum.value"), "1");
        EXPECT_EQ(site.key("sim.camera.maxside"), "512");
        auto v1 = site.key("setups.qor.v1.value");
        ASSERT_TRUE(v1);
        EXPECT_EQ(v1->size(), 67u);
        EXPECT_EQ(v1->substr(56, 4), "0001"); // what the simulated telescope starts with
        // The tools are the real ones, the database commands come through PATH.
        auto shown = site.capture({site.tool("keyshow"), "ss"});
        EXPECT_EQ(shown.out, "00\n");
        site.set_key("setups.qor.pp.value", "21");
        EXPECT_EQ(site.capture({"dbshow", "setups.qor.pp.value"}).out, "21\n");
    }
    struct stat st {};
    EXPECT_NE(stat(root.c_str(), &st), 0) << "site directory left behind";
}

TEST(TempSite, EndsEveryProcessOfTheSite) {
    pid_t direct = -1;
    std::string root;
    const std::string nap = "301." + std::to_string(getpid());
    {
        TempSite site;
        ASSERT_TRUE(site.ok()) << site.error();
        root = site.root();
        direct = site.start({"sleep", "300"});
        ASSERT_GT(direct, 0);
        // A detached one, as the daemon starts newimage2; named by our pid so
        // that another test run's sleeper is never taken for ours.
        ASSERT_TRUE(qor::run_background({"sleep", nap}));
        EXPECT_TRUE(TempSite::wait_for(
            [&] {
                auto r = qor::run_capture({"pgrep", "-xf", "sleep " + nap}, 4096);
                return !r.out.empty();
            },
            std::chrono::seconds(5)));
    }
    EXPECT_NE(kill(direct, 0), 0);
    auto r = qor::run_capture({"pgrep", "-xf", "sleep " + nap}, 4096);
    EXPECT_TRUE(r.out.empty()) << "a detached process of the site is still running";
}
