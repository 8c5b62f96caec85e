// Random bytes from the far end and from the tools: the cycle goes on, no
// state grows. LINK_FUZZ_CYCLES sets a longer run (default a few thousand).
#include "daemon.h"
#include "fake_host.h"

#include <gtest/gtest.h>
#include <random>

using namespace qlink;
using namespace qlink::test;

namespace {

std::string random_text(std::mt19937& rng, std::size_t max) {
    std::uniform_int_distribution<std::size_t> len(0, max);
    std::uniform_int_distribution<int> byte(0, 255);
    std::string s(len(rng), '\0');
    for (char& c : s) c = static_cast<char>(byte(rng));
    return s;
}

// A status record with a few characters changed at random.
std::string mutated_record(std::mt19937& rng) {
    std::string r = "`21:05:07.421:05:07.412:34:56.7+12:34:56.70:00:00.0ABCDEF0003XYZ1234\n";
    std::uniform_int_distribution<std::size_t> pos(0, r.size() - 1);
    std::uniform_int_distribution<int> byte(0, 255), count(0, 3);
    for (int i = count(rng); i > 0; --i) r[pos(rng)] = static_cast<char>(byte(rng));
    if (byte(rng) < 64) r += r; // two records in one read
    if (byte(rng) < 32) r.resize(pos(rng));
    return r;
}

} // namespace

TEST(Fuzz, RandomInputNeverStopsTheCycle) {
    TempRoot root;
    long cycles = 2500;
    if (const char* env = std::getenv("LINK_FUZZ_CYCLES")) cycles = std::atol(env);
    std::mt19937 rng(20261208);
    std::uniform_int_distribution<int> pick(0, 9);

    FakeHost host;
    host.t = at(18, 0, 0);
    auto daemon = std::make_unique<Daemon>(telelink_build, host);
    ASSERT_EQ(daemon->start({"telelink", std::to_string(pick(rng) % 3)}), 0);
    for (long i = 0; i < cycles; ++i) {
        switch (pick(rng)) {
        case 0:
            host.inbound.push_back(random_text(rng, 255));
            break;
        case 1:
        case 2:
        case 3:
            host.inbound.push_back(mutated_record(rng));
            break;
        case 4:
            host.inbound.push_back("ti" + random_text(rng, 10));
            break;
        case 5:
            host.db["qor.ss"] = random_text(rng, 3);
            break;
        case 6:
            host.db["qor.s" + std::string(1, "0123"[i % 4])] =
                (i % 2 ? "move_" : "") + random_text(rng, 40);
            break;
        case 7:
            host.exp3 = random_text(rng, 120);
            break;
        case 8:
            host.db["variables.obsnum"] = random_text(rng, 12);
            break;
        default:
            break;
        }
        if (i % 997 == 0) host.inbound.push_back("TI" + random_text(rng, 5));
        if (!daemon->cycle()) {
            ASSERT_EQ(daemon->exit_status(), 0); // only a restart ends it
            daemon = std::make_unique<Daemon>(telelink_build, host);
            ASSERT_EQ(daemon->start({"telelink"}), 0);
        }
        ASSERT_LE(daemon->v1.size(), 80u);
        ASSERT_LE(daemon->send_buf.size(), 256u);
        ASSERT_LE(daemon->send_again.size(), 256u);
        for (const auto& w : host.writes) ASSERT_LE(w.size(), 257u);
        host.writes.clear();
        host.events.clear();
        host.runs.clear();
        host.captures.clear();
        host.backgrounds.clear();
        host.sleeps.clear();
        host.out.clear();
    }
}
