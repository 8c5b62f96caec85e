// The driver through the seam: a whole night on a clock that moves only
// when the driver sleeps, with the daemon's side of the mailbox and the
// camera played between its sleeps.
#include "clock.h"
#include "precession.h"
#include "status_line.h"
#include "driver.h"
#include "fake_system.h"
#include "frame_record.h"
#include "text.h"
#include "site.h"

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>

using namespace qobs;

namespace {

// A status line: telescope clock, position, slew counter and filter in the beam.
std::string status(const std::string& clock, const char* slew = "00", const char* filter = "0003") {
    return qor::status_line_text({clock + ".3", clock + ".4", "05:35:17.3", "-05:23:28.0",
                                  "1:01:24.5", std::string("TR") + slew + "OK" + filter, "+003.9C"});
}

// The status line with the telescope at a position of the equinox of date.
std::string at(const std::string& line, float ra, float dec) {
    qor::StatusFields f = qor::split_status_line(line);
    std::string d = toms1(dec, 0);
    f.ra = toms1(ra, 1);
    f.dec = (d[0] == '-' ? d : "+" + d) + f.dec.substr(9);
    return qor::status_line_text(f);
}

double day(int h, int m, int s) {
    std::tm tm{};
    tm.tm_year = 126, tm.tm_mon = 11, tm.tm_mday = 8, tm.tm_hour = h, tm.tm_min = m, tm.tm_sec = s;
    return static_cast<double>(timegm(&tm));
}

const std::string m42 = "A001 R 0.5 2 05:35:17.3 -05:23:28 2000 0 0 64 32 1 f M42\n";
const BatchLine m42_line = *qor::parse_batch_line(m42).line;

struct DriverTest : ::testing::Test {
    qor::test::FakeSystem sys; // its files are in memory, at the site's real paths
    std::vector<std::string> taken; // commands the daemon took, in order
    bool daemon = true;
    // The telescope computer's answer to a command, after the time stamp.
    std::function<std::string(const std::string&)> answer = [](const std::string& cmd) {
        return cmd.substr(0, 4) + "_done";
    };
    double frame_due = -1;

    void SetUp() override {
        unsetenv("QOR_ROOT");
        setenv("TZ", "UTC0", 1);
        tzset();
        write("/u/tarnu/RUN_NUMBER", "");
        write("/u/tarnu/FILTER", "U 1\nB 2\nV 3\nR 4\nx 0\n");
        write("/u/tarnu/obs1382.txt", "Ada and Charles\n");
        sys.t = day(21, 5, 0);
        sys.db = {{"qor.v1", status("21:05:07")},
                  {"qor.ss", "00"},
                  {"qor.pp", "00"},
                  {"variables.obsnum", "1"}};
        sys.programs["jdstamp"] = [this](const qor::Argv&) {
            write("/u/tarnu/jd.tmp", "1382");
            return qor::Captured{"", 0};
        };
        sys.programs["date"] = [](const qor::Argv&) {
            return qor::Captured{"Tue Dec  8 21:05:00 UTC 2026\n", 0};
        };
        sys.programs["fff"] = [this](const qor::Argv&) {
            frame_due = sys.t + 1;
            return qor::Captured{"", 0};
        };
        sys.on_sleep = [this] { play(); };
    }
    void write(const std::string& path, const std::string& text) { sys.files[path] = text; }
    std::string file(const std::string& path) { return sys.file(path); }

    std::string clock() {
        return qor::clock_text(static_cast<std::time_t>(sys.now()));
    }

    // The daemon publishes the telescope's status line with a new clock,
    // takes one command and answers it, stamped; the camera writes the
    // frame a second after fff and moves the number on.
    void play() {
        // A driver that would wait for ever fails the test instead.
        if (sys.t > day(21, 5, 0) + 86400) throw std::runtime_error("the driver waits for ever");
        std::string& v1 = sys.db["qor.v1"];
        if (daemon && v1.size() > 8) {
            qor::StatusFields f = qor::split_status_line(v1);
            f.clock = clock() + f.clock.substr(8);
            v1 = qor::status_line_text(f);
        }
        std::string& ss = sys.db["qor.ss"];
        if (daemon && ss.size() == 2 && ss[0] != ss[1]) {
            char n = qor::successor(ss[1]);
            std::string cmd = sys.db["qor." + qor::slot_key('s', n)];
            taken.push_back(cmd);
            ss = {ss[0], n};
            std::string& pp = sys.db["qor.pp"];
            char p = qor::successor(pp[0]);
            sys.db["qor." + qor::slot_key('p', p)] = clock() + "_" + answer(cmd);
            pp = {p, pp[1]};
        }
        if (frame_due >= 0 && sys.t >= frame_due) {
            std::string& n = sys.db["variables.obsnum"];
            write("/data/d" + n + ".ccd", "frame");
            n = std::to_string(std::stoi(n) + 1);
            frame_due = -1;
        }
    }

    std::string batch_path() { return "/u/tarnu/night.batch"; }
    int run(const std::string& batch, std::deque<std::string> input = {},
            const Build& build = qorobs_build) {
        if (!batch.empty()) write(batch_path(), batch);
        sys.input = std::move(input);
        Driver d(build, sys);
        return d.main({build.name, batch_path()});
    }
    std::string batch() { return file(batch_path()); }
    long count(const std::string& text) {
        long n = 0;
        for (auto p = sys.out.find(text); p != std::string::npos; p = sys.out.find(text, p + 1))
            ++n;
        return n;
    }
};

} // namespace

TEST_F(DriverTest, WorksEveryPendingLineMarksItAndWorksNothingTwice) {
    std::string comment = "##  comment\n";
    std::string c_line = "C002 V 1 1 05:35:17.3 -05:23:28 2000 0 0 64 32 1 s M1   \n";
    // The telescope 7" from the line's position: a move for line A, none for line C.
    Pointing p = getradec(*qor::parse_batch_line(m42).line, 0, epoch_of_date("Tue Dec  8 21:05:00 2026\n"));
    sys.db["qor.v1"] = at(status("21:05:07"), p.a_ra, p.a_dec - 7.f / 3600);
    EXPECT_EQ(run(comment + m42 + c_line, {"1"}), 0);
    EXPECT_EQ(taken, (std::vector<std::string>{"filt_R", "move_05:35:17.3_-05:23:28",
                                               "move_05:35:19.0_-05:23:28"}));
    // Trailing blanks are gone everywhere.
    std::string c_worked = "C002 V 1 1 05:35:17.3 -05:23:28 2000 0 0 64 32 1 s M1\n";
    EXPECT_EQ(batch(), comment + "v   " + m42 + "v   " + c_worked);
    EXPECT_EQ(file("/u/tarnu/status/nowjob.txt"), c_worked);
    EXPECT_EQ(file("/u/tarnu/qorlib/obs.log"),
              "Tue Dec  8 21:05:00 UTC 2026\n" + m42 +
                  "\nfilt_R\nmove_05:35:17.3_-05:23:28\nframe d1.ccd: line 2, frame 1 of 2\n" +
                  "move_05:35:19.0_-05:23:28\nframe d2.ccd: line 2, frame 2 of 2\n" + c_worked +
                  "\nframe d3.ccd: line 3, frame 1 of 1\n");
    EXPECT_EQ(file("/u/tarnu/mokel/fff.dat"), "100\n0\n0\n64\n32\n0\nSlow\nM1\n");
    for (auto f : {"/data/d1.ccd", "/data/d2.ccd", "/data/d3.ccd"}) EXPECT_EQ(file(f), "frame");
    EXPECT_EQ(count("******************************** finish ************\n"), 1);
    EXPECT_EQ(sys.backgrounds.back(), (qor::Argv{"beep", "9"}));

    auto fff_runs = sys.runs_of("fff").size();
    EXPECT_EQ(run("", {"1"}), 0);
    EXPECT_EQ(sys.runs_of("fff").size(), fff_runs);
    EXPECT_EQ(taken.size(), 3u);
}

TEST_F(DriverTest, OneLineFileAndBeginNumbers) {
    run(m42);
    EXPECT_EQ(count("Begin number: "), 0);
    EXPECT_EQ(count(" 1: A001"), 1); // loaded, not echoed again
    EXPECT_EQ(sys.runs_of("fff").size(), 2u);

    std::string two = "A001 V 0.5 1 1 1 2000 0 0 1 1 1 f X\nA002 V 0.5 1 1 1 2000 0 0 1 1 1 f Y\n";
    for (auto [typed, frames] : {std::pair{"3", 0}, {"2", 1}, {"0", 2}, {"-7", 2}, {"ab", 2}}) {
        sys.out.clear();
        sys.runs.clear();
        run(two, {typed});
        EXPECT_EQ(count("Begin number: "), 1);
        EXPECT_EQ(sys.runs_of("fff").size(), static_cast<std::size_t>(frames)) << typed;
        EXPECT_EQ(count("finish"), 1);
    }
}

TEST_F(DriverTest, ClockDifferenceAndTheLinkCheck) {
    sys.t = day(23, 59, 0);
    sys.db["qor.v1"] = status("00:05:40"); // 86000 s apart: 400 across midnight
    int sleeps = 0;
    sys.on_sleep = [&] {
        if (++sleeps == 1) sys.db["qor.v1"] = status("00:05:41");
        play();
    };
    run(m42);
    EXPECT_NE(sys.out.find("2 clock difference:  400 seconds ( allowed in 4sec.)\n"),
              std::string::npos);
    EXPECT_EQ(count("QOR talk with PC OK !\n"), 1);

    sys.out.clear();
    sys.db["qor.v1"] = status("00:05:41");
    sys.on_sleep = nullptr; // status lines stopped
    EXPECT_EQ(run(m42), 0);
    EXPECT_EQ(count("\n\tERROR: QOR cannot talk with PC !!!\n\n"), 1);
    EXPECT_EQ(count(" 1: A001"), 0); // stopped before the batch file

    sys.out.clear();
    sys.t = day(21, 5, 0);
    sys.db["qor.v1"] = status("21:00:50"); // 250 s: no check
    sys.on_sleep = [this] { play(); };
    run(m42);
    EXPECT_EQ(count("2 clock difference:  250 seconds"), 1);
    EXPECT_EQ(count("QOR talk"), 0);
}

TEST_F(DriverTest, FaultyLinesAreNamedAtLoadAndNeverMoved) {
    std::string bad = "A002 R 0.5 2 25:00:00 -05:23:28 2000 0 0 64 32 1 f M42\n";
    std::string unknown = "A003 Q 0.5 2 05:35:17.3 -05:23:28 2000 0 0 64 32 1 f M42\n";
    std::string fault =
        "line 2, field 5 (right ascension): '25:00:00' is not hh:mm:ss.s from 0 to 24 hours\n";
    EXPECT_EQ(run(m42 + bad + unknown, {"1"}), 0);
    auto listed = sys.out.find(fault);
    EXPECT_LT(listed, sys.out.find("Begin number: "));
    EXPECT_LT(sys.out.find("line 3, field 2 (filter): 'Q' is not in the filter table\n"),
              sys.out.find("Begin number: "));
    EXPECT_NE(sys.out.find("ERROR: " + fault + "\n", listed + 1), std::string::npos);
    EXPECT_EQ(taken.size(), 3u); // line 1 only
    EXPECT_EQ(batch(), "v   " + m42 + bad + unknown);

    sys.out.clear();
    EXPECT_EQ(run("", {"3"}), 0);
    EXPECT_EQ(count("ERROR: filter not defined in inputfile !!!\n\n"), 1);
    EXPECT_EQ(taken.size(), 3u);
}

TEST_F(DriverTest, LongFilesAndLongWorkedLinesAreKeptWhole) {
    std::string longline = "A001 V 0.5 1 05:35:17.3 -05:23:28 2000 00000000 00000000 "
                           "000000000512 000000000512 1 f Long_name_of_an_object_to_fill_\n";
    ASSERT_EQ(longline.size(), 119u); // the longest line; marked, it is 123
    std::string rest;
    for (int i = 2; i <= 2001; ++i) rest += "##  comment " + std::to_string(i) + "\n";
    rest += "A999 V 0.5 1 1 1 2000 0 0 1 1 1 f no-line-end";
    run(longline + rest, {"1"});
    EXPECT_EQ(count("Warning: file limited 2000 lines!!!\n"), 2);
    EXPECT_EQ(batch(), "v   " + longline + rest);
    EXPECT_EQ(sys.runs_of("fff").size(), 1u);
    run("", {"1"}); // the marked line is read whole again, not split into a second line
    EXPECT_EQ(batch(), "v   " + longline + rest);
    EXPECT_EQ(sys.runs_of("fff").size(), 1u);
}

TEST_F(DriverTest, StartUpChecks) {
    sys.programs["ps"] = [](const qor::Argv&) {
        return qor::Captured{"    PID TTY      STAT   TIME COMMAND\n  812 pts/0    S+     0:00 "
                             "grep qor2pc\n 4711 ?        Sl     1:02 wine qor2pc.exe\n",
                             0};
    };
    EXPECT_EQ(run(m42), 0);
    EXPECT_EQ(count("ERROR: please close qor2pc !\n\n"), 1);
    sys.programs.erase("ps");

    sys.files.erase("/u/tarnu/obs1382.txt");
    sys.files.erase("/u/tarnu/qorlib/obs.log");
    sys.files["/u/tarnu/FILTER"] += "Z 9"; // no final line end
    sys.out.clear();
    run("A001 Z 0.5 1 1 1 2000 0 0 1 1 1 f X\n", {"Grace Hopper"});
    EXPECT_EQ(count("input observers: "), 1);
    EXPECT_EQ(file("/u/tarnu/obs1382.txt"), "Grace Hopper\n");
    EXPECT_EQ(sys.runs_of("fff").size(), 1u); // Z from the last line was loaded
    EXPECT_EQ(file("/u/tarnu/qorlib/obs.log").substr(0, 29), "Tue Dec  8 21:05:00 UTC 2026\n");

    sys.out.clear();
    run(m42);
    EXPECT_EQ(count("input observers: "), 0);
    EXPECT_EQ(count("obs1382.txt: Grace Hopper\n"), 1);

    for (auto [missing, text] :
         {std::pair{"/u/tarnu/FILTER", "FILTER"}, {"/u/tarnu/RUN_NUMBER", "RUN_NUMBER"}}) {
        sys.files.erase(missing);
        sys.out.clear();
        EXPECT_EQ(run(m42), 0);
        EXPECT_EQ(count(std::string("\n\tERROR: cannot found file: ") + text + "\n\n"), 1);
        EXPECT_EQ(count(" 1: A001"), 0);
    }
}

TEST_F(DriverTest, ExposureCycle) {
    sys.db["variables.obsnum"] = "17";
    write("/data/d17.ccd", "an old frame of the same name");
    int fff_calls = 0;
    sys.programs["fff"] = [&](const qor::Argv&) {
        if (++fff_calls < 3) return qor::Captured{"camera busy", 1};
        frame_due = sys.t + 1;
        return qor::Captured{"", 0};
    };
    Driver d(qorobs_build, sys);
    d.nsc = 64, d.nsr = 32;
    EXPECT_FALSE(d.exposure(m42_line));
    EXPECT_EQ(file("/u/tarnu/mokel/exp.dat"),
              "17\nTR00OK0003\nA001\n05:35:17.3\n-05:23:28.\nM42\n64 32");
    EXPECT_EQ(count("fff failed (1), trying again\n"), 2);
    EXPECT_EQ(file("/data/d17.ccd"), "frame");
    // 0.5 s gives 0 whole seconds: 5 s before the first look.
    EXPECT_NE(std::find(sys.sleeps.begin(), sys.sleeps.end(), 5.0), sys.sleeps.end());
    for (std::size_t i = 0; i < sys.runs.size(); ++i) {
        auto name = qor::test::FakeSystem::base(sys.runs[i][0]);
        double want = name == "fff" ? 30 : name == "newimage0" ? 60 : qor::default_time_limit();
        EXPECT_EQ(sys.run_limits[i], want) << name;
    }

}

// A camera database that does not answer for a while (a hung dbshow is
// ended at its limit and prints nothing) is waited for; the operator is
// asked only after as long as a telescope command would get.
TEST_F(DriverTest, AnObservationNumberThatDoesNotComeIsWaitedFor) {
    Driver d(qorobs_build, sys);
    sys.db["variables.obsnum"] = "";
    double back = sys.t + 25;
    sys.on_sleep = [&] {
        if (sys.t >= back && sys.db["variables.obsnum"].empty()) sys.db["variables.obsnum"] = "17";
        play();
    };
    EXPECT_FALSE(d.exposure(m42_line));
    EXPECT_EQ(count("no observation number from varshow variables obsnum (nothing): trying again "
                    "every 2 s\n"),
              1);
    EXPECT_EQ(count("-------produced file d17.ccd\n"), 1);
    EXPECT_EQ(count("what can I do"), 0);

    back = 1e12;
    sys.db["variables.obsnum"] = "";
    sys.input = {"q"};
    auto stop = d.exposure(m42_line);
    ASSERT_TRUE(stop);
    EXPECT_EQ(count("what can I do"), 1);
    EXPECT_EQ(count("still no observation number (30 s)\n"), 1);
}

TEST_F(DriverTest, SendpcPostsIntoTheNextSlotAndKeepsTheLastReply) {
    daemon = false;
    Driver d(qorobs_build, sys);
    sys.db["qor.ss"] = "33";
    sys.db["qor.pp"] = "20"; // two replies waiting by the first poll
    sys.db["qor.p1"] = "21:05:01_first";
    sys.db["qor.p2"] = "21:05:09_filt_done";
    EXPECT_FALSE(d.sendpc("filt_R", 1));
    EXPECT_EQ(sys.db["qor.s0"], "filt_R");
    EXPECT_EQ(sys.db["qor.ss"], "03");
    EXPECT_EQ(sys.db["qor.pp"], "00");
    EXPECT_EQ(sys.out, "************* 21:05:09_filt_done\n");
    EXPECT_EQ(sys.t, day(21, 5, 3)); // one second, then one poll

    // ss unreadable (a hung database): the post follows this run's last,
    // never slot 1, which the daemon may have taken already.
    daemon = true;
    sys.db["qor.ss"] = "22";
    EXPECT_FALSE(d.sendpc("filt_V", 1));
    sys.db["qor.ss"] = "zz";
    EXPECT_FALSE(d.sendpc("move_01:00:00.0_10:00:00", 0));
    EXPECT_EQ(sys.db["qor.s0"], "move_01:00:00.0_10:00:00");
    EXPECT_EQ(taken, (std::vector<std::string>{"filt_V", "move_01:00:00.0_10:00:00"}));
}

TEST_F(DriverTest, SendpcAsksTheOperatorAfterAFailureOrNoReply) {
    const std::string prompt = "----------what can I do: quit, wait, re_do, ignore <cr=wait>  ";
    Driver d(qorobs_build, sys);
    int posts = 0;
    answer = [&](const std::string&) {
        return ++posts == 1 ? std::string("move_error:_bad_dec") : std::string("move_done");
    };
    sys.input = {"r"}; // re_do: posted again into the next slot, logged again
    EXPECT_FALSE(d.sendpc("move_01:00:00.0_95:00:00", 1));
    EXPECT_EQ(count(prompt), 1);
    EXPECT_EQ(taken, std::vector<std::string>(2, "move_01:00:00.0_95:00:00"));
    EXPECT_EQ(file("/u/tarnu/qorlib/obs.log"),
              "move_01:00:00.0_95:00:00\nmove_01:00:00.0_95:00:00\n");

    answer = [](const std::string&) { return "move_error:_bad_dec"; };
    sys.input = {"q"};
    auto stop = d.sendpc("move_01:00:00.0_95:00:00", 1);
    ASSERT_TRUE(stop);
    EXPECT_EQ(stop->status, 0);

    // x asks again; wait waits a fresh 146 polls; with no reply the
    // operator is asked again, and ignore goes on.
    sys.out.clear();
    sys.input = {"x", "wait", "i"};
    double start = sys.t;
    EXPECT_FALSE(d.sendpc("move_01:00:00.0_95:00:00", 1));
    EXPECT_EQ(count(prompt), 3);
    EXPECT_EQ(sys.t - start, 1 + 2 + 146 * 2);

    // No reply, and a counter that is no counter is never taken as one.
    daemon = false;
    for (const char* garbage : {"1x", "", "45"}) {
        sys.out.clear();
        sys.db["qor.pp"] = garbage;
        sys.input = {"i"};
        start = sys.t;
        EXPECT_FALSE(d.sendpc("filt_R", 1));
        EXPECT_EQ(sys.out, prompt);
        EXPECT_EQ(sys.t - start, 1 + 146 * 2) << garbage;
    }
}

TEST_F(DriverTest, AMoveBeforeTheFirstFrameWaitsWhileTheTelescopeMoves) {
    daemon = false;
    Driver d(qorobs_build, sys);
    double start = sys.t;
    bool odd = false;
    sys.on_sleep = [&] { // the slew counter changes until 700 s have passed
        if (sys.t - start < 700) sys.db["qor.v1"] = status("21:05:07", (odd = !odd) ? "01" : "02");
    };
    sys.input = {"i"};
    EXPECT_FALSE(d.sendpc("move_01:00:00.0_10:00:00", 0));
    EXPECT_EQ(count("what can I do"), 1);
    EXPECT_GT(sys.t - start, 700);

    sys.out.clear();
    start = sys.t;
    sys.input = {"i"};
    EXPECT_FALSE(d.sendpc("move_01:00:00.0_10:00:00", 1)); // a later frame: no extension
    EXPECT_EQ(sys.t - start, 1 + 146 * 2);
}

// What each build does with a three-frame line that needs a filter change,
// the telescope far from the line's position.
struct BuildCase {
    const Build* build;
    int filter_commands;
    int pointing_checks;
    qor::Argv daemon_args;
};

void PrintTo(const BuildCase& c, std::ostream* os) {
    *os << c.build->name;
}

struct Builds : DriverTest, ::testing::WithParamInterface<BuildCase> {};

TEST_P(Builds, EachDifferenceAsItsRowSays) {
    const BuildCase& c = GetParam();
    qor::StatusFields far = qor::split_status_line(status("21:05:07"));
    far.ra = "12:00:00.0";
    sys.db["qor.v1"] = qor::status_line_text(far);
    run("A001 R 0.5 3 05:35:17.3 -05:23:28 2000 0 0 64 32 1 f M42\n", {}, *c.build);
    long filters = std::count(taken.begin(), taken.end(), "filt_R");
    EXPECT_EQ(filters, c.filter_commands);
    EXPECT_EQ(count("-----------900\n"), c.pointing_checks);
    EXPECT_EQ(static_cast<long>(taken.size()) - filters, c.pointing_checks);
    if (taken.size() > static_cast<std::size_t>(filters) + 1) {
        EXPECT_NE(taken.end()[-1], taken.end()[-2]); // dithered
    }
    EXPECT_EQ(sys.runs_of("fff").size(), 3u);
    qor::Argv daemon{qor::tool_path("telelink")};
    daemon.insert(daemon.end(), c.daemon_args.begin(), c.daemon_args.end());
    EXPECT_EQ(sys.backgrounds.front(), daemon);
}

INSTANTIATE_TEST_SUITE_P(
    Driver, Builds,
    ::testing::Values(BuildCase{&qorobs_build, 1, 3, {}}, BuildCase{&qorobs9_build, 1, 3, {"1"}},
                      BuildCase{&qorobs1_build, 1, 1, {}}, BuildCase{&qorobs0_build, 0, 3, {}},
                      BuildCase{&qorobs10_build, 0, 1, {}}, BuildCase{&qorobs00_build, 0, 0, {}}),
    [](const auto& info) { return std::string(info.param.build->name); });

// Only a reply stamped at or after the posting answers a command: one left
// in the ring by an earlier run is said and passed over, a fresh
// database's placeholder is no reply (pp written by a third hand as "23"
// pointing at it is said too), and a wall clock stepped back meanwhile does
// not make the true reply look old.
TEST_F(DriverTest, OnlyAReplyStampedAfterThePostingAnswersTheCommand) {
    daemon = false;
    Driver d(qorobs_build, sys);
    sys.db["qor.pp"] = "10";
    sys.db["qor.p1"] = "21:04:58_filt_done";
    sys.db["qor.p0"] = sys.db["qor.p2"] = "-";
    int sleeps = 0;
    std::string reply;
    sys.on_sleep = [&] {
        ++sleeps;
        if (sleeps == 4) sys.db["qor.pp"] = "23";
        if (sleeps == 6) sys.stepped = -30;
        if (sleeps == 8) { // stamped 30 s back; the clock set right before it is read
            sys.db["qor.p1"] = reply = clock() + "_move_done";
            sys.db["qor.pp"] = "10";
            sys.stepped = 0;
        }
    };
    EXPECT_FALSE(d.sendpc("move_01:00:00.0_10:00:00", 1));
    EXPECT_LT(reply, "21:05:00");
    EXPECT_EQ(sys.out, "ignoring a reply stamped before the command: 21:04:58_filt_done\n"
                       "mailbox counter pp reads 23, but this run last wrote 00\n"
                       "ignoring reply slot p0: it holds no stamped reply (-)\n"
                       "************* " +
                           reply + "\n");
}

// A command the ring no longer announces before the daemon took it (the
// counter overwritten, then set back by the daemon) is posted again, once;
// and what the daemon says of the line is said while the reply waits.
TEST_F(DriverTest, ACommandSetBackBeforeItWasTakenIsPostedAgain) {
    Driver d(qorobs_build, sys);
    daemon = false;
    int sleeps = 0;
    sys.on_sleep = [&] {
        if (++sleeps == 2) {
            write("/u/tarnu/status/link.txt", "serial line lost at 21:05:01 (Input/output error)\n");
            sys.db["qor.ss"] = "00"; // the daemon's set-back
        }
        daemon = sleeps > 2;
        play();
    };
    EXPECT_FALSE(d.sendpc("filt_R", 1));
    EXPECT_EQ(taken, std::vector<std::string>{"filt_R"});
    EXPECT_EQ(count("waiting for the reply to filt_R: serial line lost at 21:05:01 "
                    "(Input/output error)\n"),
              1);
    EXPECT_EQ(count("mailbox counter ss reads 00, but this run last wrote 10\n"), 1);
    EXPECT_EQ(count("the command ring was set back before the link daemon took filt_R: posting "
                    "it again\n"),
              1);
}

// The camera refuses the start while it finishes an exposure an earlier
// run began: that exposure's frame takes the number read before, so the
// frame of this line is the number the camera shows when it accepts.
TEST_F(DriverTest, AfterARefusedStartTheFrameIsTheOneTheCameraThenTakes) {
    Driver d(qorobs_build, sys);
    sys.db["variables.obsnum"] = "17";
    int fff_calls = 0;
    sys.programs["fff"] = [&](const qor::Argv&) {
        if (++fff_calls == 2) { // the earlier exposure ends meanwhile
            write("/data/d17.ccd", "the earlier run's frame");
            sys.db["variables.obsnum"] = "18";
        }
        if (fff_calls < 3) return qor::Captured{"camera busy", 1};
        frame_due = sys.t + 1;
        return qor::Captured{"", 0};
    };
    EXPECT_FALSE(d.exposure(m42_line));
    EXPECT_EQ(count("-------produced file d18.ccd\n"), 1);
    EXPECT_EQ(file("/data/d17.ccd"), "the earlier run's frame");
    EXPECT_EQ(file("/u/tarnu/mokel/exp.dat").substr(0, 3), "18\n");
    EXPECT_NE(file("/u/tarnu/qorlib/obs.log")
                  .find("frame d17.ccd: taken by an exposure this run did not start"),
              std::string::npos);
}

// The status line in the database may be older than this run (a fresh
// site's, or one written before the telescope spoke): the filter is chosen
// from one that came after the start. The frame that never comes is waited
// for, aloud.
TEST_F(DriverTest, TheFirstLineWaitsForAFreshStatusLineAndNoWaitIsSilent) {
    std::string v_line = "A001 V 0.5 1 05:35:17.3 -05:23:28 2000 0 0 64 32 1 f M42\n";
    sys.db["qor.v1"] = status("21:05:00", "00", "0003"); // says V; the telescope has U
    daemon = false;
    sys.programs["fff"] = [this](const qor::Argv&) {
        frame_due = sys.t + 140;
        return qor::Captured{"", 0};
    };
    sys.on_sleep = [&] {
        daemon = sys.t > day(21, 5, 8);
        if (daemon && sys.db["qor.v1"].substr(56, 4) == "0003")
            sys.db["qor.v1"] = status("21:05:00", "00", "0001");
        play();
    };
    run(v_line);
    EXPECT_EQ(taken.front(), "filt_V");
    EXPECT_EQ(count("waiting for a new status line from the telescope (3 s)\n"), 1);
    EXPECT_EQ(count("still waiting for d1.ccd ("), 2); // at 65 and 125 s
    EXPECT_EQ(count("still waiting for d1.ccd (65 s)\n"), 1);
    // The daemon the driver starts logs to the site, not to this console.
    EXPECT_EQ(sys.background_logs.front(), "/u/tarnu/qorlib/telelink.log");
}

// Marks that cannot be written (a full disk, a short write, a rename or a
// sync that fails) are tried again at the end; if they still cannot, the
// run says which lines to mark, and why, and fails. The file on disk is the
// old one, whole, whatever failed.
TEST_F(DriverTest, MarksThatNeverReachTheFileEndTheRunWithAnError) {
    using qor::test::Fault;
    std::string two = m42 + "A002 V 0.5 1 05:35:17.3 -05:23:28 2000 0 0 64 32 1 f M1\n";
    struct Case {
        const char* op;
        Fault fault;
        const char* why;
    };
    for (const Case& c : {Case{"write", Fault::no_space, "No space left on device"},
                          Case{"write", Fault::short_write, "No space left on device"},
                          Case{"rename", Fault::io_error, "Input/output error"},
                          Case{"sync", Fault::io_error, "Input/output error"}}) {
        sys.out.clear();
        sys.failures.clear();
        write(batch_path(), two);
        sys.fail(c.op, batch_path(), c.fault);
        EXPECT_EQ(run("", {"1"}), 1) << c.op;
        EXPECT_EQ(batch(), two) << c.op;
        EXPECT_EQ(count(std::string("WARNING: cannot rewrite ") + batch_path() + ": " + c.why), 2);
        EXPECT_EQ(count("ERROR: cannot rewrite " + batch_path() + ": " + c.why +
                        "; lines worked in this run and not marked in it: 1, 2."),
                  1)
            << c.op;
        EXPECT_EQ(count("finish ****"), 0);
    }
    sys.failures.clear();
    write(batch_path(), two);
    sys.fail("write", batch_path(), Fault::no_space);

    sys.out.clear();
    int fff_runs = 0;
    sys.programs["fff"] = [&](const qor::Argv&) {
        if (++fff_runs == 3) sys.failures.clear(); // the disk has room again
        frame_due = sys.t + 1;
        return qor::Captured{"", 0};
    };
    EXPECT_EQ(run("", {"1"}), 0);
    EXPECT_EQ(batch(), "v   " + m42 + "v   A002 V 0.5 1 05:35:17.3 -05:23:28 2000 0 0 64 32 1 f M1\n");
}

// The observer edits the batch file during the night: a typo mended at
// the begin prompt, a line added and a comment inserted above the line
// being worked. The edits stay, the marks land on the lines worked, and the
// new line is worked.
TEST_F(DriverTest, TheObserversEditsDuringTheRunAreKept) {
    std::string b = "A002 V 0.5 1 05:35:17.3 -05:23:28 2000 0 0 64 32 1 f B\n";
    std::string c = "A003 V 0.5 1 05:35:17.3 -05:23:28 2000 0 0 64 32 1 f C\n";
    std::string typo = m42;
    typo[5] = 'Q'; // no such filter
    write(batch_path(), typo + b);
    sys.on_read_line = [&] { write(batch_path(), m42 + b); };
    bool edited = false;
    sys.on_sleep = [&] {
        if (!edited && sys.runs_of("fff").size() == 1) {
            edited = true;
            write(batch_path(), "##  clouds at 22h\n" + m42 + b + c);
        }
        play();
    };
    run("", {"1"});
    EXPECT_EQ(batch(), "##  clouds at 22h\nv   " + m42 + "v   " + b + "v   " + c);
    EXPECT_EQ(taken.front(), "filt_R");
    EXPECT_EQ(count("the batch file changed on disk during the run: it is taken as it is now\n"
                    "  pending lines this run works from here: 3, 4\n"),
              1);
}

// Each frame leaves beside it what it was of, as the driver knew it when
// the exposure started; the night's events are kept with their time.
TEST_F(DriverTest, EachFrameLeavesItsRecordAndTheNightItsEvents) {
    run(m42);
    auto read = qor::parse_frame_record(file("/data/d2.json"));
    EXPECT_TRUE(read.ok()) << read.problems.front();
    const auto& r = read.record;
    EXPECT_EQ(r.frame, "d2.ccd");
    EXPECT_EQ(r.line_number, 1);
    EXPECT_EQ(r.line, m42.substr(0, m42.size() - 1));
    EXPECT_EQ(r.frame_index, 1);
    EXPECT_EQ(r.frames_in_line, 2);
    EXPECT_EQ(r.ra_j2000, "05:35:19.0"); // dithered, as the move command
    EXPECT_EQ(r.dec_j2000, "-05:23:28");
    EXPECT_NEAR(r.ra_deg, (5 + 35 / 60.0 + 19 / 3600.0) * 15, 1e-3);
    EXPECT_EQ(r.filter, "R");
    EXPECT_EQ(r.filter_number, 4);
    EXPECT_EQ(r.exposure, 0.5);
    EXPECT_EQ(r.observers, "Ada and Charles");
    EXPECT_EQ(r.build, "qorobs");

    std::string kinds;
    for (const auto& l : qor::lines_of(file("/u/tarnu/qorlib/events.log"))) {
        auto w = words_of(l);
        if (w.size() > 1 && (kinds.empty() || kinds.back() != w[1][0])) kinds += w[1][0];
    }
    // line; filter post, reply; move post, reply; expose, frame; again; end
    EXPECT_EQ(kinds, "lprprefprefe");
}
