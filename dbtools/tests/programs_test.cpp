// The tools on a fake host: the programs they run, the files they read and
// write, and their waits, on a clock that moves only when they sleep.
#include "fake_system.h"
#include "site.h"
#include "tools.h"

#include <ctime>
#include <gtest/gtest.h>

using qor::Argv;
using qor::test::Fault;

namespace {

double utc(int year, int month, int day, int h, int m, int s) {
    std::tm tm{};
    tm.tm_year = year - 1900, tm.tm_mon = month - 1, tm.tm_mday = day;
    tm.tm_hour = h, tm.tm_min = m, tm.tm_sec = s;
    return static_cast<double>(timegm(&tm));
}

struct Programs : ::testing::Test {
    qor::test::FakeSystem sys; // files in memory, at the site's real paths

    void SetUp() override {
        unsetenv("QOR_ROOT");
        setenv("TZ", "UTC0", 1);
        tzset();
    }
};

} // namespace

TEST_F(Programs, KeysetChecksTheFirstTwoCharactersAndSetsTheWholeName) {
    for (const char* k :
         {"vv", "p3", "ss0"}) {
        sys.runs.clear();
        EXPECT_EQ(qdb::keyset(sys, {"keyset", k, "x1"}), 0) << k;
        EXPECT_EQ(sys.runs,
                  (std::vector<Argv>{{"dbset", std::string("setups.qor.") + k + ".value", "x1"}}))
            << k;
    }
    EXPECT_EQ(sys.out, "");

    sys.runs.clear();
    for (const char* k : {"xx", "P1", ""}) {
        sys.out.clear();
        EXPECT_EQ(qdb::keyset(sys, {"keyset", k, "1"}), 1) << k;
        EXPECT_EQ(sys.out, "error name\n") << k;
    }
    EXPECT_TRUE(sys.runs.empty());
}

TEST_F(Programs, UsageTextsWhenArgumentsAreMissing) {
    struct Case {
        int (*program)(qor::System&, const qdb::Args&);
        qdb::Args args;
        std::string usage;
    };
    const std::string keyset_usage = "\n\t****** Usage: keyset v1 1234_5678\n\n";
    const std::string varshow_usage = "\n\t**** Usage: varshow variables obsnum\n\n";
    const std::vector<Case> cases{
        {qdb::keyset, {"keyset"}, keyset_usage},
        {qdb::keyshow, {"keyshow"}, "\n\t****** Usage: keyshow v1\n\n"},
        {qdb::varshow, {"varshow", "variables"}, varshow_usage},
        {qdb::newimage2, {"newimage2"}, "\tUsage newimage2 obsnum\n"},
    };
    for (const auto& c : cases) {
        sys.out.clear();
        EXPECT_EQ(c.program(sys, c.args), 0) << c.args.size();
        EXPECT_EQ(sys.out, c.usage);
    }
    EXPECT_TRUE(sys.runs.empty());
    EXPECT_TRUE(sys.sleeps.empty());
}

TEST_F(Programs, ValuesAndKeysAreSplitAsTheCommandLineWouldBe) {
    // A blank cannot be stored: the value becomes two words ('_' stands for it).
    qdb::keyset(sys, {"keyset", "v1", "1234 5678"});
    qdb::keyset(sys, {"keyset", "v1", "1234_5678"});
    sys.programs["dbshow"] = [](const Argv&) { return qor::Captured{"", 3}; };
    EXPECT_EQ(qdb::keyshow(sys, {"keyshow", "v1"}), 3);
    EXPECT_EQ(qdb::varshow(sys, {"varshow", "variables", "obsnum"}), 3);
    EXPECT_EQ(sys.runs, (std::vector<Argv>{
                            {"dbset", "setups.qor.v1.value", "1234", "5678"},
                            {"dbset", "setups.qor.v1.value", "1234_5678"},
                            {"dbshow", "setups.qor.v1.value"},
                            {"dbshow", "setups.variables.obsnum.value"},
                        }));
}

TEST_F(Programs, ExptimesAndCcdtempPassOnTheLastStatusOfDbshow) {
    sys.programs["dbshow"] = [](const Argv& a) {
        const std::string& key = a[1];
        return qor::Captured{"", key == "imageid.exposures.3.exp_end"  ? 4
                                 : key == "imageid.exposures.7.ro_end" ? 1
                                                                       : 0};
    };
    EXPECT_EQ(qdb::exptimes(sys, {"exptimes"}), 1); // ro_end of exposure 7
    ASSERT_EQ(sys.runs.size(), 24u);
    EXPECT_EQ(sys.runs[0], (Argv{"dbshow", "imageid.exposures.0.exp_begin"}));
    EXPECT_EQ(sys.runs[1], (Argv{"dbshow", "imageid.exposures.0.exp_end"}));
    EXPECT_EQ(sys.runs[2], (Argv{"dbshow", "imageid.exposures.0.ro_end"}));
    EXPECT_EQ(sys.runs[23], (Argv{"dbshow", "imageid.exposures.7.ro_end"}));

    sys.runs.clear();
    sys.programs["dbshow"] = [](const Argv&) { return qor::Captured{"", 6}; };
    EXPECT_EQ(qdb::ccdtemp(sys, {"ccdtemp"}), 6);
    EXPECT_EQ(sys.runs, (std::vector<Argv>{{"dbshow", "cameradata.temperature.current.detector"}}));
}

TEST_F(Programs, JdstampWritesTheNightsNumberAndSaysWhyItCouldNot) {
    sys.t = utc(2026, 12, 6, 19, 0, 0);
    EXPECT_EQ(qdb::jdstamp(sys, {"jdstamp"}), 0);
    EXPECT_EQ(sys.out, "Sun Dec  6 19:00:00 2026\n");
    EXPECT_EQ(sys.file("/home/tarnu/jd.tmp"), "1381"); // no line end

    sys.t = utc(1995, 11, 20, 12, 0, 0);
    qdb::jdstamp(sys, {"jdstamp"});
    EXPECT_EQ(sys.file("/home/tarnu/jd.tmp"), "0042");

    sys.out.clear();
    sys.t = utc(2026, 12, 7, 12, 0, 0);
    sys.fail("write", "/home/tarnu/jd.tmp", Fault::no_space);
    EXPECT_EQ(qdb::jdstamp(sys, {"jdstamp"}), 1);
    EXPECT_EQ(sys.out, "Mon Dec  7 12:00:00 2026\n"
                       "cannot write /home/tarnu/jd.tmp: No space left on device\n");
    EXPECT_EQ(sys.file("/home/tarnu/jd.tmp"), "0042");
}

namespace {

// telescope.txt with the camera's phase as its last line: exposing
// (seconds left), reading out (seconds so far), idle (three stamps).
const std::string exposing = "2026-12-08T19:44:56.0      25";
const std::string reading = "2026-12-08T19:44:56.0 2026-12-08T19:45:26.0       3";
const std::string idle = "2026-12-08T19:44:56.0 2026-12-08T19:45:26.0 2026-12-08T19:45:30.1";

std::string status_file(const std::string& last) {
    return "19:44:56.0\n19:44:56.0\n05:35:17.3\n-05:23:28.0\n0:00:00.0\n"
           "0000 00 0003\n0000000\n-110.00\n" +
           last + "\n";
}

const std::string status_path = "/u/tarnu/status/telescope.txt";

} // namespace

TEST_F(Programs, ExpstartLooksEveryFourSecondsUntilTheCameraIsIdle) {
    sys.put(qor::tool_path("exptime.dat"), "2500\nignored\n");
    // No status yet, then an exposure, its readout, and the idle camera.
    const std::vector<std::string> phases = {exposing, reading, reading, idle};
    sys.on_sleep = [&] {
        EXPECT_TRUE(sys.runs.empty()) << "dbset run before the camera was idle";
        sys.put(status_path, status_file(phases.at(sys.sleeps.size() - 1)));
    };
    EXPECT_EQ(qdb::expstart(sys, {"expstart"}), 0);
    EXPECT_EQ(sys.sleeps, (std::vector<double>{4, 4, 4, 4}));
    EXPECT_EQ(sys.runs, (std::vector<Argv>{
                            {"dbset", "setups.exposure.current.value", "2500"},
                            {"dbset", "setups.record.current.value", "Yes"},
                            {"dbset", "setups.flags.windowset.value", "1"},
                            {"dbset", "setups.flags.start.value", "1"},
                        }));
    EXPECT_EQ(sys.out, "");
}

TEST_F(Programs, ExpstartTakesTheFirst59CharactersOfExptimeDat) {
    sys.put(status_path, status_file(idle));
    struct Case {
        std::optional<std::string> exptime_dat;
        std::string says;
        std::vector<Argv> first_runs;
    };
    const std::vector<Case> cases{
        {std::nullopt, "\n\texptime.dat not found!\n", {}},
        {"\n2500\n", "\n\texptime.dat holds no exposure time!\n", {}},
        {"", "\n\texptime.dat holds no exposure time!\n", {}},
        {std::string(58, ' ') + "25\n", "", {{"dbset", "setups.exposure.current.value", "2"}}},
        {"30 x\n", "", {{"dbset", "setups.exposure.current.value", "30", "x"}}},
    };
    for (const auto& c : cases) {
        sys.runs.clear();
        sys.out.clear();
        sys.files.erase(qor::tool_path("exptime.dat"));
        if (c.exptime_dat) sys.put(qor::tool_path("exptime.dat"), *c.exptime_dat);
        EXPECT_EQ(qdb::expstart(sys, {"expstart"}), 0);
        EXPECT_EQ(sys.out, c.says);
        EXPECT_EQ(sys.runs.size(), c.first_runs.empty() ? 0u : 4u);
        if (!c.first_runs.empty()) {
            EXPECT_EQ(sys.runs.front(), c.first_runs.front());
        }
    }
    EXPECT_TRUE(sys.sleeps.empty()); // idle from the start
}

TEST_F(Programs, Newimage2WaitsThreeSecondsThenMakesThePreviewsAndTheFitsCopy) {
    for (const std::string& bad : std::vector<std::string>{"", "1;touch", std::string(50, '9')}) {
        sys.out.clear();
        EXPECT_EQ(qdb::newimage2(sys, {"newimage2", bad}), 2) << bad;
        EXPECT_EQ(sys.out, "newimage2: not an observation number: " + bad.substr(0, 40) + "\n");
    }
    EXPECT_TRUE(sys.runs.empty());
    EXPECT_TRUE(sys.sleeps.empty());

    sys.on_sleep = [&] { EXPECT_TRUE(sys.runs.empty()) << "ran before the wait"; };
    sys.programs["ccdpeek"] = [&](const Argv&) {
        sys.put("/u/tarnu/status/last1.jpg", "small preview");
        return qor::Captured{"", 0};
    };
    EXPECT_EQ(qdb::newimage2(sys, {"newimage2", "123"}), 0);
    EXPECT_EQ(sys.sleeps, std::vector<double>{3});
    EXPECT_EQ(sys.runs, (std::vector<Argv>{{qor::tool_path("ccdpeek"), "/data/d123.ccd"},
                                           {qor::tool_path("ccd2fits"), "123"}}));
    EXPECT_EQ(sys.run_limits.back(), qdb::fits_limit);
    EXPECT_EQ(sys.file("/data/fits/d123.jpg"), "small preview");

    // Previews that failed are not kept for the frame; its FITS copy is made.
    sys.runs.clear();
    sys.programs["ccdpeek"] = [](const Argv&) { return qor::Captured{"", 1}; };
    EXPECT_EQ(qdb::newimage2(sys, {"newimage2", "124"}), 1);
    EXPECT_EQ(sys.runs.back(), (Argv{qor::tool_path("ccd2fits"), "124"}));
    EXPECT_EQ(sys.file("/data/fits/d124.jpg"), "<absent>");
}
