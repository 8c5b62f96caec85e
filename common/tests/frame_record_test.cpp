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

TEST(FrameRecord, ACutRecordIsReportedAtEveryLengthNeverThrown) {
    std::string text = qor::to_json(sample());
    for (std::size_t n = 0; n + 2 < text.size(); ++n) {
        auto read = qor::parse_frame_record(text.substr(0, n));
        ASSERT_FALSE(read.ok()) << "cut at " << n;
    }
    EXPECT_EQ(qor::parse_frame_record("{\"frame\": \"d1").problems,
              std::vector<std::string>{"not JSON (cut short or damaged)"});
}

TEST(FrameRecord, NamesEachMissingOrMalformedField) {
    auto problems_of = [](std::string text) { return qor::parse_frame_record(text).problems; };
    std::string good = qor::to_json(sample());
    auto replaced = [&](const std::string& from, const std::string& to) {
        std::string t = good;
        t.replace(t.find(from), from.size(), to);
        return problems_of(t);
    };
    using V = std::vector<std::string>;
    EXPECT_EQ(replaced("\"object\"", "\"objekt\""), V{"missing object"});
    EXPECT_EQ(replaced("\"ra_deg\": 83.82208", "\"ra_deg\": \"83\""),
              V{"malformed ra_deg: not a number"});
    EXPECT_EQ(replaced("\"-05:23:28\"", "\"-95:23:28\""), V{"malformed dec_j2000: not a position"});
    EXPECT_EQ(replaced("\"Fast\"", "\"fast\""), V{"malformed readout: not Slow, Fast or Medium"});
    EXPECT_EQ(replaced("\"frame_index\": 2", "\"frame_index\": 3"),
              V{"malformed frame_index: not below frames_in_line"});
    EXPECT_EQ(replaced("\"obsnum\": 12", "\"obsnum\": 13"),
              V{"malformed frame: does not name the observation number"});
    EXPECT_EQ(replaced("22:00:00.250", "22:01:00.250"),
              V{"malformed jd_start: not the instant of utc_start"});
    EXPECT_EQ(replaced("\"512\"\n ]", "512\n ]"), V{"malformed window: not four texts"});
    EXPECT_EQ(problems_of("[1, 2]"), V{"not a JSON object"});
    EXPECT_EQ(problems_of("{}").size(), 24u);
}

TEST(FrameRecord, PositionAndTimeTexts) {
    EXPECT_NEAR(*qor::sexagesimal("05:35:17.3"), 5 + 35 / 60.0 + 17.3 / 3600, 1e-12);
    EXPECT_EQ(*qor::sexagesimal("-00:30:00"), -0.5);
    EXPECT_EQ(*qor::sexagesimal("+30:00:00."), 30); // the status line's form
    EXPECT_EQ(*qor::sexagesimal("12"), 12);
    for (const char* bad : {"", "12:60:00", "1.5:00:00", "12:00:00:00", "ab:00:00", "-"})
        EXPECT_FALSE(qor::sexagesimal(bad)) << bad;

    EXPECT_EQ(qor::iso_utc(1796508000.25), "2026-12-05T22:00:00.250");
    EXPECT_EQ(*qor::parse_iso_utc("2026-12-05T22:00:00.250Z"), 1796508000.25);
    EXPECT_DOUBLE_EQ(qor::julian_date(946728000), 2451545.0); // J2000.0
    for (const char* bad : {"2026-02-31T00:00:00", "2026-12-06 22:00:00", "2026-12-05T22:00:00."})
        EXPECT_FALSE(qor::parse_iso_utc(bad)) << bad;
    EXPECT_EQ(qor::record_path_for("/data/d12.ccd"), "/data/d12.json");
}

} // namespace
