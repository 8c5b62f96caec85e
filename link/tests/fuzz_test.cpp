// Random bytes from the far end and from the tools: the cycle goes on and
// no state grows. LINK_FUZZ_CYCLES sets a longer run.
#include "daemon.h"
#include "fake_host.h"

#include <gtest/gtest.h>
#include <random>

using namespace qlink;
using namespace qlink::test;

TEST(Fuzz, RandomInputNeverStopsTheCycle) {
    TempRoot root;
    long cycles = 2500;
    if (const char* env = std::getenv("LINK_FUZZ_CYCLES")) cycles = std::atol(env);
    std::mt19937 rng(20261208);
    auto number = [&](int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng); };
    auto random_text = [&](int max) {
        std::string s(static_cast<std::size_t>(number(max + 1)), '\0');
        for (char& c : s) c = static_cast<char>(number(256));
        return s;
    };
    // A status record with a few characters changed, doubled or cut.
    auto mutated = [&] {
        std::string r = "`21:05:07.421:05:07.412:34:56.7+12:34:56.70:00:00.0ABCDEF0003XYZ1234\n";
        for (int i = number(4); i > 0; --i) r[number(69)] = static_cast<char>(number(256));
        if (number(4) == 0) r += r;
        if (number(8) == 0) r.resize(number(69));
        return r;
    };

    FakeHost host;
    host.t = at(18, 0, 0);
    auto daemon = std::make_unique<Daemon>(telelink_build, host);
    ASSERT_EQ(daemon->start({"telelink", std::to_string(number(3))}), 0);
    long published = 0;
    for (long i = 0; i < cycles; ++i) {
        switch (number(10)) {
        case 0:
            host.inbound.push_back(random_text(255));
            break;
        case 1:
        case 2:
        case 3:
            host.inbound.push_back(mutated());
            break;
        case 4:
            host.inbound.push_back("ti" + random_text(10));
            break;
        case 5:
            host.db["qor.ss"] = random_text(3);
            break;
        case 6:
            host.db["qor.s" + std::to_string(i % 4)] = (i % 2 ? "move_" : "") + random_text(40);
            break;
        case 7:
            host.exp3 = random_text(120);
            break;
        case 8:
            host.db["variables.obsnum"] = random_text(12);
            break;
        default:
            break;
        }
        if (i % 997 == 0) host.inbound.push_back("TI" + random_text(5));
        if (!daemon->cycle()) { // only a restart ends it
            ASSERT_EQ(daemon->exit_status(), 0);
            daemon = std::make_unique<Daemon>(telelink_build, host);
            ASSERT_EQ(daemon->start({"telelink"}), 0);
        }
        ASSERT_LE(daemon->status.v1.size(), 80u);
        ASSERT_LE(daemon->mailbox.send_again().size(), 256u);
        for (const auto& w : host.writes) ASSERT_LE(w.size(), 257u);
        for (const auto& r : host.runs) published += r.size() > 1 && r[1] == "v1";
        for (auto* v : {&host.writes, &host.events}) v->clear();
        for (auto* v : {&host.runs, &host.captures, &host.backgrounds}) v->clear();
        host.out.clear();
        host.sleeps.clear();
    }
    EXPECT_GT(published, cycles / 10); // the status path was exercised
}
