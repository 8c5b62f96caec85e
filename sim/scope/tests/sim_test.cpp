// The far end's behaviour with a stepped clock: slews, filter changes,
// replies, time checks and the fault requests, without a line.
#include "files.h"
#include "scratch.h"
#include "sim.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <random>
#include <unistd.h>

using namespace qor::scope;

namespace {

class SimTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir = scratch.dir();
        std::filesystem::create_directories(dir + "/var/scope");
        cfg.root = dir;
        cfg.status_interval = 1;
        cfg.slew_rate = 1;
        cfg.filter_time = 2;
        cfg.ti_interval = 0;
        cfg.quote_every = 0;
        cfg.start_ra = 1;
        cfg.start_dec = 10;
    }

    // Runs the clock forward, "writing" everything due; returns what went out.
    std::vector<Outgoing> run_until(Sim& sim, double until) {
        std::vector<Outgoing> sent;
        for (; t <= until; t += 0.05) {
            sim.advance(t);
            while (!sim.outbox().empty()) {
                sim.on_sent(sim.outbox().front(), t);
                sent.push_back(sim.outbox().front());
                sim.outbox().pop_front();
            }
        }
        return sent;
    }
    static std::vector<std::string> replies(const std::vector<Outgoing>& v) {
        std::vector<std::string> r;
        for (auto& o : v)
            if (o.what == "reply") r.push_back(o.bytes);
        return r;
    }
    static std::vector<std::string> statuses(const std::vector<Outgoing>& v) {
        std::vector<std::string> r;
        for (auto& o : v)
            if (o.status) r.push_back(o.bytes);
        return r;
    }
    std::string scope_log() { return qor::read_file(dir + "/var/scope/scope.log").value_or(""); }
    void host_sends(Sim& sim, const std::string& bytes) { sim.receive({bytes, t}, t); }

    qor::test::Scratch scratch{"scopesim-unit"};
    std::string dir;
    Config cfg;
    double t = 946728000; // J2000.0: no precession to speak of
};

} // namespace

TEST_F(SimTest, MoveSlewsVisiblyAtTheRateAndRepliesWhenDone) {
    Log log(dir + "/var/scope", false);
    Sim sim(cfg, log, t);
    run_until(sim, t + 1.5);
    // 5 degrees of declination at 1 degree a second.
    host_sends(sim, "`move 01:00:00.0  15:00:00\n");
    auto out = run_until(sim, t + 2.2);
    EXPECT_TRUE(replies(out).empty());
    auto st = statuses(out);
    ASSERT_GE(st.size(), 2u);
    std::string a = st[st.size() - 2], b = st.back();
    EXPECT_EQ(b[1 + 50], 'S');
    EXPECT_NE(a.substr(1 + 52, 2), b.substr(1 + 52, 2)); // the host's motion test sees it
    EXPECT_NE(a.substr(1 + 30, 11), b.substr(1 + 30, 11));
    EXPECT_TRUE(sim.mount().slewing);

    out = run_until(sim, t + 4);
    EXPECT_EQ(replies(out), std::vector<std::string>{"move done\n"});
    EXPECT_FALSE(sim.mount().slewing);
    out = run_until(sim, t + 1.1);
    EXPECT_EQ(statuses(out).back().substr(1 + 50, 4), "TR00");
    EXPECT_NEAR(sim.mount().dec_deg, 15, 0.01);
    EXPECT_NE(scope_log().find("slew done"), std::string::npos);

    // A move that cannot be done is refused at once; so is an unknown command.
    host_sends(sim, "`move 12:00:00.0 -95:00:00\n");
    host_sends(sim, "`park\n");
    out = run_until(sim, t + 0.1);
    auto r = replies(out);
    ASSERT_EQ(r.size(), 2u);
    EXPECT_TRUE(r[0].starts_with("move error")) << r[0];
    EXPECT_EQ(r[1][5], 'e') << r[1];
    EXPECT_FALSE(sim.mount().slewing);
}

TEST_F(SimTest, FilterTurnsTakesTimeUsesTheSiteTableAndRefusesUnknownOnes) {
    std::filesystem::create_directories(dir + "/u/tarnu");
    qor::replace_file(dir + "/u/tarnu/FILTER", "B 11\nV 12\nR 13\nx 0\n");
    Log log(dir + "/var/scope", false);
    Sim sim(cfg, log, t);
    host_sends(sim, "`filt R\n");
    auto out = run_until(sim, t + 1.5);
    EXPECT_TRUE(replies(out).empty());
    EXPECT_EQ(statuses(out).back().substr(1 + 54, 6), "MV0001");
    out = run_until(sim, t + 1.5);
    EXPECT_EQ(replies(out), std::vector<std::string>{"filt done\n"});
    EXPECT_EQ(sim.filter(), 13);
    EXPECT_EQ(statuses(out).back().substr(1 + 54, 6), "OK0013");

    host_sends(sim, "`filt q\n");
    out = run_until(sim, t + 0.1);
    ASSERT_EQ(replies(out).size(), 1u);
    EXPECT_EQ(replies(out)[0][5], 'e');
    EXPECT_EQ(sim.filter(), 13);

    // The site's table may give a letter the number 0; that is a filter too.
    host_sends(sim, "`filt x\n");
    out = run_until(sim, t + 2.5);
    EXPECT_EQ(replies(out), std::vector<std::string>{"filt done\n"});
    EXPECT_EQ(sim.filter(), 0);
}

TEST_F(SimTest, TimeRequestsAreCheckedAgainstTheHostClock) {
    cfg.ti_interval = 5;
    Log log(dir + "/var/scope", false);
    Sim sim(cfg, log, t);
    auto out = run_until(sim, t + 5.1);
    int asked = 0;
    for (auto& o : out) asked += o.bytes == "ti\n";
    EXPECT_EQ(asked, 1);

    // Answer with our own local clock: matches. Then a wrong one, then none.
    std::time_t now = static_cast<std::time_t>(t);
    std::tm tm{};
    localtime_r(&now, &tm);
    char good[16];
    std::strftime(good, sizeof good, "`%H%M%S\n", &tm);
    sim.receive({good, std::floor(t) + 0.01}, t);
    EXPECT_NE(scope_log().find("matches host clock"), std::string::npos);

    run_until(sim, t + 5);
    now = static_cast<std::time_t>(t) + 300;
    localtime_r(&now, &tm);
    char bad[16];
    std::strftime(bad, sizeof bad, "`%H%M%S\n", &tm);
    sim.receive({bad, t}, t);
    EXPECT_NE(scope_log().find("does not match host clock"), std::string::npos);

    run_until(sim, t + 12); // asked again, never answered
    EXPECT_NE(scope_log().find("time request: no answer"), std::string::npos);
}

TEST_F(SimTest, FaultRequestsFromTheControlLine) {
    Log log(dir + "/var/scope", false);
    Sim sim(cfg, log, t);
    sim.control("split 20", t);
    sim.control("TI", t);
    sim.control("reply hello\\sworld", t);
    sim.control("send \\x60\\x00", t);
    sim.control("garbage 7", t);
    sim.control("reply bad\\", t); // malformed: nothing sent
    auto& q = sim.outbox();
    ASSERT_EQ(q.size(), 6u);
    EXPECT_EQ(q[0].bytes.size(), 20u);
    EXPECT_FALSE(q[0].wait_read);
    EXPECT_TRUE(q[1].wait_read);
    std::string whole = q[0].bytes + q[1].bytes;
    EXPECT_EQ(whole.size(), 69u);
    EXPECT_EQ(whole.front(), '`');
    EXPECT_EQ(whole.back(), '\n');
    EXPECT_EQ(q[2].bytes, "TI\n");
    EXPECT_EQ(q[3].bytes, "hello world\n");
    EXPECT_EQ(q[4].bytes, std::string("`\0", 2));
    EXPECT_EQ(q[5].bytes.size(), 7u);
    q.clear();

    sim.control("fail", t);
    host_sends(sim, "`move 01:00:00.0  10:00:00\n");
    EXPECT_EQ(q.size(), 1u);
    EXPECT_EQ(q.front().bytes[5], 'e');
    EXPECT_FALSE(sim.mount().slewing);
    q.clear();

    sim.control("noreply", t);
    host_sends(sim, "`filt 3\n");
    run_until(sim, t + 3);
    EXPECT_EQ(sim.filter(), 1);

    sim.control("pause", t);
    EXPECT_TRUE(statuses(run_until(sim, t + 3)).empty());
    sim.control("resume", t);
    sim.control("position 06:00:00.0 -20:00:00", t);
    sim.control("clock 3600", t);
    sim.control("quotes 1", t);
    auto st = statuses(run_until(sim, t + 1.5));
    ASSERT_FALSE(st.empty());
    EXPECT_EQ(st.back().substr(1 + 20, 21), "06'00'00\"0-20'00'00\"0");
    sim.control("stop", t);
    EXPECT_TRUE(sim.stop_requested());
}

TEST_F(SimTest, QueuedStatusRecordsCoalesceWhileTheHostIsNotReading) {
    Log log(dir + "/var/scope", false);
    Sim sim(cfg, log, t);
    for (int i = 0; i < 50; ++i) {
        t += 1.0;
        sim.advance(t);
    }
    sim.control("reply a", t);
    t += 1.0;
    sim.advance(t);
    int status = 0;
    for (auto& o : sim.outbox()) status += o.status;
    EXPECT_EQ(status, 1);
    EXPECT_EQ(sim.outbox().size(), 2u);
}

TEST_F(SimTest, HostileBytesAndControlLinesNeverBreakTheReplyForm) {
    Log log(dir + "/var/scope", false);
    Sim sim(cfg, log, t);
    Splitter splitter;
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> byte(0, 255), len(0, 80), pick(0, 5);
    const std::string pieces[] = {"`", "move ", "filt ", ":", "-", "\n"};
    for (int i = 0; i < 2000; ++i) {
        std::string chunk;
        for (int n = len(rng); n > 0; --n)
            chunk +=
                pick(rng) == 0 ? pieces[pick(rng)] : std::string(1, static_cast<char>(byte(rng)));
        std::vector<Record> recs;
        splitter.feed(chunk, t, recs);
        splitter.flush_if_quiet(t + 1, recs);
        for (auto& r : recs) sim.receive(r, t);
        if (i % 50 == 0) sim.control(chunk.substr(0, chunk.find('\n')), t);
        t += 0.2;
        sim.advance(t);
        while (!sim.outbox().empty()) {
            Outgoing o = sim.outbox().front();
            sim.outbox().pop_front();
            if (o.what != "reply") continue;
            EXPECT_LT(o.bytes.size(), 54u);
            EXPECT_NE(o.bytes.front(), '`');
            EXPECT_FALSE(o.bytes.starts_with("ti") || o.bytes.starts_with("TI"));
            EXPECT_EQ(o.bytes.find('\n'), o.bytes.size() - 1);
        }
    }
    EXPECT_NE(scope_log().find("unknown command"), std::string::npos);
}
