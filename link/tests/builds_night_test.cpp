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

TEST_F(Night, TelelinkAndScopelink66NeverEndEachOther) {
    start_scope({"--status-interval", "3"});
    pid_t s66 = start("scopelink66", {"1"});
    pid_t full = start("telelink", {"1"});
    ASSERT_TRUE(wait_output("BAUD: 9600\n"));
    ASSERT_TRUE(wait_output("Usage", "scopelink66"));
    std::this_thread::sleep_for(1s);
    EXPECT_TRUE(alive(s66));
    EXPECT_TRUE(alive(full));
    // A stand-in for telelink ends it; scopelink66 goes on.
    pid_t usb = start("telelinkusb");
    int status = 0;
    ASSERT_TRUE(TempSite::wait_for([&] { return waitpid(full, &status, WNOHANG) == full; }, 5s));
    EXPECT_TRUE(alive(s66));
    EXPECT_TRUE(alive(usb));
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

TEST_F(Night, TheSitesBaudFileSetsTheLine) {
    ASSERT_TRUE(site.ok()) << site.error();
    start_scope({"--status-interval", "3"});
    qor::replace_file(site.tool("BAUD"), "12345\n");
    auto r = site.capture({site.tool("telelink")});
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.out, "BAUD: 12345\nFailed to tcgetattr: Invalid argument\nset_com failed!\n");

    qor::replace_file(site.tool("BAUD"), "# line speed\n19200\n");
    start_daemon();
    ASSERT_TRUE(wait_received("`\\x00"));
    termios t{};
    int fd = open(site.path("/dev/ttyS0").c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(tcgetattr(fd, &t), 0);
    close(fd);
    EXPECT_EQ(cfgetospeed(&t), B19200);
    EXPECT_EQ(output(), "BAUD: 19200\n");
}

// exp3, the key tools and sudo all hang: each is ended at the time limit
// and the line goes on, with polls, telescope.txt and time answers.
TEST_F(Night, HungToolsDoNotStopTheLine) {
    start_scope({"--status-interval", "3"});
    for (const char* p : {"exp3", "dbshow", "dbset", "sudo"})
        site.set_key(std::string("sim.hang.") + p, "1");
    setenv("QOR_TIME_LIMIT", "1", 1);
    start_daemon();
    unsetenv("QOR_TIME_LIMIT");
    ASSERT_TRUE(wait_received("`", 3, 30s)) << output();
    ASSERT_TRUE(
        TempSite::wait_for([&] { return !file("/u/tarnu/status/telescope.txt").empty(); }, 10s));
    std::string first = file("/u/tarnu/status/telescope.txt");
    ASSERT_TRUE(
        TempSite::wait_for([&] { return file("/u/tarnu/status/telescope.txt") != first; }, 15s));
    EXPECT_NE(output().find("exp3 gave no exposure state"), std::string::npos);
    control("ti");
    EXPECT_TRUE(TempSite::wait_for(
        [&] { return scope_log().find("time answer") != std::string::npos; }, 15s));
    // The camera system answers again: v1 is published again.
    std::string v1 = key("setups.qor.v1.value");
    for (const char* p : {"exp3", "dbshow", "dbset", "sudo"})
        site.set_key(std::string("sim.hang.") + p, "0");
    EXPECT_TRUE(TempSite::wait_for([&] { return key("setups.qor.v1.value") != v1; }, 15s));
    EXPECT_TRUE(alive(daemon));
}

// The cable is pulled and plugged in again: the daemon says so, takes no
// command meanwhile, and once the line is back the command goes out and
// status flows again.
TEST_F(Night, AnUnpluggedLineComesBack) {
    start_scope({"--status-interval", "1"});
    start_daemon({"1"});
    ASSERT_TRUE(wait_received("`", 1, 10s));
    control("unplug");
    ASSERT_TRUE(wait_output("serial line lost"));
    site.set_key("setups.qor.s1.value", "filt_V");
    site.set_key("setups.qor.ss.value", "10");
    std::this_thread::sleep_for(4s); // more than one send phase
    EXPECT_EQ(key("setups.qor.ss.value"), "10");
    control("plug");
    ASSERT_TRUE(wait_output("serial line back\n"));
    ASSERT_TRUE(wait_received("`filt V\\n", 1, 10s)) << output();
    EXPECT_EQ(key("setups.qor.ss.value"), "11");
    std::string v1 = key("setups.qor.v1.value");
    EXPECT_TRUE(TempSite::wait_for([&] { return key("setups.qor.v1.value") != v1; }, 10s));
    EXPECT_TRUE(alive(daemon));
}
