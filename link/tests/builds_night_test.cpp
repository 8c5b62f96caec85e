// The other builds, linktest and the daemon's faults in real time, against
// the simulated telescope on its pseudo-terminal.
#include "night.h"

#include <csignal>
#include <fcntl.h>
#include <termios.h>
#include <thread>

using namespace qlink::test;

namespace {

std::vector<std::string> every(const std::vector<std::string>& all, std::vector<int> indexes) {
    std::vector<std::string> out;
    for (int i : indexes) out.push_back(i < static_cast<int>(all.size()) ? all[i] : "<none>");
    return out;
}

} // namespace

TEST_F(Night, UsbBuildSendsItsTestTrafficOnAPortOpenedOnce) {
    start_scope({"--status-interval", "3"});
    daemon = start("telelinkusb", {"3"});
    // Send phase 22 is the third filter test.
    ASSERT_TRUE(wait_received("`filt x\\n", 3, 120s)) << output("telelinkusb");
    auto sent = send_phases();
    EXPECT_EQ(every(sent, {1, 9, 17}), (std::vector<std::string>{"`movv 12:34:00.2 25:00:00\\n",
                                                                 "`movv 12:34:02.2 25:00:00\\n",
                                                                 "`movv 12:34:04.2 25:00:00\\n"}));
    EXPECT_EQ(every(sent, {5, 13, 21}), std::vector<std::string>(3, "`filt x\\n"));
    EXPECT_EQ(std::count(sent.begin(), sent.begin() + 22, "`"), 16);
    // One permission command: the port was opened once.
    EXPECT_EQ(site.log_lines("sudo"),
              std::vector<std::string>{"sudo chmod 777 " + site.path("/dev/ttyUSB0")});
}

TEST_F(Night, Scopelink66TestMovesAndRestartInItsOwnProcess) {
    start_scope({"--status-interval", "3", "--slew-rate", "90"});
    site.set_key("setups.qor.s1.value", "move_01:00:00_+10:00:00");
    site.set_key("setups.qor.ss.value", "10");
    daemon = start("scopelink66");
    ASSERT_TRUE(wait_received("`move 12:34:01 12:13:14\\n", 1, 60s)) << output("scopelink66");
    auto sent = send_phases();
    const std::string move = "`move 01:00:00.0  10:00:00\\n";
    EXPECT_EQ(every(sent, {0, 1, 9}), (std::vector<std::string>{move, "`move 12:34:00 12:13:14\\n",
                                                                "`move 12:34:01 12:13:14\\n"}));
    // "TI": logged, the port closed and opened again, the last move resent.
    control("TI");
    ASSERT_TRUE(wait_received(move, 2, 15s)) << output("scopelink66");
    EXPECT_TRUE(alive(daemon));
    EXPECT_EQ(file("/u/tarnu/qorlib/boot.log").substr(0, 2), "0 ");
    EXPECT_NE(output("scopelink66").find("I reboot telelink!!\n"), std::string::npos);
    for (const char* slot : {"p0", "p1", "p2", "p3"}) // the "TI" text is not posted
        EXPECT_EQ(key(std::string("setups.qor.") + slot + ".value").find("_TI"), std::string::npos);
}

TEST_F(Night, BasicBuildPostsTIAsAReplyAndGoesOn) {
    start_scope({"--status-interval", "3"});
    daemon = start("scopelink4");
    ASSERT_TRUE(wait_received("`", 1, 10s));
    control("TI");
    ASSERT_TRUE(TempSite::wait_for([&] { return key("setups.qor.pp.value") == "10"; }, 10s));
    EXPECT_EQ(key("setups.qor.p1.value").substr(8), "_TI");
    int polls = count_received("`");
    EXPECT_TRUE(wait_received("`", polls + 1, 10s));
    EXPECT_TRUE(alive(daemon));
}

TEST_F(Night, LinktestRhythmAndWhatItPrints) {
    start_scope({"--status-interval", "3600"});
    pid_t tester = start("linktest");
    ASSERT_TRUE(wait_output("BAUD: 9600\n", "linktest"));
    const std::string tail = "0123456789abcdefghijklmnopqrstu"; // 31 characters
    control("send " + std::string(69, 'x') + tail);
    const std::string move = "movv 12:34:56.0 56:34:12\\n";
    ASSERT_TRUE(wait_received(move, 2, 60s)) << output("linktest");
    EXPECT_NE(output("linktest").find("R(31): " + tail), std::string::npos) << output("linktest");
    // The poll every 4 s, the test move every 32 s from the 5th second, the
    // filter test 12 s after it: by order and count, and roughly by time.
    std::vector<std::string> texts;
    std::vector<double> times;
    for (const auto& r : received()) {
        texts.push_back(r.text);
        times.push_back(r.t);
    }
    std::vector<std::string> expected{"`", move, "`", "`", "`", "filt g\\n"};
    for (int i = 0; i < 5; ++i) expected.push_back("`");
    expected.push_back(move);
    texts.resize(std::min(texts.size(), expected.size()));
    EXPECT_EQ(texts, expected);
    EXPECT_NEAR(times[5] - times[1], 12, 2);
    EXPECT_NEAR(times[11] - times[1], 32, 4);
    EXPECT_TRUE(alive(tester));
}

TEST_F(Night, APortThatCannotBeOpenedEndsEveryProgram) {
    ASSERT_TRUE(site.ok()) << site.error();
    for (const char* program :
         {"telelink", "telelinkusb", "scopelink4", "scopelink66", "linktest"}) {
        auto r = site.capture({site.tool(program)});
        EXPECT_EQ(r.status, 255) << program;
        EXPECT_NE(r.out.find("uart open err: No such file or directory\n"), std::string::npos)
            << program << ": " << r.out;
    }
}

