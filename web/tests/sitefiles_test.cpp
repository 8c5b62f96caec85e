// Reading the status files: what the night's programs write, and what a
// reader must refuse rather than show as a value. (Files cut short or full of
// garbage are covered file by file in site_test.cpp.)
#include "sitefiles.h"

#include <gtest/gtest.h>

using namespace qstatus;

TEST(StatusLine, DecodesClockPositionAndFilterAndRefusesOtherText) {
    std::string line = "21:05:07.310:44:10.901:01:24.5_10:08:41.03:43:16.5TR00OK0003+003.9C";
    auto p = decode_status_line(line);
    ASSERT_TRUE(p);
    EXPECT_EQ(p->clock + " " + p->ra + " " + p->dec, "21:05:07.3 01:01:24.5 +10:08:41.0");
    EXPECT_EQ(p->filter, 3);
    EXPECT_FALSE(decode_status_line(line.substr(0, 45))->filter);
    for (std::size_t i : {2u, 8u, 22u, 28u, 30u, 33u, 39u, 40u}) {
        std::string bad = line;
        bad[i] = 'x';
        EXPECT_FALSE(decode_status_line(bad)) << i;
    }
    EXPECT_FALSE(decode_status_line(line.substr(0, 40)));
}

TEST(PhaseText, TellsThePhaseByLengthAsTheLinkDoes) {
    const std::string begin = "2026-12-08T21:04:50.0", end = " 2026-12-08T21:05:20.0 ";
    auto exposing = parse_phase(begin + "      17");
    ASSERT_TRUE(exposing);
    EXPECT_EQ(exposing->phase, Phase::exposing);
    EXPECT_EQ(exposing->remaining_s, 17);
    EXPECT_EQ(exposing->began, "21:04:50");
    EXPECT_EQ(parse_phase(begin + end)->phase, Phase::reading_out);
    EXPECT_FALSE(parse_phase(begin + end)->readout_s);
    EXPECT_EQ(parse_phase(begin + end + "       6")->readout_s, 6);
    EXPECT_EQ(parse_phase(begin + end + "2026-12-08T21:05:30.0")->phase, Phase::idle);
    // exp3 printed nothing or something else: no phase (the link would say exposing).
    for (std::string bad : {std::string(), begin + " garbage", std::string(65, '#')})
        EXPECT_FALSE(parse_phase(bad)) << bad;
}

TEST(JobFile, ReadsTheNoneBlockAndRefusesAnUnfinishedFile) {
    std::string job = "123 net job\nNONE\n05:35:17.3 -05:23:28.\nNGC 1977\n?\n5\n512 x 512\n";
    auto j = parse_job(job);
    ASSERT_TRUE(j);
    EXPECT_EQ(j->frame, 123);
    EXPECT_EQ(j->note, "net job");
    EXPECT_EQ(j->title + "|" + j->object + "|" + j->filter, "05:35:17.3 -05:23:28.|NGC 1977|?");
    EXPECT_FALSE(parse_job(job.substr(0, job.size() - 1)));
    EXPECT_FALSE(parse_job("abc\nNONE\nx\ny\n?\n5\n512 x 512\n"));
    EXPECT_FALSE(parse_job("1\nNONE\nx\ny\n?\nfive\n512 x 512\n"));
}

TEST(BatchFile, CountsDoneMarksAndFramesAsTheDriverSeesThem) {
    auto p = batch_progress("v   A001 V 30 3 05:35:17 -05:23:28 2000 1 1 512 512 0 s M42\n"
                            "#  a blank third character disables a line\n"
                            "A002 R 60 5 05:35:17 -05:23:28 2000 1 1 512 512 0 s M42\n"
                            "\n"
                            "C003 x 10 two 00:42:44 +41:16:09 2000 1 1 512 512 0 f M31\n"
                            "A004 V 99 9 no newline, so the driver never loads it");
    ASSERT_TRUE(p);
    EXPECT_EQ(p->done, 1);
    EXPECT_EQ(p->pending, 2);
    EXPECT_EQ(p->other, 2);
    EXPECT_EQ(p->frames_done, 3);
    EXPECT_EQ(p->frames_pending, 5);
    EXPECT_EQ(p->next_line, 3);
    EXPECT_FALSE(batch_progress("no line end"));
}

TEST(LastImageAndLog, TakeTheFrameNameAndDropACutFirstLine) {
    std::string text = "/site/data/d123.ccd\n";
    for (int i = 0; i < 8; ++i) text += "CARD    = " + std::to_string(i) + "   \n";
    auto l = parse_lastimage(text);
    ASSERT_TRUE(l);
    EXPECT_EQ(l->frame, "d123.ccd");
    EXPECT_EQ(l->cards.back(), "CARD    = 7");
    EXPECT_EQ(last_lines("half line\nb\nc\r\nd\n", 2, true), (std::vector<std::string>{"c", "d"}));
    EXPECT_EQ(last_lines("only part", 5, true), std::vector<std::string>{});
}
