#include "filters.h"
#include "text.h"

#include <climits>
#include <gtest/gtest.h>

TEST(Text, IntegersAsPercentDReadsThem) {
    std::string_view rest;
    EXPECT_EQ(qor::read_int("  -12 x 7", &rest), -12);
    EXPECT_EQ(rest, " x 7");
    EXPECT_FALSE(qor::read_int("x1"));
    EXPECT_FALSE(qor::read_int("-"));
    EXPECT_EQ(qor::read_int("99999999999999"), INT_MAX);
    EXPECT_EQ(qor::read_int("-99999999999999"), INT_MIN);
}

TEST(Text, FilterTableEntriesAndTheirLimit) {
    std::string text = "U 1\n\n V 9\nB\t2\nx 0";
    auto t = qor::parse_filter_table(text);
    ASSERT_EQ(t.entries.size(), 3u); // a blank line and an indented one are no entries
    EXPECT_EQ(t.letter_of(2), 'B');
    EXPECT_EQ(t.letter_of(0), 'x'); // the last line needs no line end
    EXPECT_FALSE(t.letter_of(9));
    for (int i = 0; i < 40; ++i) text += "\nc " + std::to_string(100 + i);
    EXPECT_EQ(qor::parse_filter_table(text).entries.size(), qor::max_filters);
}

TEST(Text, PrintableEscapesWhatCouldReachATerminalRaw) {
    using namespace std::string_literals;
    EXPECT_EQ(qor::printable("M42 \xce\xa9 Cen\tx\n"), "M42 \xce\xa9 Cen\tx\n"); // UTF-8 kept
    EXPECT_EQ(qor::printable("a\0b\x1b[2Jc\r\n"s), "a\\x00b\\x1b[2Jc\\x0d\n");
    // DEL, a C1 control in UTF-8, a lone continuation byte, a cut sequence.
    EXPECT_EQ(qor::printable("\x7f\xc2\x9b\x80\xe2\x82"), "\\x7f\\xc2\\x9b\\x80\\xe2\\x82");
}
