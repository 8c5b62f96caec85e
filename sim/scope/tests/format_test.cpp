// What goes over the line: the status record as the host's separator test
// sees it, replies as the host classes them, and what we make of its records.
#include "command.h"
#include "sky.h"
#include "splitter.h"
#include "status.h"
#include "text.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

using namespace qor::scope;

namespace {

// The host's clean-up of a read before it looks at it.
std::string as_host_reads(std::string s) {
    for (char& c : s) {
        if (c == '"') c = '.';
        if (c == '\'') c = ':';
        if (c == ' ') c = '_';
        if (c == '=') c = '0';
    }
    return s;
}

// The host's separator test, positions in the record (backquote at 0).
int separator_mismatches(const std::string& rec) {
    int bad = 0;
    for (int p : {3, 6, 13, 16, 23, 26, 34, 37, 43, 46})
        if (rec.size() <= static_cast<std::size_t>(p) || rec[p] != ':') ++bad;
    for (int p : {9, 19, 29, 40, 49})
        if (rec.size() <= static_cast<std::size_t>(p) || rec[p] != '.') ++bad;
    return bad;
}

StatusFields sample() {
    StatusFields f;
    f.clock_s = 21 * 3600 + 5 * 60 + 7.34;
    f.lst_h = 23.999999;
    f.ra_h = 12 + 34 / 60.0 + 56.7 / 3600;
    f.dec_deg = -(0 + 30 / 60.0);
    f.ha_h = 11.5;
    f.filter = 3;
    return f;
}

} // namespace

TEST(StatusRecord, PassesTheHostSeparatorTestPlainAndQuoted) {
    for (bool quoted : {false, true}) {
        std::string rec = status_record(sample(), quoted);
        ASSERT_EQ(rec.size(), 69u); // outside the host's dropped window 54..68
        EXPECT_EQ(rec.front(), '`');
        EXPECT_EQ(rec.back(), '\n');
        std::string seen = as_host_reads(rec);
        EXPECT_EQ(separator_mismatches(seen), 0) << seen;
        if (quoted) {
            EXPECT_EQ(rec.find(':'), std::string::npos);
            EXPECT_EQ(rec.find('.'), std::string::npos);
        }
        EXPECT_EQ(seen, as_host_reads(status_record(sample(), false)));
    }
}

TEST(StatusRecord, FieldsSitWhereTheHostReadsThem) {
    StatusFields f = sample();
    std::string line = status_line(f);
    ASSERT_EQ(line.size(), status_line_length);
    EXPECT_EQ(line.substr(0, 10), "21:05:07.3");
    EXPECT_EQ(line.substr(10, 10), "00:00:00.0"); // carried into the next day, not 24:00
    EXPECT_EQ(line.substr(20, 10), "12:34:56.7");
    EXPECT_EQ(line.substr(30, 11), "-00:30:00.0"); // south with zero degrees keeps its sign
    EXPECT_EQ(line.substr(41, 9), "9:59:59.9");    // hour angle beyond one digit is capped
    EXPECT_EQ(line.substr(56, 4), "0003");
    EXPECT_EQ(line.substr(50, 6), "TR00OK");

    f.slewing = true;
    f.slew_count = 7;
    f.filter_moving = true;
    f.dome_rotating = false;
    f.dec_deg = 89.99999;
    line = status_line(f);
    EXPECT_EQ(line.substr(50, 10), "SS07MV0003");
    EXPECT_EQ(line.substr(30, 11), "+90:00:00.0");
}

TEST(Sexagesimal, RoundsWithCarryAndEscapesRoundTrip) {
    EXPECT_EQ(hms_text(23 + 59 / 60.0 + 59.96 / 3600), "00:00:00.0");
    EXPECT_EQ(hms_text(1 + 59.99 / 3600), "01:01:00.0");
    EXPECT_EQ(hms_text(-1), "23:00:00.0");
    EXPECT_EQ(dms_text(12 + 34 / 60.0 + 56.44 / 3600), "+12:34:56.4");
    EXPECT_EQ(short_hms_text(1.5), "1:30:00.0");

    std::string all;
    for (int c = 0; c < 256; ++c) all += static_cast<char>(c);
    std::string esc = escape_bytes(all);
    EXPECT_EQ(esc.find('\n'), std::string::npos);
    EXPECT_EQ(unescape_bytes(esc), all);
    EXPECT_EQ(unescape_bytes("a\\sb\\n"), "a b\n");
    EXPECT_FALSE(unescape_bytes("bad\\"));
    EXPECT_FALSE(unescape_bytes("\\x4"));
}

TEST(Replies, AreClassedAsRepliesAndMarkFailureInTheSixthCharacter) {
    std::vector<std::string> good = {done_reply("move"), done_reply("filt")};
    std::vector<std::string> bad = {
        error_reply("move", "bad dec"),         error_reply("filt", "x"),
        error_reply("xy", "unknown command"),   error_reply("time", "unknown command"),
        error_reply("TIME", "unknown command"), error_reply("`ab\x01", std::string(200, '`'))};
    for (const auto& r : good) EXPECT_NE(as_host_reads(r)[5], 'e') << r;
    for (const auto& r : bad) EXPECT_EQ(as_host_reads(r)[5], 'e') << r;
    for (const auto& r : good) bad.push_back(r);
    for (const auto& r : bad) {
        EXPECT_LT(r.size(), 54u) << r;
        EXPECT_NE(r.front(), '`') << r;
        EXPECT_FALSE(r.starts_with("ti") || r.starts_with("TI")) << r;
        EXPECT_EQ(r.back(), '\n');
        EXPECT_EQ(std::count(r.begin(), r.end(), '\n'), 1) << r;
    }
}

TEST(Commands, ClassifiesEveryRecordTheHostSends) {
    EXPECT_EQ(classify("`"), Kind::poll);
    EXPECT_EQ(classify(std::string("`\0", 2)), Kind::attention);
    EXPECT_EQ(classify("`&"), Kind::dome_start);
    EXPECT_EQ(classify("`$"), Kind::dome_stop);
    EXPECT_EQ(classify("`210508\n"), Kind::time_answer);
    EXPECT_EQ(classify("`246000\n"), Kind::other); // no such time
    EXPECT_EQ(classify("`move 12:34:56.7 -12:34:56\n"), Kind::move);
    EXPECT_EQ(classify("movv 12:34:56.0 56:34:12\n"), Kind::move); // written unframed
    EXPECT_EQ(classify("filt g\n"), Kind::filter);
    EXPECT_EQ(classify("`park\n"), Kind::other);
}

TEST(Commands, ParsesTheFixedMoveFormAndRefusesImpossibleOnes) {
    auto m = parse_move("move 12:34:56.7 -12:34:56");
    ASSERT_TRUE(m.target);
    EXPECT_NEAR(m.target->ra_h, 12 + 34 / 60.0 + 56.7 / 3600, 1e-9);
    EXPECT_NEAR(m.target->dec_deg, -(12 + 34 / 60.0 + 56 / 3600.0), 1e-9);
    EXPECT_EQ(m.target->epoch, 2000.0);

    m = parse_move("move 24:00:00.0  90:00:00"); // 23:59:59.96 rounded up by the host
    ASSERT_TRUE(m.target);
    EXPECT_EQ(m.target->ra_h, 0.0);
    EXPECT_EQ(m.target->dec_deg, 90.0);

    m = parse_move("move 01:00:00.0 -00:30:00 1950.0");
    ASSERT_TRUE(m.target);
    EXPECT_EQ(m.target->dec_deg, -0.5);
    EXPECT_EQ(m.target->epoch, 1950.0);
    EXPECT_EQ(parse_move("move 1.5 +10 2100").target->epoch, 2000.0);

    for (const char* bad :
         {"move", "move 12:00:00.0", "move 25:00:00.0 10:00:00", "move -01:00:00.0 10:00:00",
          "move 12:00:00.0 91:00:00", "move 12:61:00.0 10:00:00", "move 12:00:00.0 10:00:00 x",
          "move 1:2:3:4 10", "move 12:00:00.0 1e2", "move nan 0",
          "move 12:00:00.0 10:00:00 2000 extra"})
        EXPECT_FALSE(parse_move(bad).target) << bad;
}

TEST(Commands, FiltersAndTimeAnswersAcrossMidnight) {
    FilterTable t = {{'B', 1}, {'5', 7}};
    EXPECT_EQ(filter_number(t, "5"), 7); // one character is a letter first
    EXPECT_EQ(filter_number(t, "15"), 15);
    for (const char* bad : {"x", "0", "12345", ""}) EXPECT_FALSE(filter_number(t, bad)) << bad;

    EXPECT_FALSE(parse_time_answer("250000"));
    EXPECT_EQ(clock_difference(*parse_time_answer("000000"), 86399), 1);
    EXPECT_EQ(clock_difference(86399, 0), -1);
}

TEST(Splitter, CutsTheHostStreamIntoRecords) {
    Splitter s(0.1);
    std::vector<Record> out;
    s.feed("`", 1.0, out); // a poll has no end mark: only quiet ends it
    EXPECT_TRUE(out.empty());
    s.flush_if_quiet(1.05, out);
    EXPECT_TRUE(out.empty());
    s.flush_if_quiet(1.2, out);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].bytes, "`");
    EXPECT_EQ(out[0].t, 1.0);

    out.clear();
    // Restart: two attentions back to back, then a dome request and a command in one read.
    s.feed(std::string("`\0`\0`$`filt R\nmovv 1 2\n`12", 26), 2.0, out);
    s.feed("3456\n", 2.5, out);
    std::vector<std::string> got;
    for (auto& r : out) got.push_back(r.bytes);
    std::vector<std::string> want = {std::string("`\0", 2), std::string("`\0", 2), "`$",
                                     "`filt R\n",           "movv 1 2\n",          "`123456\n"};
    EXPECT_EQ(got, want);
    EXPECT_EQ(out.back().t, 2.0);
    EXPECT_FALSE(s.deadline());

    out.clear();
    s.feed(std::string(600, 'x'), 3.0, out); // no runaway record
    s.flush_if_quiet(4.0, out);
    ASSERT_EQ(out.size(), 3u);
    for (auto& r : out) EXPECT_LE(r.bytes.size(), 255u);
}

TEST(Sky, SlewsAtAFiniteRateTheShortWayAndPrecesses) {
    Mount m;
    m.ra_h = 23.5;
    m.dec_deg = 10;
    start_slew(m, 0.5, 20); // one hour of right ascension across 0h = 15 degrees
    EXPECT_FALSE(slew_step(m, 1.0, 2.0));
    EXPECT_NEAR(m.dec_deg, 12, 1e-9);
    EXPECT_NEAR(m.ra_h, 23.5 + 2 / 15.0, 1e-9);
    int steps = 1;
    while (!slew_step(m, 1.0, 2.0) && steps < 100) ++steps;
    EXPECT_EQ(steps + 1, 8); // 15 degrees at 2 per second, rounded up
    EXPECT_FALSE(m.slewing);
    EXPECT_EQ(m.ra_h, 0.5);
    EXPECT_EQ(m.dec_deg, 20);

    // From J2000 to 2026 the equinox moves about 3.07 s of right ascension a year.
    double ra = 0, dec = 0;
    precess(ra, dec, 2000, 2026);
    EXPECT_NEAR(ra * 3600, 26 * 3.075, 1.0);
    EXPECT_NEAR(dec * 3600, 26 * 20.04, 5.0);
    precess(ra, dec, 2026, 2000);
    EXPECT_NEAR(std::remainder(ra, 24.0), 0, 1e-9);
    EXPECT_NEAR(dec, 0, 1e-9);
}
