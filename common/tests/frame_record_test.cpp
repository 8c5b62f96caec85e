#include "frame_record.h"

#include <gtest/gtest.h>

namespace {

qor::FrameRecord sample() {
    qor::FrameRecord r;
    r.frame = "d12.ccd";
    r.obsnum = 12;
    r.batch_file = "/u/tarnu/night.batch";
    r.line_number = 7;
    r.line = "A001 V 10 3 05:35:17.3 -05:23:28 2000 0 0 512 512 1 f M42";
    r.frame_index = 2;
    r.frames_in_line = 3;
    r.object = "M42";
    r.ra_j2000 = "05:35:17.3";
    r.dec_j2000 = "-05:23:28";
    r.ra_deg = 83.82208;
    r.dec_deg = -5.39111;
    r.ra_telescope = "05:36:40.1";
    r.dec_telescope = "-05:22:10.";
    r.telescope_equinox = 2026.9;
    r.filter = "V";
    r.filter_number = 3;
    r.exposure = 1.5;
    r.readout = "Fast";
    r.window = {"0", "0", "512", "512"};
    r.observers = "A. Vega";
    r.utc_start = "2026-12-05T22:00:00.250";
    r.jd_start = qor::julian_date(*qor::parse_iso_utc(r.utc_start));
    r.build = "qorobs";
    return r;
}

TEST(FrameRecord, EveryFieldSurvivesTheFile) {
    auto read = qor::parse_frame_record(qor::to_json(sample()));
    EXPECT_TRUE(read.ok()) << read.problems.front();
    EXPECT_EQ(qor::to_json(read.record), qor::to_json(sample()));
    EXPECT_EQ(read.record.window[3], "512");

    // A batch line with bytes that are not UTF-8 still gives a record.
    qor::FrameRecord odd = sample();
    odd.line += "\xff\xfe";
    EXPECT_TRUE(qor::parse_frame_record(qor::to_json(odd)).ok());
}

// A record cut at any length, a field missing or of the wrong kind, or two
// fields that disagree: each named, nothing thrown.
TEST(FrameRecord, ACutOrDamagedRecordSaysWhat) {
    std::string good = qor::to_json(sample());
    for (std::size_t n = 0; n + 2 < good.size(); ++n)
        ASSERT_FALSE(qor::parse_frame_record(good.substr(0, n)).ok()) << "cut at " << n;
    auto replaced = [&](const std::string& from, const std::string& to) {
        std::string t = good;
        t.replace(t.find(from), from.size(), to);
        return qor::parse_frame_record(t).problems;
    };
    using V = std::vector<std::string>;
    EXPECT_EQ(replaced("\"object\"", "\"objekt\""), V{"missing object"});
    EXPECT_EQ(replaced("\"ra_deg\": 83.82208", "\"ra_deg\": \"83\""),
              V{"malformed ra_deg: not a number"});
    EXPECT_EQ(replaced("22:00:00.250", "22:01:00.250"),
              V{"malformed jd_start: not the instant of utc_start"});
    EXPECT_EQ(qor::parse_frame_record("[1, 2]").problems, V{"not a JSON object"});
}

TEST(FrameRecord, PositionAndTimeTexts) {
    EXPECT_NEAR(*qor::sexagesimal("05:35:17.3"), 5 + 35 / 60.0 + 17.3 / 3600, 1e-12);
    EXPECT_EQ(*qor::sexagesimal("-00:30:00"), -0.5);
    for (const char* bad : {"12:60:00", "1.5:00:00", "-"}) EXPECT_FALSE(qor::sexagesimal(bad)) << bad;
    EXPECT_EQ(*qor::parse_iso_utc(qor::iso_utc(1796508000.25)), 1796508000.25);
    EXPECT_DOUBLE_EQ(qor::julian_date(946728000), 2451545.0); // J2000.0
    EXPECT_FALSE(qor::parse_iso_utc("2026-02-31T00:00:00"));
}

} // namespace
