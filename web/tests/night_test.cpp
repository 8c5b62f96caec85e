// The night report's reading of the index (written here by archive/'s own
// writer) and of the driver's events (in the driver's line form, stamped by
// the same formatter): what is of the night, what is cut or garbage.
#include "frame_record.h"
#include "night.h"
#include "observation.h"

#include <gtest/gtest.h>
#include <regex>

using namespace qstatus;

namespace {

const double noon = 1796731200; // 2026-12-08 12:00 UTC
const NightWindow night{noon, noon + 86400};

qarch::Observation frame(long n, double start, const std::string& object) {
    qarch::Observation o;
    o.frame = "d" + std::to_string(n) + ".ccd";
    o.obsnum = n;
    o.object = object;
    o.exptime = 30;
    if (start > 0) o.date_obs = qor::iso_utc(start);
    return o;
}

std::string heading() {
    std::string h = qarch::index_heading();
    return h.substr(0, h.size() - 1);
}

std::string event(double at, const std::string& kind, const std::string& text) {
    return qor::iso_utc(at) + "\t" + kind + "\t" + text + "\n";
}

std::string describe(const Timeline& t) {
    static const char* kinds[] = {"exposure", "readout", "slew", "filter", "wait"};
    std::string out;
    for (const auto& s : t.spans)
        out += std::string(kinds[static_cast<int>(s.kind)]) + " " +
               std::to_string(static_cast<int>(s.begin - noon)) + "-" +
               std::to_string(static_cast<int>(s.end - noon)) + (s.open ? " open" : "") + "; ";
    return out;
}

} // namespace

TEST(NightIndex, TakesTheNightsRowsAsArchiveWritesThem) {
    qor::FrameRecord r;
    r.line_number = 7;
    r.filter = "R";
    r.ra_j2000 = "05:35:17.3";
    r.dec_j2000 = "-05:23:28";
    r.ra_telescope = "05:36:36.8";
    r.dec_telescope = "-05:22:31.";
    r.telescope_equinox = 2026.9;
    qarch::Observation with_record = frame(12, noon + 3600, "M42");
    with_record.record = r;
    with_record.offset = 2.25;
    std::string rows =
        qarch::index_line(frame(3, noon - 7200, "yesterday"), "d3.fits") +
        qarch::index_line(frame(4, 0, "no date"), "") + qarch::index_line(with_record, "d12.fits") +
        qarch::index_line(frame(13, noon + 3700, "NGC 1977, \"the Running Man\""), "");

    auto index = parse_index(heading(), rows, false, night);
    ASSERT_TRUE(index);
    ASSERT_EQ(index->rows.size(), 2u);
    const auto& f = index->rows[0].fields;
    EXPECT_EQ(index->rows[0].number, 12);
    EXPECT_EQ(f[0] + "|" + f[2] + "|" + f[3] + "|" + f[4] + "|" + f[5] + "|" + f[11] + "|" + f[13],
              "d12.ccd|7|M42|R|30.000|2.2|record");
    EXPECT_EQ(index->rows[1].fields[3], "NGC 1977, \"the Running Man\"");
    EXPECT_EQ(index->rows[1].fields[13], "header");
    EXPECT_EQ(index->other_nights, 1);
    EXPECT_EQ(index->undated, 1);
    EXPECT_EQ(index->garbage + index->cut + index->begin_unread, 0);

    // The facts: site time of the start, every column by its name.
    auto facts = index_facts(*index, 1 << 20);
    EXPECT_EQ(facts["rows"][0]["object"], "M42");
    EXPECT_EQ(facts["rows"][0]["utc_start"], qor::iso_utc(noon + 3600));
    EXPECT_EQ(facts["notes"].size(), 2u); // undated, other nights
}

TEST(NightIndex, RefusesAnotherFormAndCountsGarbageAndCutRows) {
    const std::string good = qarch::index_line(frame(5, noon + 60, "M1"), "d5.fits");
    EXPECT_FALSE(parse_index("frame,utc_start,object", good, false, night));
    EXPECT_FALSE(parse_index("\xff\xfe<b>", good, false, night));

    std::string bad_rows;
    for (const std::string& bad : {
             std::string("d6.ccd,2026-12-08T13:00:00.000,1,M1\n"),               // short
             std::regex_replace(good, std::regex("d5.ccd"), "x5.ccd"),           // name
             std::regex_replace(good, std::regex("30.000"), "thirty"),           // number
             std::regex_replace(good, std::regex("M1"), "M\"1"),                 // quote
             std::regex_replace(good, std::regex("2026-12-08T"), "2026-12-08 "), // time
             std::regex_replace(good, std::regex(",header"), ",guess"),          // source
             std::string("\xff\x01,,,,,,,,,,,,,\n"),
         })
        bad_rows += bad;
    auto index = parse_index(heading(), bad_rows + good + good.substr(0, 20), false, night);
    ASSERT_TRUE(index);
    EXPECT_EQ(index->rows.size(), 1u);
    EXPECT_EQ(index->garbage, 7);
    EXPECT_TRUE(index->cut);

    // Only the last part read: its first line is a part of a row. The night
    // began before it when its first whole row is already of the night.
    index = parse_index(heading(), good.substr(10) + good, true, night);
    ASSERT_TRUE(index);
    EXPECT_EQ(index->rows.size(), 1u);
    EXPECT_EQ(index->garbage, 0);
    EXPECT_TRUE(index->begin_unread);
    EXPECT_FALSE(parse_index(heading(),
                             "part\n" + qarch::index_line(frame(2, noon - 60, "M1"), "") + good,
                             true, night)
                     ->begin_unread);
}

TEST(NightEvents, SpansFromCommandToReplyExposureToFrameAndWaitToNextEvent) {
    std::string log =
        event(noon - 600, "line", "9: yesterday's line") +
        event(noon - 500, "post", "move_yesterday") + // never answered
        event(noon + 10, "line", "2: A001 V 30 2 05:35:17.3 -05:23:28 2000") +
        event(noon + 11, "post", "filt_V") + event(noon + 18, "reply", "filt_done") +
        event(noon + 20, "post", "move_05:35:17.3_-05:23:28") +
        event(noon + 50, "wait", "operator") +
        event(noon + 60, "post", "move_05:35:17.3_-05:23:28") + // again: one slew
        event(noon + 70, "fault", "the telescope did not answer") +
        event(noon + 80, "reply", "move_done") + event(noon + 81, "expose", "d1.ccd 30") +
        event(noon + 120, "wait", "d1.ccd") + event(noon + 125, "wait", "d1.ccd") +
        event(noon + 130, "frame", "d1.ccd") +
        event(noon + 131, "post", "move_05:35:19.0_-05:23:28") +
        event(noon + 140, "end", "stopped by the operator") +
        event(noon + 200, "line", "3: A002 R 60 1 ...") + event(noon + 201, "wait", "status line");
    auto t = parse_events(log, false, night, noon + 300);
    ASSERT_TRUE(t);
    EXPECT_EQ(describe(*t), "filter 11-18; wait 50-60; slew 20-80; exposure 81-111; wait 120-130; "
                            "readout 111-130; slew 131-140; wait 201-300 open; ");
    EXPECT_EQ(t->spans[2].text, "move_05:35:17.3_-05:23:28, reply move_done");
    EXPECT_EQ(t->spans[6].text, "move_05:35:19.0_-05:23:28, no reply");
    ASSERT_EQ(t->marks.size(), 4u);
    EXPECT_EQ(t->marks[1].kind, MarkKind::fault);
    EXPECT_EQ(t->marks[2].kind, MarkKind::end);
    EXPECT_EQ(t->garbage, 0);

    // The facts: times from the first event; the time of each kind summed.
    auto facts = timeline_facts(*t, 1 << 20);
    EXPECT_EQ(facts["t0"], noon + 10);
    EXPECT_EQ(facts["length_s"], 290);
    EXPECT_EQ(facts["spans"][0]["from"], 1);
    EXPECT_EQ(facts["totals"]["slew"], 69);
    EXPECT_EQ(facts["totals"]["wait"], 10 + 10 + 99);
    EXPECT_EQ(facts["totals"]["fault"], 1);
}

TEST(NightEvents, GarbageAndACutLineAreCountedAndOnlyGarbageIsNoTimeline) {
    const std::string good = event(noon + 10, "expose", "d1.ccd 30");
    const std::vector<std::string> garbage = {
        "no tabs at all\n",
        "2026-12-08 12:00:10\texpose\td1.ccd 30\n", // not the stamp's form
        qor::iso_utc(noon + 11) + "\tsmile\tunknown kind\n",
        event(noon + 12, "expose", "d2.ccd thirty"),
        event(noon + 13, "expose", "d2.ccd -5"),
        std::string("\0\xff\t\t\n", 5),
    };
    std::string log = good;
    for (const auto& g : garbage) log += g;
    auto t = parse_events(log + good.substr(0, 15), false, night, noon + 100);
    ASSERT_TRUE(t);
    EXPECT_EQ(t->spans.size(), 1u);
    EXPECT_EQ(t->garbage, static_cast<int>(garbage.size()));
    EXPECT_TRUE(t->cut);
    EXPECT_EQ(timeline_facts(*t, 1 << 20)["notes"].size(), 2u);

    EXPECT_FALSE(parse_events(garbage[0] + garbage[2], false, night, noon + 100));
    EXPECT_FALSE(parse_events("\xff\xfe\x01", false, night, noon + 100));
    auto empty = parse_events("", false, night, noon + 100);
    ASSERT_TRUE(empty);
    EXPECT_TRUE(empty->spans.empty() && empty->marks.empty());
    EXPECT_EQ(timeline_facts(*empty, 1 << 20)["spans"].size(), 0u);

    // Only the last part read: the first line is a part; when the first
    // whole one is of the night, its beginning was not read.
    t = parse_events(good.substr(5) + good, true, night, noon + 100);
    ASSERT_TRUE(t);
    EXPECT_EQ(t->garbage, 0);
    EXPECT_TRUE(t->begin_unread);
}
