// A short night against the simulators: batchcheck first, then qorobs with
// its prompts answered, the real daemon and the simulated telescope and
// camera. What must hold: every line marked and logged, every frame there,
// the moves on the wire carrying the dithered J2000 positions, and exp.dat
// as the quick-look reads it for every frame.
#include "clock.h"
#include "driver.h"
#include "files.h"
#include "temp_site.h"

#include <ctime>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

using qor::test::TempSite;
using namespace std::chrono_literals;

namespace {

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> out;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        out.push_back(text.substr(pos, end - pos));
        pos = end + 1;
    }
    return out;
}

// What the telescope computer received of a move, as its log writes it.
std::string on_the_wire(const qobs::Pointing& p) {
    return "`move " + p.ra_text + " " + (p.dec_text[0] == '-' ? "" : " ") + p.dec_text + "\\n";
}

} // namespace

TEST(BatchNight, FromBatchFileToFrames) {
    TempSite site(qor::test::SiteOptions{64, 1});
    ASSERT_TRUE(site.ok()) << site.error();
    ASSERT_EQ(site.run({"scopesim", "--daemon", "--ti-interval", "0", "--status-interval", "1",
                        "--slew-rate", "30", "--filter-time", "1"}),
              0);
    ASSERT_TRUE(
        TempSite::wait_for([&] { return std::filesystem::exists(site.path("/dev/ttyS0")); }, 5s));
    // newimage0 keeps a copy of exp.dat for every frame.
    std::string keep = site.tool("newimage0");
    std::filesystem::remove(keep);
    qor::replace_file(keep, "#!/bin/sh\n{ cat \"$QOR_ROOT/u/tarnu/mokel/exp.dat\"; echo; echo "
                            "--; } >>\"$QOR_ROOT/var/log/expdat.log\"\n");
    std::filesystem::permissions(keep, std::filesystem::perms::owner_all);

    const std::string m42 = "A001 R 0.5 2 05:35:17.3 -05:23:28 2000 0 0 64 64 1 f M42\n";
    const std::string m1 = "C002 V 0.5 2 05:31:30.0 21:58:00 1950 0 0 64 64 0 s M1\n";
    const std::string comment = "##  two lines tonight\n";
    std::string batch = site.root() + "/night.batch";
    qor::replace_file(batch, comment + m42 + m1);

    auto plan = site.capture({site.tool("batchcheck"), batch});
    EXPECT_EQ(plan.status, 0) << plan.out;
    EXPECT_NE(plan.out.find("line 2: M42, 2 frames of 0.5 s, filter R (posted), J2000 "
                            "05:35:17.3 -05:23:28, move due"),
              std::string::npos)
        << plan.out;
    std::string bad = site.root() + "/bad.batch";
    qor::replace_file(bad, m42 + "A003 R 0.5 2 05:35:17.3 -05:23:28 20O0 0 0 64 64 1 f M42\n" +
                               "A004 R 0.5 2 1 1 2000 0 0 64 64 1 f M" + std::string(1, '\0') + "\x1b[2J\n");
    auto faults = site.capture({site.tool("batchcheck"), bad});
    EXPECT_EQ(faults.status, 1);
    EXPECT_NE(faults.out.find("line 2, field 7 (equinox): '20O0' is not a year"),
              std::string::npos);
    // Control bytes are shown, not sent to the terminal, and cut nothing.
    EXPECT_NE(faults.out.find("line 3, field 14 (object name): holds the control character \\x00"),
              std::string::npos)
        << faults.out;
    EXPECT_EQ(faults.out.find('\x1b'), std::string::npos);

    qor::replace_file(site.root() + "/answers", "1\nAda Lovelace\n");
    float a_ep = qobs::epoch_of_date(qor::asctime_text(std::time(nullptr)));
    // Through a pipe, as "qorobs ... | tee log" reads it: the pipe closes
    // when qorobs ends, since the daemon it starts logs to the site.
    auto run = site.capture({"bash", "-c", "exec \"$0\" \"$1\" <\"$2\" 2>&1", site.tool("qorobs"),
                             batch, site.root() + "/answers"},
                            1 << 20, 240);
    std::string out = run.out;
    ASSERT_FALSE(run.timed_out) << out;
    ASSERT_EQ(run.status, 0) << out;
    EXPECT_NE(qor::read_file(site.path("/u/tarnu/qorlib/telelink.log")).value_or("").find("BAUD"),
              std::string::npos);
    ASSERT_NE(out.find("finish"), std::string::npos) << out;

    EXPECT_EQ(qor::read_file(batch), comment + "v   " + m42 + "v   " + m1);
    std::string log = qor::read_file(site.path("/u/tarnu/qorlib/obs.log")).value_or("");
    EXPECT_NE(log.find(m42 + "\nfilt_R\n"), std::string::npos) << log;
    EXPECT_NE(log.find(m1 + "\nfilt_V\n"), std::string::npos) << log;
    EXPECT_EQ(qor::read_file(site.path("/u/tarnu/status/nowjob.txt")), m1);
    for (int n = 1; n <= 4; ++n) {
        EXPECT_TRUE(qor::file_exists(site.path("/data/d" + std::to_string(n) + ".ccd"))) << n;
    }

    // Moves as received: both frames of line A dithered, line C's own
    // position brought from 1950 to J2000 (its second frame may need none).
    std::vector<std::string> moves;
    for (const auto& l :
         lines_of(qor::read_file(site.path("/var/scope/received.log")).value_or(""))) {
        auto at = l.find("`move");
        if (at != std::string::npos) moves.push_back(l.substr(at));
    }
    auto c0 = on_the_wire(qobs::getradec(*qor::parse_batch_line(m1).line, 0, a_ep));
    ASSERT_GE(moves.size(), 3u);
    EXPECT_EQ(moves[0], on_the_wire(qobs::getradec(*qor::parse_batch_line(m42).line, 0, a_ep)));
    EXPECT_EQ(moves[1], on_the_wire(qobs::getradec(*qor::parse_batch_line(m42).line, 1, a_ep)));
    EXPECT_EQ(moves[1], "`move 05:35:19.0 -05:23:28\\n");
    EXPECT_EQ(moves[2], c0);
    for (std::size_t i = 3; i < moves.size(); ++i) EXPECT_EQ(moves[i], c0);

    // exp.dat of every frame: number, instrument state, line code, the
    // telescope's position, object, nsc and nsr.
    auto copies = qor::read_file(site.path("/var/log/expdat.log")).value_or("");
    auto l = lines_of(copies);
    ASSERT_EQ(l.size(), 4u * 8) << copies;
    for (int f = 0; f < 4; ++f) {
        const std::string* e = &l[f * 8];
        EXPECT_EQ(e[0], std::to_string(f + 1));
        EXPECT_EQ(e[1].size(), 10u);
        EXPECT_EQ(e[1].substr(6), f < 2 ? "0004" : "0003"); // R, then V in the beam
        EXPECT_EQ(e[2], f < 2 ? "A001" : "C002");
        EXPECT_EQ(e[3].size(), 10u);
        EXPECT_EQ(e[3][2], ':');
        EXPECT_EQ(e[4].size(), 10u);
        EXPECT_EQ(e[5], f < 2 ? "M42" : "M1");
        EXPECT_EQ(e[6], "64 64");
    }
}
