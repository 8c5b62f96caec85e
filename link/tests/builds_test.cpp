// Every build of the daemon: what they share, run over each of them, and
// one expectation for each way a build differs from the full one. Then
// linktest, the serial-line test program.
#include "daemon.h"
#include "fake_host.h"
#include "files.h"
#include "framing.h"
#include "serialtest.h"
#include "site.h"

#include <gtest/gtest.h>

using namespace qlink;
using namespace qlink::test;
using Texts = std::vector<std::string>;

namespace {

struct EveryBuild : ::testing::TestWithParam<const Build*> {
    TempRoot root;
    FakeHost host;
    Daemon d{*GetParam(), host};
    Texts cycles(int n) { return sent_in(d, host, n); }
};

std::string build_name(const ::testing::TestParamInfo<const Build*>& info) {
    return info.param->name;
}

} // namespace

INSTANTIATE_TEST_SUITE_P(Link, EveryBuild, ::testing::ValuesIn(all_builds), build_name);

TEST_P(EveryBuild, PollsForwardsPublishesAndFollowsTheCamera) {
    host.db = {{"variables.obsnum", "0"}, {"exposure.0", "3000"}, {"qor.pp", "00"}};
    host.t = at(21, 0, 10.2);
    ASSERT_EQ(d.start({GetParam()->name, "1"}), 0);
    // The first send phase in the second cycle; the second may carry a test move.
    EXPECT_EQ(cycles(2), Texts{"`"});
    cycles(3);

    host.db["qor.ss"] = "10";
    host.db["qor.s1"] = "filt_R";
    EXPECT_EQ(cycles(3), Texts{"`filt R\n"});
    EXPECT_EQ(host.db["qor.ss"], "11");
    host.inbound = {"filt done\n", "ti\n"};
    cycles(2);
    EXPECT_EQ(host.db["qor.p1"].substr(8), "_filt_done");
    EXPECT_EQ(host.db["qor.pp"], "10");
    std::time_t answered = static_cast<std::time_t>(host.t);
    EXPECT_EQ(host.writes.back(), time_answer(answered));

    // An exposure: job file, the mailbox as it was (a reply still unread),
    // the dome stopped near its end; then idle: the dome started and the
    // preview of frame 0 (a valid number).
    host.exp3 = exp3_line("21:00:00", "20:00:00", "20:00:05");
    d.receive(status_record());
    EXPECT_TRUE(host.files.count(root.path("u/tarnu/status/job.txt")));
    EXPECT_EQ(host.db["qor.ss"], "11");
    EXPECT_EQ(host.db["qor.pp"], "10");
    EXPECT_EQ(host.db["qor.v1"], status_record().substr(1, 67));
    d.receive(status_record()); // 30 s, now known, minus some 20 s gone

    host.exp3 = idle_exp3;
    Texts sent = cycles(3);
    d.receive(status_record());
    sent.push_back(cycles(3).back());
    EXPECT_EQ(sent, (Texts{"`$", "`&"}));
    EXPECT_FALSE(host.files.count(root.path("u/tarnu/status/job.txt")));
    EXPECT_EQ(host.backgrounds, (std::vector<qor::Argv>{{qor::tool_path("newimage2"), "0"}}));
    EXPECT_NE(host.out.find("Stop_Dome\n"), std::string::npos);
    EXPECT_NE(host.out.find("StartDome\n"), std::string::npos);
    EXPECT_EQ(host.out.find("job:"), std::string::npos); // mode 1
}

TEST_P(EveryBuild, APortThatCannotBeOpenedEndsTheStart) {
    host.open_fails = true;
    EXPECT_EQ(d.start({GetParam()->name}), -1);
    EXPECT_EQ(host.out.substr(host.out.find("uart")), "uart open err: No such file or directory\n");
}

// What each build does differently, build by build.
TEST(BuildDifferences, StartUpPortAndCommands) {
    TempRoot root;
    struct Expect {
        const Build* build;
        std::string out; // started with the argument 2
        Texts trace;     // start-up, then a command in the first send phase
        Texts instances;
    };
    const Texts telelinks{"telelink", "telelinkusb", "scopelink4"};
    const std::string attention("write:`\0", 8);
    const Expect expects[] = {
        {&telelink_build,
         "\n\t ******* telelink  2014,5,7 ******\n\t Usage: telelink [1,2,3] &\nBAUD: 9600\n",
         {"search", "chmod 777 ttyS0", "open ttyS0", "flush", attention, "flush", "close",
          "chmod 777 ttyS0", "open ttyS0", "flush", "write:`filt R\n"},
         telelinks},
        {&telelinkusb_build,
         "\n\t ******* telelink (USB) 2014,7 ******\n\t Usage: telelink [1,2,3] &\nBAUD: 9600\n",
         {"search", "chmod 777 ttyUSB0", "open ttyUSB0 nonblocking", "flush", attention,
          "write:`filt R\n"},
         telelinks},
        {&scopelink66_build,
         "\n\t ******* telelink  2014,5,7 ******\n\t Usage: telelink [1,2] &\n",
         {"chmod 666 ttyS0", "search", "open ttyS0", "write:`filt R\n"},
         {"scopelink66"}},
        {&scopelink4_build,
         "\n\t ******* telelink  2014,5,7 ******\n\t Usage: telelink [1,2] &\n",
         {"chmod 777 ttyS0", "search", "open ttyS0", "write:`filt R\n"},
         telelinks},
    };
    for (const auto& e : expects) {
        SCOPED_TRACE(e.build->name);
        FakeHost host;
        Daemon d(*e.build, host);
        ASSERT_EQ(d.start({e.build->name, "2"}), 0);
        EXPECT_EQ(host.out, e.out);
        host.db = {{"qor.ss", "10"}, {"qor.s1", "filt_R"}};
        sent_in(d, host, 2);
        EXPECT_EQ(host.events, e.trace);
        EXPECT_EQ(host.searches, std::vector<Texts>{e.instances});
    }
}

TEST(BuildDifferences, ResendJobLineAndTestTraffic) {
    TempRoot root;
    struct Expect {
        const Build* build;
        bool reads_isend, keeps_move, job_line_in_mode_3;
        Texts traffic; // mode 3, send phases 2, 6, 10, 14
    };
    const Expect expects[] = {
        {&telelink_build,
         true,
         true,
         false,
         {"`movv 12:34:00.2 25:00:00\n", "`", "`movv 12:34:01.2 25:00:00\n", "`"}},
        {&telelinkusb_build,
         true,
         true,
         false,
         {"`movv 12:34:00.2 25:00:00\n", "`filt x\n", "`movv 12:34:02.2 25:00:00\n", "`filt x\n"}},
        {&scopelink66_build,
         false,
         true,
         true,
         {"`move 12:34:00 12:13:14\n", "`", "`move 12:34:01 12:13:14\n", "`"}},
        {&scopelink4_build, false, false, true, {"`", "`", "`", "`"}},
    };
    for (const auto& e : expects) {
        SCOPED_TRACE(e.build->name);
        FakeHost host;
        host.put(root.path("u/tarnu/mokel/isend"), "move 1 2\n");
        host.exp3 = idle_exp3;
        Daemon d(*e.build, host);
        ASSERT_EQ(d.start({e.build->name, "3"}), 0);
        Texts sent = sent_in(d, host, 5); // send phases 1 and 2
        EXPECT_EQ(sent[0], e.reads_isend ? "`move 1 2\n" : "`");
        EXPECT_EQ(host.files.count(root.path("u/tarnu/mokel/isend")), !e.reads_isend);
        host.db = {{"qor.ss", "10"}, {"qor.s1", "move_1_2"}};
        sent.push_back(sent_in(d, host, 3).at(0));
        EXPECT_EQ(sent[2], "`move 01:00:00.0  02:00:00\n");
        EXPECT_EQ(d.mailbox.send_again(), e.keeps_move ? sent[2].substr(1) : "");
        for (const auto& s : sent_in(d, host, 33)) sent.push_back(s);
        EXPECT_EQ((Texts{sent[1], sent[5], sent[9], sent[13]}), e.traffic);
        d.receive(status_record());
        EXPECT_EQ(host.out.find("  job: ") != std::string::npos, e.job_line_in_mode_3);
    }

    // scopelink66's test traffic runs in every mode, its seconds never wrap.
    FakeHost host;
    Daemon d(scopelink66_build, host);
    ASSERT_EQ(d.start({"scopelink66"}), 0);
    Texts sent = sent_in(d, host, 482 * 3 - 1);
    EXPECT_EQ(sent[481], "`move 12:34:60 12:13:14\n");
}

TEST(BuildDifferences, RestartRequest) {
    TempRoot root;
    auto started = [&](const Build& b, FakeHost& host, Daemon& d) {
        host.files.erase(root.path("u/tarnu/qorlib/boot.log"));
        host.db = {{"variables.obsnum", "5"}, {"qor.ss", "00"}, {"qor.pp", "00"}};
        host.exp3 = idle_exp3;
        EXPECT_EQ(d.start({b.name}), 0);
        d.mailbox.resend_later("move 01:00:00.0  10:00:00\n");
        host.events.clear();
        host.db["variables.obsnum"] = "6";
        host.t = at(21, 5, 7.5);
        host.inbound.push_back("TI\n");
    };
    // Full and USB: a new instance of telelink, the name both are installed as.
    for (const Build* b : {&telelink_build, &telelinkusb_build}) {
        FakeHost host;
        Daemon d(*b, host);
        started(*b, host, d);
        EXPECT_FALSE(d.cycle());
        EXPECT_EQ(host.backgrounds, std::vector<qor::Argv>{{qor::tool_path("telelink")}});
    }
    // scopelink66: in the same process, the move resent without a word.
    {
        FakeHost host;
        Daemon d(scopelink66_build, host);
        started(scopelink66_build, host, d);
        EXPECT_TRUE(d.cycle());
        EXPECT_EQ(host.events, (Texts{"close", "open ttyS0"}));
        EXPECT_EQ(host.content(root.path("u/tarnu/qorlib/boot.log")),
                  "0 Tue Dec  8 21:05:08 2026\n");
        EXPECT_EQ(d.job.obsnum(), 6);
        EXPECT_TRUE(host.db.count("qor.p1") == 0); // not posted
        EXPECT_EQ(sent_in(d, host, 3), Texts{"`move 01:00:00.0  10:00:00\n"});
        EXPECT_EQ(host.out.find("send again"), std::string::npos);
    }
    // Basic: "TI" is a reply like any other.
    {
        FakeHost host;
        Daemon d(scopelink4_build, host);
        started(scopelink4_build, host, d);
        EXPECT_TRUE(d.cycle());
        EXPECT_EQ(host.db["qor.p1"], "21:05:08_TI");
        EXPECT_EQ(host.count("close"), 0);
        EXPECT_TRUE(host.backgrounds.empty());
    }
}

TEST(Linktest, RhythmAndWhatItPrints) {
    TempRoot root;
    FakeHost host;
    LineTester tester(host);
    ASSERT_EQ(tester.start(), 0);
    EXPECT_EQ(host.out, "BAUD: 9600\n");
    EXPECT_EQ(host.events, (Texts{"chmod 777 ttyS0", "open ttyS0"}));
    // Second by second: the poll every 4 s, the test move in the 5th and
    // 37th second, the filter test 12 s after it; nothing framed.
    std::map<int, std::string> at_second;
    for (int s = 1; s <= 40; ++s) {
        std::size_t before = host.writes.size();
        tester.cycle();
        for (std::size_t i = before; i < host.writes.size(); ++i) at_second[s] += host.writes[i];
    }
    std::map<int, std::string> expected;
    for (int s = 2; s <= 40; s += 4) expected[s] = "`";
    expected[5] = expected[37] = "movv 12:34:56.0 56:34:12\n";
    expected[17] = "filt g\n";
    EXPECT_EQ(at_second, expected);

    host.out.clear();
    host.inbound = {std::string(69, 'a') + "12 34'56\"7=" + std::string(20, 'z'), "`ok\n"};
    tester.cycle();
    tester.cycle();
    EXPECT_EQ(host.out, "R(31): 12_34:56.70" + std::string(20, 'z') + "R(4): `ok\n");

    FakeHost h2;
    h2.open_fails = true;
    LineTester failing(h2);
    EXPECT_EQ(failing.start(), -1);
    EXPECT_EQ(h2.out, "uart open err: No such file or directory\n");
}
