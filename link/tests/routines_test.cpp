// The pure routines of the line: framing, coordinates, status records.
#include "coords.h"
#include "framing.h"
#include "status.h"

#include <climits>
#include <cmath>

#include <gtest/gtest.h>

using namespace qlink;

namespace {

// A complete status line (67 characters and a newline); filter 3 at 56-59.
std::string status_line(const std::string& clock = "21:05:07.4") {
    return clock + "21:05:07.4" + "12:34:56.7" + "+12:34:56.7" + "0:00:00.0" + "ABCDEF0003" +
           "XYZ1234" + "\n";
}

} // namespace

TEST(Framing, BaudFileTakesFirstLineThatIsNotAComment) {
    EXPECT_EQ(baud_from("# speed of the line\n19200\n"), 19200);
    EXPECT_EQ(baud_from("# only\n# comments\n"), 9600);
    EXPECT_EQ(baud_from(""), 9600);
    EXPECT_EQ(baud_from("fast\n19200\n"), 9600);
    // A long comment is still one comment.
    EXPECT_EQ(baud_from("# " + std::string(60, 'x') + "\n38400\n"), 38400);
    EXPECT_FALSE(speed_setting(12345));
    EXPECT_TRUE(speed_setting(115200));
}

TEST(Framing, ReceivedTextBecomesOneWord) {
    std::string s = "a b'c\"d=e$(x)";
    substitute(s);
    EXPECT_EQ(s, "a_b:c.d0e$(x)");
}

TEST(Framing, SplitAt69AndLengthWindow) {
    std::string rec = "`" + status_line();
    rec.resize(69, 'x');
    std::string two = rec + rec; // second record at index 69
    split69(two);
    EXPECT_EQ(two.size(), 138u);

    std::string hundred(100, 'a');
    hundred[69] = 'b';
    hundred.replace(69, 31, std::string(31, 'z'));
    split69(hundred);
    EXPECT_EQ(hundred, std::string(31, 'z'));

    EXPECT_FALSE(in_length_window(53));
    EXPECT_TRUE(in_length_window(54));
    EXPECT_TRUE(in_length_window(60));
    EXPECT_TRUE(in_length_window(68));
    EXPECT_FALSE(in_length_window(69));
}

TEST(Framing, RecordsAndTimeAnswer) {
    EXPECT_EQ(frame(""), "`");
    EXPECT_EQ(frame("&"), "`&");
    setenv("TZ", "UTC0", 1);
    tzset();
    EXPECT_EQ(time_answer(1796688000 + 21 * 3600 + 5 * 60 + 8), "`210508\n");
}

TEST(Coords, ZomsFormsAndCarries) {
    EXPECT_EQ(zoms(12.0 + 34.0 / 60 + 56.7 / 3600, 1), " 12:34:56.7");
    EXPECT_EQ(zoms(-0.5, 0), "-00:30:00");
    EXPECT_EQ(zoms(12 + 34.0 / 60 + 56.5 / 3600, 0), " 12:34:57");
    EXPECT_EQ(zoms(12 + 34.0 / 60 + 56.44 / 3600, 0), " 12:34:56");
    // Garbage never reaches an undefined conversion.
    EXPECT_EQ(zoms(std::nan(""), 1), " 00:00:00.0");
    EXPECT_EQ(zoms(1e300, 0).size(), 9u);
}

TEST(Coords, MoveRewrite) {
    EXPECT_EQ(rewrite_move("move 12:34:56.7 -12:34:56\n"), "move 12:34:56.7 -12:34:56\n");
    EXPECT_EQ(rewrite_move("move 23:59:59.96 +89:59:59.6\n"), "move 24:00:00.0  90:00:00\n");
    EXPECT_EQ(rewrite_move("move 1:2:3 -00:30:00\n"), "move 01:02:03.0 -00:30:00\n");
    EXPECT_EQ(rewrite_move("move 12.5 45\n"), "move 12:30:00.0  45:00:00\n");
    EXPECT_EQ(rewrite_move("move 12:34:56.7 -12:34:56 1950\n"),
              "move 12:34:56.7 -12:34:56 1950.0\n");
    for (const char* epoch : {" 2000\n", " 2100\n", "\n"})
        EXPECT_EQ(rewrite_move(std::string("move 12:34:56.7 -12:34:56") + epoch),
                  "move 12:34:56.7 -12:34:56\n");
    EXPECT_EQ(rewrite_move("movv 12:34:05.2 25:00:00\n"), "movv 12:34:05.2  25:00:00\n");

    float ra = 7, dec = 7, ep = 7;
    EXPECT_EQ(itohd("-00:30:00 -00:30:00", ra, dec, ep), 1);
    EXPECT_FLOAT_EQ(dec, -0.5f);
    EXPECT_FLOAT_EQ(ep, 2000.f);
}

TEST(Coords, UnreadableMoveIsNeverRewritten) {
    float ra = 7, dec = 7, ep = 7;
    for (const char* bad : {"12:34:56.78901 10:00:00", // first word too long
                            "12:34:56      10:00:00",  // no declination within 5
                            "12:34:56",                // none at all
                            "abc def", "12:00:00 xyz", // no numbers
                            "nan 10", "12 inf", "1e30 10", "12 -1e30", ""}) {
        EXPECT_EQ(itohd(bad, ra, dec, ep), 0) << bad;
        EXPECT_EQ(ra, 7);
        EXPECT_FALSE(rewrite_move(std::string("move ") + bad)) << bad;
    }
    EXPECT_FALSE(rewrite_move("mo"));
    EXPECT_EQ(successor('3'), '0');
    EXPECT_EQ(successor('0'), '1');
}

TEST(Status, Checkv1CountsMissingSeparators) {
    std::string rec = "`" + status_line();
    EXPECT_EQ(checkv1(rec), 0);
    rec[49] = 'x';
    EXPECT_EQ(checkv1(rec), 1);
    EXPECT_EQ(checkv1("`"), 15);
}

TEST(Status, PhaseTextAndJobStates) {
    const std::string idle_begin = "2026-12-08T21:00:00.0", end = "2026-12-08T21:00:30.0",
                      rd = "2026-12-08T21:00:45.0";
    Expo e;
    // Idle: 65 characters, the numbers after them read.
    std::string idle = idle_begin + " " + end + " " + rd + " -110.7 5\n";
    std::string p = phase_text(idle, 0, 30, 0, e);
    EXPECT_EQ(p.size(), 65u);
    EXPECT_FLOAT_EQ(e.tems, -110.7f);
    EXPECT_EQ(e.vv, 5);
    // Exposing across midnight: began 23:59:50, 30 s, seen at 00:00:10.
    std::string expo = "2026-12-08T23:59:50.0 " + end + " " + rd + " -110.7 5\n";
    p = phase_text(expo, 10, 30, 0, e);
    EXPECT_EQ(p.size(), 29u);
    EXPECT_EQ(p.substr(21), "      10");
    EXPECT_EQ(e.restime, 10);
    // Reading out: a blank first, the seconds once rect has grown.
    std::string reading = idle_begin + " " + rd + " " + end + " -110.7 5\n";
    EXPECT_EQ(phase_text(reading, 0, 30, 0, e).size(), 44u);
    p = phase_text(reading, 0, 30, 6.2f, e);
    EXPECT_EQ(p.size(), 51u);
    EXPECT_EQ(p.substr(43), "       6");
    // Unreadable numbers keep the last values; short output stays short and
    // its length decides.
    EXPECT_EQ(phase_text("", 0, 30, 0, e), "");
    EXPECT_EQ(phase_text("junk", 0, 30, 0, e).size(), 29u);
    EXPECT_FLOAT_EQ(e.tems, -110.7f);

    for (auto [len, state] :
         {std::pair{29, 1}, {40, 1}, {41, 2}, {44, 2}, {51, 2}, {62, 2}, {63, 3}, {65, 3}})
        EXPECT_EQ(job_state(len), state) << len;
}

TEST(Status, TelescopeFileLayout) {
    std::string text = telescope_text(status_line(), -110.7f, 5, "PHASE");
    EXPECT_EQ(text, "21:05:07.4\n21:05:07.4\n12:34:56.7\n+12:34:56.\n70:00:00.0\n"
                    "ABCD EF 0003\nXYZ1234\n-110.05\nPHASE\n");
    // A short record: lines stop where the record ends.
    EXPECT_EQ(telescope_text("21:05:07.4abc", 0, 0, "P"), "21:05:07.4\nabc\n0000.00\nP\n");
    EXPECT_EQ(position_line(status_line()), "21:05:07.4 12:34:56.7+12:34:56\n");
    EXPECT_EQ(read_int(" 0003x"), 3);
    EXPECT_EQ(read_int("99999999999999"), INT_MAX);
    EXPECT_FALSE(read_int("x1"));
}
