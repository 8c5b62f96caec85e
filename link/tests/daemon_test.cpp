// The daemon's cycle through the seam: the exact bytes the far end sees,
// the mailbox as the driver sees it, and the files the observers read.
#include "daemon.h"
#include "fake_host.h"
#include "files.h"
#include "site.h"

#include <gtest/gtest.h>

using namespace qlink;
using namespace qlink::test;

namespace {

const std::string attention("`\0", 2);

struct DaemonTest : ::testing::Test {
    TempRoot root;
    FakeHost host;
    Daemon d{telelink_build, host};

    void SetUp() override { host.t = at(21, 5, 0.2); }
    void start(std::vector<std::string> args = {"telelink"}) { ASSERT_EQ(d.start(args), 0); }
    // The record of each send phase in the next n cycles.
    std::vector<std::string> cycles(int n) { return sent_in(d, host, n); }
    std::string file(const std::string& rel) {
        return host.content(root.path(rel)).value_or("<absent>");
    }
};

} // namespace

TEST_F(DaemonTest, StartUpAndPortFailures) {
    host.db["variables.obsnum"] = "42";
    start();
    EXPECT_EQ(host.out, "BAUD: 9600\n"); // nothing before it without an argument
    EXPECT_EQ(host.writes, std::vector<std::string>{attention});
    EXPECT_EQ(host.searches.size(), 1u);
    EXPECT_EQ(d.job.obsnum(), 42);

    FakeHost h2;
    Daemon d2(telelink_build, h2);
    h2.configure_result = -1;
    EXPECT_EQ(d2.start({"telelink", "2"}), -1);
    EXPECT_EQ(h2.out, "\n\t ******* telelink  2014,5,7 ******\n\t Usage: telelink [1,2,3] &\n"
                      "BAUD: 9600\nset_com failed!\n");
}

TEST_F(DaemonTest, IdleLinePollsEveryThirdSecondWithoutReopening) {
    start();
    std::size_t w = host.writes.size();
    cycles(1);
    EXPECT_EQ(host.writes.size(), w); // the first send phase is in the second cycle
    EXPECT_EQ(cycles(8), (std::vector<std::string>{"`", "`", "`"}));
    EXPECT_EQ(host.count("close"), 0);
    host.db["exposure.0"] = "3000"; // 30 s, begun 21:00:00: 20 s left at 21:00:10
    host.exp3 = exp3_line("21:00:00", "20:00:00", "20:00:05");
    host.t = at(21, 0, 10.2);
    d.receive(status_record()); // the exposure starts: its time is read
    d.receive(status_record()); // 20 s left: the dome's stop, which is no command
    EXPECT_EQ(cycles(3), std::vector<std::string>{"`$"});
    EXPECT_EQ(host.count("close"), 0);
}

TEST_F(DaemonTest, PostedCommandsAreTakenOnePerSendPhaseOnAReopenedPort) {
    start();
    host.db["qor.ss"] = "10";
    host.db["qor.s1"] = "filt_R";
    cycles(1);
    std::size_t ev = host.events.size();
    cycles(1);
    EXPECT_EQ(
        std::vector<std::string>(host.events.begin() + static_cast<long>(ev), host.events.end()),
        (std::vector<std::string>{"flush", "close", "chmod 777 ttyS0", "open ttyS0", "flush",
                                  "write:`filt R\n"}));
    EXPECT_EQ(host.db["qor.ss"], "11");

    // Two waiting: the second goes in the next phase without re-reading ss.
    host.db["qor.ss"] = "31";
    host.db["qor.s2"] = "move_23:59:59.96_+89:59:59.6";
    host.db["qor.s3"] = "move_12:34:56.78901_10:00:00"; // unreadable: taken, never sent
    std::size_t reads = host.captures.size();
    EXPECT_EQ(cycles(6), (std::vector<std::string>{"`move 24:00:00.0  90:00:00\n", "`"}));
    EXPECT_EQ(host.captures.size() - reads, 3u); // ss, s2, s3
    EXPECT_EQ(host.db["qor.ss"], "33");
    EXPECT_EQ(d.mailbox.send_again(), "move 24:00:00.0  90:00:00\n");
    EXPECT_NE(host.out.find("bad coordinates, not sent: move 12:34:56.78901 10:00:00\n"),
              std::string::npos);

    // Ring empty: the one-shot file goes out once.
    host.put(root.path("u/tarnu/mokel/xydw"), "park now\nsecond\n");
    EXPECT_EQ(cycles(6), (std::vector<std::string>{"`park now\n", "`"}));
}

TEST_F(DaemonTest, RepliesAreStampedAndPostedAsLiteralWords) {
    start();
    host.db["qor.pp"] = "00";
    host.t = at(21, 5, 7.3);
    d.receive("OK\n");
    EXPECT_EQ(host.db["qor.p1"], "21:05:07_OK");
    EXPECT_EQ(host.db["qor.pp"], "10");
    EXPECT_NE(host.out.find("R: 21:05:07_" + std::string(22, ' ') + "OK\n"), std::string::npos);

    d.receive("$(touch x); `rm -rf y` | cat > z'\"\n");
    auto sets = host.runs_of("keyset");
    EXPECT_EQ(sets[sets.size() - 2], (qor::Argv{qor::tool_path("keyset"), "p2",
                                                "21:05:08_$(touch_x);_`rm_-rf_y`_|_cat_>_z:."}));
}

TEST_F(DaemonTest, TimeRequestAnsweredRightAfterTheSecondBoundary) {
    start();
    host.t = at(21, 5, 7.4);
    host.sleeps.clear();
    d.receive("ti\n");
    EXPECT_EQ(host.writes.back(), "`210508\n");
    ASSERT_EQ(host.sleeps.size(), 1u); // one sleep to the boundary, no spinning
    EXPECT_NEAR(host.t, at(21, 5, 8), 1e-6);
}

TEST_F(DaemonTest, RestartHandsTheLastMoveToASuccessor) {
    start();
    d.mailbox.resend_later("move 12:34:56.7 -12:34:56\n");
    host.t = at(21, 5, 7.5);
    host.inbound.push_back("TI\n");
    std::size_t w = host.writes.size();
    EXPECT_FALSE(d.cycle());
    EXPECT_EQ(d.exit_status(), 0);
    EXPECT_EQ(
        std::vector<std::string>(host.writes.begin() + static_cast<long>(w), host.writes.end()),
        (std::vector<std::string>{attention, attention}));
    EXPECT_EQ(file("u/tarnu/qorlib/boot.log"), "0 Tue Dec  8 21:05:08 2026\n");
    EXPECT_EQ(file("u/tarnu/mokel/isend"), d.mailbox.send_again());
    EXPECT_EQ(host.backgrounds, std::vector<qor::Argv>{{qor::tool_path("telelink")}});

    FakeHost h2;
    h2.files = host.files; // the same disk
    Daemon next(telelink_build, h2);
    ASSERT_EQ(next.start({"telelink", "3"}), 0);
    next.cycle();
    next.cycle();
    EXPECT_EQ(h2.writes.back(), "`move 12:34:56.7 -12:34:56\n");
    EXPECT_NE(h2.out.find("I send again: move 12:34:56.7 -12:34:56\n"), std::string::npos);
    EXPECT_FALSE(h2.files.count(root.path("u/tarnu/mokel/isend")));
    // In test mode the successor runs in the foreground with mode 3 (and
    // ends this process as it starts).
    h2.inbound.push_back("TI\n");
    next.cycle();
    EXPECT_EQ(h2.runs_of("telelink"), (std::vector<qor::Argv>{{qor::tool_path("telelink"), "3"}}));
}

TEST_F(DaemonTest, TestModeSendsAMoveEveryEighthSendPhase) {
    start({"telelink", "3"});
    auto sent = cycles(30);
    ASSERT_EQ(sent.size(), 10u);
    EXPECT_EQ(sent[1], "`movv 12:34:00.2 25:00:00\n");
    EXPECT_EQ(sent[9], "`movv 12:34:01.2 25:00:00\n");
    EXPECT_EQ(std::count(sent.begin(), sent.end(), "`"), 8);
}

TEST_F(DaemonTest, StatusRecordsPublishedWithPositionLogWindow) {
    start({"telelink", "1"});
    host.exp3 = idle_exp3;
    std::string bad = status_record();
    bad[49] = 'x';
    d.receive(bad);
    d.receive(status_record().substr(0, 60)); // never used, whatever it holds
    EXPECT_TRUE(host.runs_of("keyset").empty());

    // Shell text in the further characters of the record.
    std::string evil = status_record("16:00:00.0", "0003$(rm);|");
    d.receive(evil);
    EXPECT_EQ(host.runs_of("keyset")[0],
              (qor::Argv{qor::tool_path("keyset"), "v1", evil.substr(1, 67)}));
    EXPECT_EQ(file("u/tarnu/status/telescope.txt").substr(0, 11), "16:00:00.0\n");
    EXPECT_NE(host.out.find(evil), std::string::npos); // echoed in mode 1

    const std::string log = "u/tarnu/qorlib/kerade.dat";
    EXPECT_EQ(file(log), "<absent>");
    d.publish(status_record("17:00:00.0"));
    d.publish(status_record("30:00:00.0"));
    d.publish(status_record("31:00:00.0"));
    EXPECT_EQ(file(log), "Tue Dec  8 21:05:00 UTC 2026\n17:00:00.0 12:34:56.7+12:34:56\n"
                         "30:00:00.0 12:34:56.7+12:34:56\n");
    for (std::size_t size : {300999u, 301000u}) {
        host.put(root.path(log), std::string(size, 'x'));
        d.publish(status_record("17:00:00.0"));
        d.publish(status_record("31:00:00.0"));
    }
    EXPECT_EQ(file("u/tarnu/qorlib/kerade.old").size(), 301000u);
}

TEST_F(DaemonTest, JobTrackingWritesJobFileAndRaisesEachDomeRequestOnce) {
    host.db = {{"variables.obsnum", "123"},
               {"exposure.0", "3000"},
               {"nr.0", "4096"},
               {"nc.0", "4160"},
               {"object.0", "M31"}};
    host.put(root.path("u/tarnu/FILTER"), "B 2\nV 3\n");
    host.put(root.path("u/tarnu/NAME"), "heading\nNGC1 " + std::string(30, 'a') +
                                                     " M1\nANDR " + std::string(30, 'b') +
                                                     " M31\n");
    start({"telelink", "2"});
    auto status_at = [&](int s, const std::string& out) {
        host.t = at(21, 0, s + 0.3);
        host.exp3 = out;
        d.receive(status_record());
    };
    std::vector<std::string> sent;
    auto send = [&] {
        d.send_phase();
        sent.push_back(host.writes.back());
    };
    const std::string exposing = exp3_line("21:00:00", "20:00:00", "20:00:05");
    status_at(0, exposing);
    EXPECT_EQ(file("u/tarnu/status/job.txt"),
              "123\nANDR\n" + std::string(30, 'b') + "\nM31\n3 V\n30\n4096 x 4160\n");
    // Raised by the record that shows 24 s left, sent once, never repeated.
    for (int s : {5, 6, 7, 9}) { // 25, 24, 23, 21 s left
        status_at(s, exposing);
        send();
    }
    EXPECT_EQ(sent, (std::vector<std::string>{"`", "`$", "`", "`"}));
    EXPECT_NE(host.out.find("      21  job: 1\n"), std::string::npos);

    const std::string reading = exp3_line("21:00:00", "21:00:30", "20:00:05");
    status_at(31, reading);
    status_at(34, reading);
    std::string tele = file("u/tarnu/status/telescope.txt");
    EXPECT_EQ(tele.substr(tele.size() - 9), "       3\n");
    EXPECT_TRUE(host.backgrounds.empty());

    status_at(37, idle_exp3);
    status_at(38, idle_exp3);
    send();
    status_at(40, idle_exp3);
    send();
    EXPECT_EQ(std::vector<std::string>(sent.end() - 2, sent.end()),
              (std::vector<std::string>{"`&", "`"}));
    EXPECT_FALSE(host.files.count(root.path("u/tarnu/status/job.txt")));
    EXPECT_EQ(host.backgrounds, (std::vector<qor::Argv>{{qor::tool_path("newimage2"), "123"}}));
}

TEST_F(DaemonTest, JobFileFallbacks) {
    host.db = {{"object.0", "UNKNOWN"}, {"exposure.0", "500"}};
    host.put(root.path("u/tarnu/status/netjob.log"), "net job 7\n");
    start();
    host.exp3 = exp3_line("21:00:00", "20:00:00", "20:00:05", 12);
    std::string rec = status_record("21:05:07.4", "0000XYZ1234"); // no filter number
    d.receive(rec);
    EXPECT_EQ(file("u/tarnu/status/job.txt"),
              "-01 net job 7\nNONE\n12:34:56.7 +12:34:56.\nUNKNOWN\n?\n5\n0 x 0\n");
    host.exp3 = idle_exp3; // no observation number: the job file goes, no preview
    d.receive(status_record());
    EXPECT_FALSE(host.files.count(root.path("u/tarnu/status/job.txt")));
    EXPECT_TRUE(host.backgrounds.empty());
}
