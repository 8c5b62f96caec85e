// Reading the status files: what the night's programs write, and what a
// reader must refuse rather than show as a value. (Files cut short or full of
// garbage are covered file by file in site_test.cpp.)
#include "sitefiles.h"

#include <gtest/gtest.h>

using namespace qstatus;

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
