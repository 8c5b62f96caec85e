// Faults from the world around the daemon: tools that print nothing, print
// nonsense or hang, a clock that steps, a successor that cannot start, a
// line that goes away. None may lose a command, send a wrong one or stop
// the daemon.
#include "daemon.h"
#include "fake_host.h"
#include "files.h"
#include "framing.h"
#include "site.h"

#include <gtest/gtest.h>

using namespace qlink;
using namespace qlink::test;
using Texts = std::vector<std::string>;

namespace {

struct Faults : ::testing::Test {
    TempRoot root;
    FakeHost host;
    Daemon d{telelink_build, host};

    void SetUp() override {
        host.t = at(21, 0, 10.2);
        host.db = {
            {"variables.obsnum", "7"}, {"exposure.0", "3000"}, {"qor.ss", "00"}, {"qor.pp", "00"}};
        host.exp3 = idle_exp3;
        ASSERT_EQ(d.start({"telelink", "1"}), 0);
    }
    Texts cycles(int n) { return sent_in(d, host, n); }
    long said(const std::string& text) const {
        long n = 0;
        for (std::size_t p = host.out.find(text); p != std::string::npos;
             p = host.out.find(text, p + 1))
            ++n;
        return n;
    }
};

} // namespace

// exp3 missing, crashed or hung says nothing about the camera: it must not
// start an exposure (job file, mailbox cleared, dome stopped), nor a second
// preview once it answers again.
TEST_F(Faults, Exp3WithoutItsStampsLeavesTheJobStateAsItWas) {
    d.receive(status_record());
    ASSERT_EQ(d.job.phase(), qor::Phase::idle);
    cycles(3);
    host.db["qor.ss"] = "10"; // the driver has just posted a command
    host.db["qor.s1"] = "filt_R";
    for (std::string out : Texts{"", "2026-12-08T21:00:00.0 2026-12-08T21:00:30.0\n",
                                 std::string(70, 'x').replace(30, 1, "\n")}) {
        host.exp3 = out;
        d.receive(status_record());
    }
    host.hung.insert("exp3");
    d.receive(status_record());
    host.hung.clear();
    EXPECT_EQ(d.job.phase(), qor::Phase::idle);
    EXPECT_FALSE(host.files.count(root.path("u/tarnu/status/job.txt")));
    EXPECT_EQ(host.db["qor.ss"], "10");
    EXPECT_EQ(said("exp3 gave no exposure state: job state kept\n"), 1);
    host.exp3 = idle_exp3;
    d.receive(status_record());
    EXPECT_EQ(cycles(3), Texts{"`filt R\n"});
    EXPECT_TRUE(host.backgrounds.empty());
    EXPECT_EQ(std::count(host.writes.begin(), host.writes.end(), "`$"), 0);
}

// An error text or a hand-typed digit in ss or pp is no counter: nothing is
// replayed to the telescope and nothing written back over the driver's key.
TEST_F(Faults, ACounterThatIsNotTwoSequenceCharactersMeansNothingNew) {
    host.db["qor.s1"] = "move_01:00:00_+10:00:00";
    host.db["qor.s2"] = "filt_R";
    for (const char* bad : {"E1", "0", "dbshow: no such key"}) {
        host.db["qor.ss"] = bad;
        EXPECT_EQ(cycles(6), (Texts{"`", "`"})) << bad;
        EXPECT_EQ(host.db["qor.ss"], bad);
    }
    EXPECT_EQ(said("mailbox counter ss unreadable: no command taken\n"), 1);
    EXPECT_TRUE(host.runs_of("keyset").empty());
    host.db["qor.ss"] = "20"; // readable again: both commands, in order
    EXPECT_EQ(cycles(6), (Texts{"`move 01:00:00.0  10:00:00\n", "`filt R\n"}));

    host.db["qor.pp"] = "Error";
    d.receive("move done\n");
    d.receive("filt done\n");
    EXPECT_EQ(host.db["qor.pp"], "Error");
    EXPECT_EQ(said("mailbox counter pp unreadable: replies not posted\n"), 1);
    host.db["qor.pp"] = "00";
    d.receive("park done\n");
    EXPECT_EQ(host.db["qor.p1"].substr(8), "_park_done");
}

// A command posted and not yet sent when an exposure starts goes out: the
// first reading of a daemon started during an earlier run's exposure, and
// any later exposure start, leave the mailbox alone. The first reading of
// an idle camera starts no preview of a frame that was never taken.
TEST_F(Faults, AnExposureStartNeverWipesAPostedCommand) {
    const std::string exposing = exp3_line("21:00:00", "20:00:00", "20:00:05");
    d.receive(status_record());
    EXPECT_TRUE(host.backgrounds.empty());
    Daemon fresh(telelink_build, host);
    ASSERT_EQ(fresh.start({"telelink"}), 0);
    host.db["qor.ss"] = "10";
    host.db["qor.s1"] = "filt_R";
    host.exp3 = exposing;
    fresh.receive(status_record());
    EXPECT_EQ(sent_in(fresh, host, 3), Texts{"`filt R\n"});

    host.exp3 = idle_exp3;
    fresh.receive(status_record());
    host.db["qor.ss"] = "21";
    host.db["qor.s2"] = "move_01:00:00.0_10:00:00";
    host.exp3 = exposing;
    fresh.receive(status_record()); // 20 s left: the dome's request goes first
    EXPECT_EQ(sent_in(fresh, host, 6), (Texts{"`$", "`move 01:00:00.0  10:00:00\n"}));
    EXPECT_EQ(host.db["qor.ss"], "22");
    // The frame fresh saw being taken, once.
    EXPECT_EQ(host.backgrounds, (std::vector<qor::Argv>{{qor::tool_path("newimage2"), "7"}}));
}

// A well-formed counter that neither side wrote: ss "23" where the daemon
// took slot 1 replays nothing and is set back to "11" (said once), so the
// driver's next post lands in the slot the daemon takes next; a reply on a
// pp that is not what the daemon left is still posted, announced (never
// behind a counter that shows the ring empty), and said.
TEST_F(Faults, ACounterWrittenByAThirdHandIsSaidAndReplaysNothing) {
    host.db["qor.s1"] = "filt_R";
    host.db["qor.ss"] = "10";
    EXPECT_EQ(cycles(3), Texts{"`filt R\n"});
    host.db["qor.s2"] = "move_01:00:00.0_10:00:00"; // an old command in the slots
    host.db["qor.s0"] = "filt_B";
    host.db["qor.ss"] = "23";
    EXPECT_EQ(cycles(6), (Texts{"`", "`"}));
    EXPECT_EQ(host.db["qor.ss"], "11");
    EXPECT_EQ(said("mailbox counter ss reads 23, but the last command this daemon took was in "
                   "slot s1: nothing taken, the counter set back to 11\n"),
              1);
    host.db["qor.s2"] = "filt_V";
    host.db["qor.ss"] = "21";
    EXPECT_EQ(cycles(3), Texts{"`filt V\n"});

    d.receive("filt done\n");
    host.db["qor.pp"] = "23";
    d.receive("late\n");
    EXPECT_EQ(host.db["qor.pp"], "32");
    EXPECT_EQ(host.db["qor.p3"].substr(8), "_late");
    EXPECT_EQ(said("mailbox counter pp reads 23, but the last reply this daemon posted was in "
                   "slot p1\n"),
              1);
}

// A wall clock stepped back or forward is said once per step; the rhythm of
// the line keeps to the monotonic clock.
TEST_F(Faults, AStepOfTheWallClockIsSaid) {
    cycles(2);
    host.stepped = -30;
    cycles(2);
    host.stepped = 0;
    std::size_t before = host.sleeps.size();
    cycles(3);
    EXPECT_EQ(said("host clock stepped by -30 s\n"), 1);
    EXPECT_EQ(said("host clock stepped by +30 s\n"), 1);
    EXPECT_EQ(std::vector<double>(host.sleeps.begin() + before, host.sleeps.end()),
              std::vector<double>(3, 1.0));
}

// A key tool that hangs is ended at its limit: a slot read that timed out is
// read again in the next send phase, so the command is not lost.
TEST_F(Faults, AHungToolCostsItsTimeLimitAndLosesNoCommand) {
    bool hang_slot = true;
    host.programs["keyshow"] = [&](const qor::Argv& a) {
        if (a[1] == "s1" && hang_slot) {
            host.t += qor::default_time_limit();
            return qor::Captured{"", qor::timed_out_status, true};
        }
        auto it = host.db.find("qor." + a[1]);
        return qor::Captured{it == host.db.end() ? "" : it->second + "\n", 0};
    };
    host.db["qor.ss"] = "10";
    host.db["qor.s1"] = "filt_R";
    EXPECT_EQ(cycles(2), Texts{"`"});
    EXPECT_EQ(host.db["qor.ss"], "10");
    hang_slot = false;
    EXPECT_EQ(cycles(3), Texts{"`filt R\n"});
    EXPECT_EQ(host.db["qor.ss"], "11");

    // A hung exp3 makes one long cycle; the next one follows at once.
    host.hung.insert("exp3");
    host.inbound.push_back(status_record());
    cycles(2);
    EXPECT_LT(d.longest_cycle(), qor::default_time_limit() + 1);
}

// The clock stepped back while a time request waits for its second: the
// answer still leaves within a second, with the clock as it now stands.
TEST_F(Faults, ATimeAnswerNeverWaitsLongerThanASecond) {
    host.t = at(21, 5, 7.4);
    host.sleeps.clear();
    host.on_sleep = [&] {
        if (host.sleeps.size() == 1) host.t -= 600;
    };
    d.receive("ti\n");
    double slept = 0;
    for (double s : host.sleeps) slept += s;
    EXPECT_LE(slept, 1.0);
    EXPECT_EQ(host.writes.back(), "`205508\n");
}

// A successor that cannot start does not take the line: this instance
// keeps it and resends the last move itself.
TEST_F(Faults, ARestartWithoutASuccessorKeepsTheLine) {
    d.mailbox.resend_later("move 01:00:00.0  10:00:00\n");
    host.background_fails = true;
    host.inbound.push_back("TI\n");
    EXPECT_TRUE(d.cycle());
    EXPECT_NE(host.out.find("no successor (" + qor::tool_path("telelink") +
                            ": No such file or directory), this instance keeps the line\n"),
              std::string::npos);
    EXPECT_EQ(host.events.back(), "flush"); // the port opened again
    EXPECT_EQ(cycles(2), Texts{"`move 01:00:00.0  10:00:00\n"});

    // In test mode the successor runs in the foreground: one that ends is no heir.
    Daemon d3(telelink_build, host);
    ASSERT_EQ(d3.start({"telelink", "3"}), 0);
    host.programs["telelink"] = [](const qor::Argv&) { return qor::Captured{"", 127}; };
    host.inbound.push_back("TI\n");
    EXPECT_TRUE(d3.cycle());
    EXPECT_NE(host.out.find("telelink: cannot be started)"), std::string::npos);
}

// A line that goes away (read error, hang-up) is not silence: the daemon
// says so once, takes no command while it is gone, opens it again each
// second and, once it is back, sends first what the line lost.
TEST_F(Faults, ALostLineIsReopenedAndNoCommandIsLost) {
    host.db["qor.ss"] = "10";
    host.db["qor.s1"] = "filt_R";
    host.inbound.push_back(std::nullopt);
    host.open_fails = true;
    EXPECT_TRUE(cycles(6).empty());
    EXPECT_TRUE(d.port_lost());
    EXPECT_EQ(host.db["qor.ss"], "10");
    EXPECT_EQ(said("serial line lost: Input/output error\n"), 1);
    EXPECT_EQ(said("uart open err"), 0);
    EXPECT_EQ(host.count("open ttyS0"), 6);
    // Where the driver learns that its command cannot reach the telescope.
    const std::string link = root.path("u/tarnu/status/link.txt");
    EXPECT_EQ(host.content(link), "serial line lost at 21:00:11 (Input/output error): nothing "
                                    "reaches the telescope until it is back\n");
    host.open_fails = false;
    EXPECT_EQ(cycles(3), Texts{"`filt R\n"});
    EXPECT_EQ(said("serial line back\n"), 1);
    EXPECT_EQ(host.content(link), "serial line up\n");

    // A write that fails keeps its record for the line's return.
    host.db["qor.ss"] = "21";
    host.db["qor.s2"] = "filt_V";
    host.write_failures = 1;
    EXPECT_TRUE(cycles(3).empty());
    EXPECT_EQ(cycles(3), Texts{"`filt V\n"});
    host.exp3 = idle_exp3;
    host.inbound.push_back(status_record("21:06:00.0"));
    cycles(1);
    EXPECT_EQ(host.db["qor.v1"].substr(0, 10), "21:06:00.0");
}

// The filter number is the four characters at 56-59 alone, whatever follows.
TEST_F(Faults, TheFilterNumberIsReadFromItsOwnFourCharacters) {
    host.put(root.path("u/tarnu/FILTER"), "B 2\nV 3\n");
    host.exp3 = exp3_line("21:00:00", "20:00:00", "20:00:05");
    d.receive(status_record("21:05:07.4", "00030000000"));
    auto job = host.content(root.path("u/tarnu/status/job.txt")).value_or("");
    EXPECT_NE(job.find("\n3 V\n30\n"), std::string::npos) << job;
}
