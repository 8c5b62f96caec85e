// Reading the status files: the layouts the night's programs write, and what
// a reader meets while they write them or when they hold something else.
#include "sitefiles.h"

#include <gtest/gtest.h>

using namespace qstatus;

namespace {

// A status record from the simulated telescope, without its backquote.
const std::string record = "21:05:07.310:44:10.901:01:24.5+10:08:41.03:43:16.5TR00OK0003+003.9C";

// telescope.txt as the link daemon lays it out.
std::string telescope_txt(const std::string& line, const std::string& phase) {
    std::string t;
    for (std::size_t i = 0; i < line.size(); ++i) {
        if (i % 10 == 0 && i > 0) t += '\n';
        t += line[i];
        if (i == 53 || i == 55) t += ' ';
    }
    return t + "\n-110.00\n" + phase + "\n";
}

const std::string begin = "2026-12-08T21:04:50.0";

} // namespace

TEST(StatusLine, DecodesClockPositionAndFilterAndRefusesOtherText) {
    auto p = decode_status_line(record);
    ASSERT_TRUE(p);
    EXPECT_EQ(p->clock, "21:05:07.3");
    EXPECT_EQ(p->ra, "01:01:24.5");
    EXPECT_EQ(p->dec, "+10:08:41.0");
    EXPECT_EQ(p->filter, 3);

    std::string south = record;
    south[30] = '_'; // a blank sign, as the link passes it on
    EXPECT_EQ(decode_status_line(south)->dec, "+10:08:41.0");
    south[30] = '-';
    EXPECT_EQ(decode_status_line(south)->dec, "-10:08:41.0");

    std::string no_filter = record;
    no_filter[57] = 'x';
    EXPECT_FALSE(decode_status_line(no_filter)->filter);
    EXPECT_FALSE(decode_status_line(record.substr(0, 45))->filter);

    for (std::size_t i : {2u, 8u, 22u, 28u, 33u, 39u, 40u}) {
        std::string bad = record;
        bad[i] = 'x';
        EXPECT_FALSE(decode_status_line(bad)) << i;
    }
    EXPECT_FALSE(decode_status_line(record.substr(0, 40)));
    EXPECT_FALSE(decode_status_line(""));
}

TEST(TelescopeFile, GivesBackTheRecordAndPhaseUnlessCutOrForeign) {
    std::string phase = begin + "      17";
    auto t = split_telescope_txt(telescope_txt(record, phase));
    ASSERT_TRUE(t);
    EXPECT_EQ(t->status_line, record);
    EXPECT_EQ(t->phase_text, phase);

    // A record that ended early gives fewer lines; what is there still reads.
    auto short_one = split_telescope_txt(telescope_txt(record.substr(0, 45), phase));
    ASSERT_TRUE(short_one);
    EXPECT_EQ(decode_status_line(short_one->status_line)->ra, "01:01:24.5");

    std::string whole = telescope_txt(record, phase);
    EXPECT_FALSE(split_telescope_txt(whole.substr(0, whole.size() - 1)));
    EXPECT_FALSE(split_telescope_txt(whole.substr(0, 30)));
    EXPECT_FALSE(split_telescope_txt(""));
    EXPECT_FALSE(split_telescope_txt(std::string(12, '\n')));
    auto foreign = split_telescope_txt("<html>\nnot\nthis file\n");
    EXPECT_FALSE(foreign && decode_status_line(foreign->status_line));
}

TEST(PhaseText, TellsPhaseByLengthAndReadsTheSeconds) {
    auto exposing = parse_phase(begin + "      17");
    ASSERT_TRUE(exposing);
    EXPECT_EQ(exposing->phase, Phase::exposing);
    EXPECT_EQ(exposing->remaining_s, 17);
    EXPECT_EQ(exposing->began, "21:04:50");
    EXPECT_EQ(parse_phase(begin + "      -3")->remaining_s, -3);

    std::string stamps = begin + " 2026-12-08T21:05:20.0 ";
    auto reading = parse_phase(stamps);
    ASSERT_TRUE(reading);
    EXPECT_EQ(reading->phase, Phase::reading_out);
    EXPECT_FALSE(reading->readout_s);
    EXPECT_EQ(parse_phase(stamps + "       6")->readout_s, 6);

    auto idle = parse_phase(stamps + "2026-12-08T21:05:30.0");
    ASSERT_TRUE(idle);
    EXPECT_EQ(idle->phase, Phase::idle);

    // exp3 printed nothing or something else: no phase, not "exposing".
    EXPECT_FALSE(parse_phase(""));
    EXPECT_FALSE(parse_phase("exp3: no such key"));
    EXPECT_FALSE(parse_phase(begin + " garbage"));
    EXPECT_FALSE(parse_phase(std::string(65, '#')));
}

TEST(JobFile, ReadsBothNameBlocksAndRefusesAHalfWrittenFile) {
    auto j = parse_job("007 no network job\n0001\nOrion nebula                  \nM42\n3 V\n30\n"
                       "4096 x 4096\n");
    ASSERT_TRUE(j);
    EXPECT_EQ(j->frame, 7);
    EXPECT_EQ(j->note, "no network job");
    EXPECT_EQ(j->code, "0001");
    EXPECT_EQ(j->title, "Orion nebula");
    EXPECT_EQ(j->object, "M42");
    EXPECT_EQ(j->filter, "3 V");
    EXPECT_EQ(j->exptime_s, 30);
    EXPECT_EQ(j->size, "4096 x 4096");

    std::string none = "123\nNONE\n05:35:17.3 -05:23:28.\nNGC 1977\n?\n5\n512 x 512\n";
    auto n = parse_job(none);
    ASSERT_TRUE(n);
    EXPECT_EQ(n->code, "NONE");
    EXPECT_EQ(n->title, "05:35:17.3 -05:23:28.");
    EXPECT_EQ(n->object, "NGC 1977");
    EXPECT_EQ(n->filter, "?");

    for (std::size_t cut : {0ul, 4ul, 30ul, none.size() - 1})
        EXPECT_FALSE(parse_job(none.substr(0, cut)));
    EXPECT_FALSE(parse_job("abc\nNONE\nx\ny\n?\n5\n512 x 512\n"));
    EXPECT_FALSE(parse_job("1\nNONE\nx\ny\n?\nfive\n512 x 512\n"));
    EXPECT_FALSE(parse_job("1\nNONE\nx\ny\n?\n5\n512 by 512\n"));
}

TEST(BatchFile, CountsDoneMarksAndFramesAsTheDriverSeesThem) {
    std::string batch = "v   A001 V 30 3 05:35:17 -05:23:28 2000 1 1 512 512 0 s M42\n"
                        "#  a comment: blank third character\n"
                        "A002 R 60 5 05:35:17 -05:23:28 2000 1 1 512 512 0 s M42\n"
                        "\n"
                        "C003 x 10 2 00:42:44 +41:16:09 2000 1 1 512 512 0 f M31\n"
                        "A004 V 99 9 no newline, never loaded";
    auto p = batch_progress(batch);
    ASSERT_TRUE(p);
    EXPECT_EQ(p->done, 1);
    EXPECT_EQ(p->pending, 2);
    EXPECT_EQ(p->other, 2);
    EXPECT_EQ(p->frames_done, 3);
    EXPECT_EQ(p->frames_pending, 7);
    EXPECT_EQ(p->next_line, 3);

    auto all_done = batch_progress("v   A001 V 30 3 x\nv   A002 V 30 many x\n");
    EXPECT_EQ(all_done->done, 2);
    EXPECT_EQ(all_done->frames_done, 3);
    EXPECT_FALSE(all_done->next_line);

    EXPECT_FALSE(batch_progress(""));
    EXPECT_FALSE(batch_progress("no line end at all"));
    EXPECT_FALSE(batch_progress(std::string("A001 V\0\x01\x02 binary\n", 17)));
}

TEST(BatchLine, KeepsTheLineAsTextAndRefusesWhatIsNotOneLine) {
    std::string evil = "A001 V 30 3 05:35:17 -05:23:28 2000 1 1 512 512 0 s "
                       "<script>alert(1)</script>";
    auto b = parse_batch_line(evil + "   \n");
    ASSERT_TRUE(b);
    EXPECT_EQ(b->text, evil);
    EXPECT_EQ(b->object, "<script>alert(1)</script>");
    EXPECT_EQ(b->filter, "V");
    EXPECT_EQ(b->exptime, "30");
    EXPECT_EQ(b->frames, 3);
    EXPECT_EQ(parse_batch_line("A001 V 30\n")->object, "");

    EXPECT_FALSE(parse_batch_line(evil));
    EXPECT_FALSE(parse_batch_line("\n"));
    EXPECT_FALSE(parse_batch_line("A001\nA002\n"));
    EXPECT_FALSE(parse_batch_line("A001 \x1b[2J V\n"));
}

TEST(LastImage, NamesTheFrameOnceAllNineLinesAreThere) {
    std::string text = "/data/d123.ccd\n";
    for (int i = 0; i < 8; ++i) text += "CARD" + std::to_string(i) + "   = 1   \n";
    auto l = parse_lastimage(text);
    ASSERT_TRUE(l);
    EXPECT_EQ(l->frame, "d123.ccd");
    ASSERT_EQ(l->cards.size(), 8u);
    EXPECT_EQ(l->cards[7], "CARD7   = 1");
    EXPECT_EQ(parse_lastimage("d9.ccd\n" + text.substr(15))->frame, "d9.ccd");

    EXPECT_FALSE(parse_lastimage(text.substr(0, 60)));
    EXPECT_FALSE(parse_lastimage(text.substr(0, text.size() - 1)));
    EXPECT_FALSE(parse_lastimage("\n" + text.substr(15)));
}

TEST(LogTail, DropsTheCutFirstLineAndKeepsTheLast) {
    EXPECT_EQ(last_lines("half line\nb\nc\nd\n", 2, true), (std::vector<std::string>{"c", "d"}));
    EXPECT_EQ(last_lines("a\r\nb", 5, false), (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(last_lines("only part", 5, true), std::vector<std::string>{});
}

TEST(FilterTable, FindsTheLetterOfANumber) {
    std::string table = "U 1\nB 2\nV 3\nR 4\nI 5\nx 0";
    EXPECT_EQ(filter_letter(table, 3), 'V');
    EXPECT_EQ(filter_letter(table, 0), 'x');
    EXPECT_FALSE(filter_letter(table, 9));
    EXPECT_FALSE(filter_letter(" 9\n\n", 9));
}

TEST(PreviewImage, OnlyAWholeJpegOrGifCounts) {
    std::string jpeg = std::string("\xFF\xD8\xFF\xE0", 4) + std::string(100, 'j') + "\xFF\xD9";
    std::string gif = "GIF89a" + std::string(20, 'g') + ";";
    EXPECT_STREQ(image_type(jpeg), "image/jpeg");
    EXPECT_STREQ(image_type(gif), "image/gif");
    EXPECT_EQ(image_type(jpeg.substr(0, 50)), nullptr);
    EXPECT_EQ(image_type(gif.substr(0, 20)), nullptr);
    EXPECT_EQ(image_type("<svg onload=alert(1)>"), nullptr);
    EXPECT_EQ(image_type(""), nullptr);
}
