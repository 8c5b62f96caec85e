// The full build in real time, in a temporary site, against the simulated
// telescope control computer and the simulated camera.
#include "night.h"

#include <csignal>
#include <ctime>
#include <thread>

using namespace qlink::test;

TEST_F(Night, LineTrafficMailboxAndTimeAnswers) {
    start_scope({"--status-interval", "2", "--quote-every", "2", "--filter-time", "1"});
    start_daemon();
    ASSERT_TRUE(wait_received("`\\x00"));
    // A poll every third look at the line: never two within two seconds,
    // and none left out for long, even on a busy machine.
    ASSERT_TRUE(wait_received("`", 3, 20s));
    std::vector<double> polls;
    for (const auto& r : received())
        if (r.text == "`") polls.push_back(r.t);
    for (std::size_t i = 1; i < polls.size(); ++i) {
        EXPECT_GE(polls[i] - polls[i - 1], 2.0);
        EXPECT_LE(polls[i] - polls[i - 1], 9.0);
    }

    // Status records published, quote signs and all.
    ASSERT_TRUE(TempSite::wait_for([&] { return key("setups.qor.v1.value").size() >= 67; }, 5s));
    std::string v1 = key("setups.qor.v1.value");
    EXPECT_EQ(v1.substr(2, 1), ":");
    std::string tele = file("/u/tarnu/status/telescope.txt");
    EXPECT_EQ(std::count(tele.begin(), tele.end(), '\n'), 9) << tele;

    // A posted filter command goes out and its reply comes back stamped.
    site.set_key("setups.qor.pp.value", "00");
    site.set_key("setups.qor.s1.value", "filt_V");
    site.set_key("setups.qor.ss.value", "10");
    ASSERT_TRUE(wait_received("`filt V\\n"));
    EXPECT_EQ(key("setups.qor.ss.value"), "11");
    ASSERT_TRUE(TempSite::wait_for([&] { return key("setups.qor.pp.value") == "10"; }, 8s));
    EXPECT_EQ(key("setups.qor.p1.value").substr(8), "_filt_done");

    // A reply full of shell text is stored as it came and runs nothing.
    control("reply ok$(touch\\sPWNED);`touch\\sPWNED2`|cat>PWNED3");
    ASSERT_TRUE(TempSite::wait_for([&] { return key("setups.qor.pp.value") == "20"; }, 8s));
    EXPECT_EQ(key("setups.qor.p2.value").substr(8), "_ok$(touch_PWNED);`touch_PWNED2`|cat>PWNED3");
    for (const char* f : {"PWNED", "PWNED2", "PWNED3"}) {
        EXPECT_FALSE(std::filesystem::exists(f));
        EXPECT_FALSE(std::filesystem::exists(site.root() + "/" + f));
    }

    // A time request is answered right after the next second boundary.
    control("ti");
    ASSERT_TRUE(TempSite::wait_for(
        [&] { return scope_log().find("matches host clock") != std::string::npos; }, 5s))
        << scope_log();
    EXPECT_TRUE(alive(daemon));
}

TEST_F(Night, RestartHandsOverToANewInstance) {
    start_scope({"--status-interval", "2", "--slew-rate", "90"});
    start_daemon();
    site.set_key("setups.qor.s1.value", "move_01:00:00_+10:00:00");
    site.set_key("setups.qor.ss.value", "10");
    const std::string move = "`move 01:00:00.0  10:00:00\\n";
    ASSERT_TRUE(wait_received(move));
    control("TI");
    // Nine seconds of quiet, then the successor resends the move.
    ASSERT_TRUE(wait_received(move, 2, 20s));
    int status = 0;
    ASSERT_TRUE(
        TempSite::wait_for([&] { return waitpid(daemon, &status, WNOHANG) == daemon; }, 3s));
    EXPECT_TRUE(WIFEXITED(status) || WIFSIGNALED(status));
    std::string boot = file("/u/tarnu/qorlib/boot.log");
    EXPECT_EQ(boot.substr(0, 2), "0 ");
    EXPECT_EQ(boot.size(), 27u);
    EXPECT_FALSE(std::filesystem::exists(site.tool("isend")));
    std::string out = qor::read_file(site.root() + "/telelink.out").value_or("");
    EXPECT_NE(out.find("I reboot telelink!!\n"), std::string::npos);
}

