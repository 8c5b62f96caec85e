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

std::string record(const std::string& clock = "21:05:07.4") {
    return "`" + clock + "21:05:07.4" + "12:34:56.7" + "+12:34:56.7" + "0:00:00.0" + "ABCDEF0003" +
           "XYZ1234" + "\n";
}

const std::string attention("`\0", 2);

std::string stamp(int h, int m, int s) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "2026-12-08T%02d:%02d:%02d.0", h, m, s);
    return buf;
}

// exp3 output for each camera phase of an exposure that began at b.
std::string exposing(int bh, int bm, int bs, int vv = 5) {
    return stamp(bh, bm, bs) + " " + stamp(20, 0, 0) + " " + stamp(20, 0, 5) + " -110.7 " +
           std::to_string(vv) + "\n";
}
std::string reading_out() {
    return stamp(21, 0, 0) + " " + stamp(21, 0, 30) + " " + stamp(20, 0, 5) + " -110.7 5\n";
}
std::string idle() {
    return stamp(21, 0, 0) + " " + stamp(21, 0, 30) + " " + stamp(21, 0, 45) + " -110.7 5\n";
}

struct DaemonTest : ::testing::Test {
    TempRoot root;
    FakeHost host;
    Daemon d{telelink_build, host};

    void SetUp() override { host.t = at(21, 5, 0.2); }
    void start(std::vector<std::string> args = {"telelink"}) { ASSERT_EQ(d.start(args), 0); }
    void cycles(int n) {
        for (int i = 0; i < n; ++i) ASSERT_TRUE(d.cycle());
    }
    std::string file(const std::string& rel) {
        return qor::read_file(root.path(rel)).value_or("<absent>");
    }
};

} // namespace

TEST_F(DaemonTest, StartUpQuietOrVerbose) {
    host.db["variables.obsnum"] = "42";
    start();
    EXPECT_EQ(host.out, "BAUD: 9600\n");
    EXPECT_EQ(host.writes, std::vector<std::string>{attention});
    EXPECT_EQ(host.instance_searches, 1);
    EXPECT_EQ(d.obsnum, 42);
    EXPECT_EQ(d.mode, 0);

    FakeHost h2;
    Daemon d2(telelink_build, h2);
    ASSERT_EQ(d2.start({"telelink", "2"}), 0);
    EXPECT_EQ(h2.out, "\n\t ******* telelink  2014,5,7 ******\n\t Usage: telelink [1,2,3] &\n"
                      "BAUD: 9600\n");
    EXPECT_EQ(d2.mode, 2);
    EXPECT_EQ(d2.obsnum, -1); // no number printed
}

TEST_F(DaemonTest, PortFailuresEndTheDaemon) {
    host.open_fails = true;
    EXPECT_EQ(d.start({"telelink"}), -1);
    EXPECT_EQ(host.out, "uart open err: No such file or directory\n");

    FakeHost h2;
    h2.configure_result = -1;
    Daemon d2(telelink_build, h2);
    EXPECT_EQ(d2.start({"telelink"}), -1);
    EXPECT_EQ(h2.out, "BAUD: 9600\nset_com failed!\n");

    // A re-open that fails before a command ends the cycle with -1.
    FakeHost h3;
    Daemon d3(telelink_build, h3);
    ASSERT_EQ(d3.start({"telelink"}), 0);
    h3.db["qor.ss"] = "10";
    h3.db["qor.s1"] = "filt_R";
    h3.open_fails = true;
    EXPECT_TRUE(d3.cycle());
    EXPECT_FALSE(d3.cycle());
    EXPECT_EQ(d3.exit_status(), -1);
}

TEST_F(DaemonTest, IdleLineSeesALoneBackquoteEveryThirdSecond) {
    start();
    std::size_t from = host.writes.size();
    std::vector<std::size_t> when;
    for (int i = 1; i <= 9; ++i) {
        std::size_t before = host.writes.size();
        ASSERT_TRUE(d.cycle());
        if (host.writes.size() > before) when.push_back(i);
    }
    EXPECT_EQ(when, (std::vector<std::size_t>{2, 5, 8}));
    for (const auto& w : host.writes_since(from)) EXPECT_EQ(w, "`");
    for (double s : host.sleeps) EXPECT_EQ(s, 1.0);
    EXPECT_EQ(std::count(host.events.begin(), host.events.end(), "close"), 0);
}

TEST_F(DaemonTest, PostedCommandIsTakenOncePortReopened) {
    start();
    host.db["qor.ss"] = "10";
    host.db["qor.s1"] = "filt_R";
    cycles(1);
    std::size_t ev = host.events.size();
    cycles(1);
    std::vector<std::string> tail(host.events.begin() + static_cast<long>(ev), host.events.end());
    EXPECT_EQ(tail,
              (std::vector<std::string>{"flush", "close", "open", "flush", "write:`filt R\n"}));
    EXPECT_EQ(host.db["qor.ss"], "11");

    auto ss_reads = [&] {
        return std::count_if(host.captures.begin(), host.captures.end(),
                             [](const qor::Argv& a) { return a.size() > 1 && a[1] == "ss"; });
    };
    auto before = ss_reads();
    cycles(3);
    EXPECT_EQ(ss_reads(), before + 1); // taken, so the next phase reads ss again
    EXPECT_EQ(host.writes.back(), "`");

    // Two posted at once: the second is taken in the next phase without re-reading.
    host.db["qor.ss"] = "31";
    host.db["qor.s2"] = "filt_V";
    host.db["qor.s3"] = "filt_B";
    cycles(3);
    EXPECT_EQ(host.writes.back(), "`filt V\n");
    EXPECT_EQ(host.db["qor.ss"], "32");
    before = ss_reads();
    cycles(3);
    EXPECT_EQ(ss_reads(), before);
    EXPECT_EQ(host.writes.back(), "`filt B\n");
    EXPECT_EQ(host.db["qor.ss"], "33");
}

TEST_F(DaemonTest, MoveCommandsAreRewrittenOrNotSent) {
    start();
    host.db["qor.ss"] = "10";
    host.db["qor.s1"] = "move_23:59:59.96_+89:59:59.6";
    cycles(2);
    EXPECT_EQ(host.writes.back(), "`move 24:00:00.0  90:00:00\n");
    EXPECT_EQ(d.send_again, "move 24:00:00.0  90:00:00\n");

    // Unreadable coordinates: the command is taken but never reaches the line.
    host.db["qor.ss"] = "21";
    host.db["qor.s2"] = "move_12:34:56.78901_10:00:00";
    std::size_t ev = host.events.size();
    cycles(3);
    EXPECT_EQ(host.writes.back(), "`");
    EXPECT_EQ(std::count(host.events.begin() + static_cast<long>(ev), host.events.end(), "close"),
              0);
    EXPECT_EQ(host.db["qor.ss"], "22");
    EXPECT_NE(host.out.find("bad coordinates, not sent: move 12:34:56.78901 10:00:00\n"),
              std::string::npos);
    EXPECT_EQ(d.send_again, "move 24:00:00.0  90:00:00\n");
}

TEST_F(DaemonTest, OneShotFileIsSentOnceWhenRingIsEmpty) {
    start();
    qor::replace_file(root.path("u/tarnu/mokel/xydw"), "park now\nsecond line\n");
    cycles(2);
    EXPECT_EQ(host.writes.back(), "`park now\n");
    EXPECT_FALSE(qor::file_exists(root.path("u/tarnu/mokel/xydw")));
    cycles(3);
    EXPECT_EQ(host.writes.back(), "`");
}

TEST_F(DaemonTest, DomeRequestsGoOutWithoutReopening) {
    start();
    d.stop_dome = 1;
    std::size_t ev = host.events.size();
    cycles(2);
    EXPECT_EQ(host.writes.back(), "`$");
    EXPECT_EQ(d.stop_dome, 2);
    d.stop_dome = 0;
    d.startdome = 1;
    cycles(3);
    EXPECT_EQ(host.writes.back(), "`&");
    EXPECT_EQ(std::count(host.events.begin() + static_cast<long>(ev), host.events.end(), "close"),
              0);
    EXPECT_EQ(host.out, "BAUD: 9600\n"); // quiet in mode 0
}

TEST_F(DaemonTest, RepliesAreStampedAndPostedAsLiteralWords) {
    start();
    host.db["qor.pp"] = "00";
    host.t = at(21, 5, 7.3);
    d.receive("OK\n");
    EXPECT_EQ(host.db["qor.p1"], "21:05:07_OK");
    EXPECT_EQ(host.db["qor.pp"], "10");
    EXPECT_NE(host.out.find("R: 21:05:07_" + std::string(22, ' ') + "OK\n"), std::string::npos);

    // Shell text stays text: one argument, nothing interpreted.
    d.receive("$(touch x); `rm -rf y` | cat > z\n");
    auto sets = host.runs_of("keyset");
    auto reply = sets[sets.size() - 2];
    EXPECT_EQ(reply, (qor::Argv{qor::tool_path("keyset"), "p2",
                                "21:05:08_$(touch_x);_`rm_-rf_y`_|_cat_>_z"}));
    EXPECT_EQ(host.db["qor.pp"], "20");

    // Quote signs become separators.
    d.receive("a b'c\"d\n");
    EXPECT_EQ(host.db["qor.p3"], "21:05:09_a_b:c.d");
}

TEST_F(DaemonTest, TimeRequestAnsweredRightAfterTheSecondBoundary) {
    start();
    host.t = at(21, 5, 7.4);
    host.sleeps.clear();
    d.receive("ti\n");
    EXPECT_EQ(host.writes.back(), "`210508\n");
    ASSERT_EQ(host.sleeps.size(), 1u); // one sleep to the boundary, no spinning
    EXPECT_NEAR(host.sleeps[0], 0.6, 1e-6);
    EXPECT_NEAR(host.t, at(21, 5, 8), 1e-6);
}

TEST_F(DaemonTest, RestartHandsTheLastMoveToASuccessor) {
    start();
    host.db["qor.ss"] = "10";
    host.db["qor.s1"] = "move_12:34:56.7_-12:34:56";
    cycles(2);
    host.t = at(21, 5, 7.5);
    host.inbound.push_back("TI\n");
    std::size_t w = host.writes.size();
    EXPECT_FALSE(d.cycle());
    EXPECT_EQ(d.exit_status(), 0);
    EXPECT_EQ(host.out.substr(host.out.find("I reboot")), "I reboot telelink!!\n"
                                                          "R: 21:05:17_" +
                                                              std::string(22, ' ') + "TI\n");
    EXPECT_EQ(host.writes_since(w), (std::vector<std::string>{attention, attention}));
    EXPECT_EQ(file("u/tarnu/qorlib/boot.log"), "0 Tue Dec  8 21:05:08 2026\n");
    EXPECT_EQ(file("u/tarnu/mokel/isend"), "move 12:34:56.7 -12:34:56\n");
    EXPECT_EQ(host.backgrounds, std::vector<qor::Argv>{{qor::tool_path("telelink")}});

    // The successor resends it in its first send phase.
    FakeHost h2;
    Daemon next(telelink_build, h2);
    ASSERT_EQ(next.start({"telelink"}), 0);
    ASSERT_TRUE(next.cycle());
    ASSERT_TRUE(next.cycle());
    EXPECT_EQ(h2.writes.back(), "`move 12:34:56.7 -12:34:56\n");
    EXPECT_NE(h2.out.find("I send again: move 12:34:56.7 -12:34:56\n"), std::string::npos);
    EXPECT_FALSE(qor::file_exists(root.path("u/tarnu/mokel/isend")));

    // In test mode the successor runs in the foreground with mode 3.
    FakeHost h3;
    Daemon d3(telelink_build, h3);
    ASSERT_EQ(d3.start({"telelink", "3"}), 0);
    h3.inbound.push_back("TIME\n");
    EXPECT_FALSE(d3.cycle());
    EXPECT_NE(std::find(h3.runs.begin(), h3.runs.end(), qor::Argv{qor::tool_path("telelink"), "3"}),
              h3.runs.end());
    EXPECT_TRUE(h3.backgrounds.empty());
    EXPECT_EQ(file("u/tarnu/qorlib/boot.log").substr(27, 2), "0 ");
}

TEST_F(DaemonTest, TestModeSendsAMoveEveryEighthSendPhase) {
    start({"telelink", "3"});
    std::vector<std::string> sent;
    for (int i = 0; i < 30; ++i) {
        std::size_t before = host.writes.size();
        ASSERT_TRUE(d.cycle());
        if (host.writes.size() > before) sent.push_back(host.writes.back());
    }
    ASSERT_EQ(sent.size(), 10u);
    EXPECT_EQ(sent[1], "`movv 12:34:00.2 25:00:00\n");
    EXPECT_EQ(sent[9], "`movv 12:34:01.2 25:00:00\n");
    for (int i : {0, 2, 3, 4, 5, 6, 7, 8}) EXPECT_EQ(sent[i], "`");
    EXPECT_EQ(d.send_again, "movv 12:34:01.2 25:00:00\n");
    EXPECT_NE(host.out.find("S: movv 12:34:00.2 25:00:00\n"), std::string::npos);
}

TEST_F(DaemonTest, PositionLogWindowAndRotation) {
    start();
    const std::string log = "u/tarnu/qorlib/kerade.dat";
    d.publish(record("16:00:00.0"));
    EXPECT_EQ(d.ontime, 0);
    EXPECT_EQ(file(log), "<absent>");
    d.publish(record("17:00:00.0"));
    d.publish(record("30:00:00.0"));
    std::string text = file(log);
    EXPECT_EQ(text, "Tue Dec  8 21:05:00 UTC 2026\n17:00:00.0 12:34:56.7+12:34:56\n"
                    "30:00:00.0 12:34:56.7+12:34:56\n");
    d.publish(record("31:00:00.0"));
    EXPECT_EQ(d.ontime, 0);
    EXPECT_EQ(file(log), text);

    qor::replace_file(root.path(log), std::string(300999, 'x'));
    d.publish(record("17:00:00.0"));
    EXPECT_EQ(file("u/tarnu/qorlib/kerade.old"), "<absent>");
    d.publish(record("31:00:00.0"));
    qor::replace_file(root.path(log), std::string(301000, 'x'));
    d.publish(record("17:00:00.0"));
    EXPECT_EQ(file("u/tarnu/qorlib/kerade.old").size(), 301000u);
    EXPECT_EQ(file(log).substr(0, 4), "Tue ");
}

TEST_F(DaemonTest, StatusRecordsArePublishedOrDropped) {
    start({"telelink", "1"});
    host.exp3 = idle();
    std::string rec = record();
    rec[49] = 'x';
    d.receive(rec);
    EXPECT_EQ(file("u/tarnu/status/telescope.txt"), "<absent>");
    EXPECT_TRUE(host.runs_of("keyset").empty());

    d.receive(record());
    EXPECT_EQ(host.runs_of("keyset")[0],
              (qor::Argv{qor::tool_path("keyset"), "v1", record().substr(1, 67)}));
    EXPECT_EQ(d.v1, record().substr(1, 68));
    EXPECT_EQ(file("u/tarnu/status/telescope.txt"),
              "21:05:07.4\n21:05:07.4\n12:34:56.7\n+12:34:56.\n70:00:00.0\nABCD EF 0003\n"
              "XYZ1234\n-110.05\n" +
                  idle().substr(0, 65) + "\n");
    EXPECT_NE(host.out.find(record()), std::string::npos); // echoed in mode 1

    // Status text with shell characters is one literal word too.
    std::string evil = record();
    evil.replace(60, 7, "$(rm);|");
    d.receive(evil);
    EXPECT_EQ(host.runs_of("keyset").back()[2], evil.substr(1, 67));
    // A 60-character text is never used, whatever it holds.
    std::size_t runs = host.runs.size();
    d.receive(record().substr(0, 60));
    EXPECT_EQ(host.runs.size(), runs);
}

TEST_F(DaemonTest, JobTrackingWritesJobFileAndRaisesDomeRequestsOnce) {
    host.db["variables.obsnum"] = "123";
    host.db["exposure.0"] = "3000";
    host.db["nr.0"] = "4096";
    host.db["nc.0"] = "4160";
    host.db["object.0"] = "M31";
    qor::replace_file(root.path("u/tarnu/FILTER"), "B 2\nV 3\n");
    qor::replace_file(root.path("u/tarnu/NAME"), "heading\nNGC1 " + std::string(30, 'a') +
                                                     " M1\nANDR " + std::string(30, 'b') +
                                                     " M31\n");
    qor::replace_file(root.path("u/tarnu/status/netjob.log"), "net 1\n");
    start({"telelink", "2"});

    auto status_at = [&](int s, const std::string& exp3) {
        host.t = at(21, 0, s + 0.3);
        host.exp3 = exp3;
        d.receive(record());
    };
    status_at(0, exposing(21, 0, 0));
    EXPECT_EQ(d.job, 1);
    EXPECT_EQ(d.expt, 30);
    EXPECT_EQ(file("u/tarnu/status/job.txt"),
              "123\nANDR\n" + std::string(30, 'b') + "\nM31\n3 V\n30\n4096 x 4160\n");
    auto sets = host.runs_of("keyset");
    EXPECT_EQ(sets[sets.size() - 2][2], "00"); // pp then ss cleared
    EXPECT_EQ(sets.back()[1], "ss");

    std::vector<std::string> sent;
    auto send = [&] {
        d.send_phase();
        sent.push_back(host.writes.back());
    };
    status_at(3, exposing(21, 0, 0)); // 27 s left
    send();
    status_at(6, exposing(21, 0, 0)); // 24 s left
    send();
    status_at(9, exposing(21, 0, 0)); // 21 s left
    send();
    EXPECT_EQ(sent, (std::vector<std::string>{"`", "`$", "`"}));
    EXPECT_NE(host.out.find("      21  job: 1\n"), std::string::npos);

    status_at(31, reading_out());
    EXPECT_EQ(d.job, 2);
    std::string first = file("u/tarnu/status/telescope.txt");
    EXPECT_EQ(first.substr(first.size() - 3), "0 \n"); // no readout seconds yet
    status_at(34, reading_out());
    std::string tele = file("u/tarnu/status/telescope.txt");
    EXPECT_EQ(tele.substr(tele.size() - 9), "       3\n");
    EXPECT_TRUE(host.backgrounds.empty());

    status_at(37, idle());
    EXPECT_EQ(d.job, 3);
    EXPECT_FALSE(qor::file_exists(root.path("u/tarnu/status/job.txt")));
    EXPECT_EQ(host.backgrounds, (std::vector<qor::Argv>{{qor::tool_path("newimage2"), "123"}}));
    status_at(38, idle()); // a second idle record before the send phase
    send();
    status_at(40, idle());
    send();
    EXPECT_EQ((std::vector<std::string>(sent.end() - 2, sent.end())),
              (std::vector<std::string>{"`&", "`"}));

    // Next frame: several records inside the window before one send phase
    // still give exactly one stop request.
    status_at(50, exposing(21, 0, 50));
    status_at(57, exposing(21, 0, 50)); // 23 s left
    status_at(58, exposing(21, 0, 50));
    send();
    send();
    EXPECT_EQ((std::vector<std::string>(sent.end() - 2, sent.end())),
              (std::vector<std::string>{"`$", "`"}));
}

TEST_F(DaemonTest, JobFileFallbacks) {
    host.db["object.0"] = "UNKNOWN";
    host.db["exposure.0"] = "500";
    qor::replace_file(root.path("u/tarnu/NAME"),
                      "heading\nANDR " + std::string(30, 'b') + " M31\n");
    qor::replace_file(root.path("u/tarnu/status/netjob.log"), "net job 7\n");
    start();
    host.exp3 = exposing(21, 0, 0, 12);
    std::string rec = record();
    rec.replace(57, 4, "0000");
    d.receive(rec);
    EXPECT_EQ(file("u/tarnu/status/job.txt"),
              "-01 net job 7\nNONE\n12:34:56.7 +12:34:56.\nUNKNOWN\n?\n5\n0 x 0\n");
    // Idle with no observation number: the job file goes, no preview starts.
    host.exp3 = idle();
    d.receive(record());
    EXPECT_FALSE(qor::file_exists(root.path("u/tarnu/status/job.txt")));
    EXPECT_TRUE(host.backgrounds.empty());
}
