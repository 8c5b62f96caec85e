// The pure routines of the line: framing, coordinates, status records.
#include "move_command.h"
#include "framing.h"
#include "job.h"
#include "status.h"

#include <climits>
#include <cmath>
#include <gtest/gtest.h>

using namespace qlink;

namespace {
const std::string line = "21:05:07.421:05:07.412:34:56.7+12:34:56.70:00:00.0ABCDEF0003XYZ1234\n";
}

TEST(Framing, BaudFileSplitAndLengthWindow) {
    EXPECT_EQ(baud_from("# speed of the line\n19200\n"), 19200);
    EXPECT_EQ(baud_from("# only\n# comments\n"), 9600);
    EXPECT_EQ(baud_from("# " + std::string(60, 'x') + "\n38400\n"), 38400); // long comment
    EXPECT_FALSE(speed_setting(12345));

    std::string two = "`" + line.substr(0, 68) + "`" + line.substr(0, 68);
    split69(two); // a second record at index 69: used from index 0
    EXPECT_EQ(two.size(), 138u);
    std::string hundred = std::string(69, 'a') + std::string(31, 'z');
    split69(hundred);
    EXPECT_EQ(hundred, std::string(31, 'z'));
    EXPECT_FALSE(in_length_window(53));
    EXPECT_TRUE(in_length_window(54) && in_length_window(68));
    EXPECT_FALSE(in_length_window(69));
}

TEST(Coords, MoveRewrite) {
    EXPECT_EQ(rewrite_move("move 12:34:56.7 -12:34:56\n"), "move 12:34:56.7 -12:34:56\n");
    EXPECT_EQ(rewrite_move("move 23:59:59.96 +89:59:59.6\n"), "move 24:00:00.0  90:00:00\n");
    EXPECT_EQ(rewrite_move("move 1:2:3 -00:30:00\n"), "move 01:02:03.0 -00:30:00\n");
    EXPECT_EQ(rewrite_move("move 12.5 12:34:56.5\n"), "move 12:30:00.0  12:34:57\n");
    EXPECT_EQ(rewrite_move("move 1 12:34:56.44\n"), "move 01:00:00.0  12:34:56\n");
    EXPECT_EQ(rewrite_move("move 12:34:56.7 -12:34:56 1950\n"),
              "move 12:34:56.7 -12:34:56 1950.0\n");
    for (const char* epoch : {" 2000\n", " 2100\n", "\n"})
        EXPECT_EQ(rewrite_move(std::string("move 1 2") + epoch), "move 01:00:00.0  02:00:00\n");
    float ra = 0, dec = 0, ep = 0;
    ASSERT_EQ(itohd("0 -00:30:00", ra, dec, ep), 1);
    EXPECT_FLOAT_EQ(dec, -0.5f);
}

TEST(Coords, UnreadableMoveIsNeverRewritten) {
    float ra = 7, dec = 7, ep = 7;
    for (const char* bad : {"12:34:56.78901 10:00:00", "12:34:56      10:00:00", "12:34:56",
                            "abc def", "12:00:00 xyz", "nan 10", "12 inf", "1e30 10", ""}) {
        EXPECT_EQ(itohd(bad, ra, dec, ep), 0) << bad;
        EXPECT_FALSE(rewrite_move(std::string("move ") + bad)) << bad;
    }
    EXPECT_EQ(ra, 7);
    EXPECT_EQ(zoms(std::nan(""), 1), " 00:00:00.0"); // never an undefined conversion
    EXPECT_EQ(zoms(1e300, 0).size(), 9u);
}

TEST(Status, SeparatorsPhaseTextAndFiles) {
    EXPECT_EQ(checkv1("`" + line), 0);
    std::string rec = "`" + line;
    rec[49] = 'x';
    EXPECT_EQ(checkv1(rec), 1);

    const std::string b = "2026-12-08T23:59:50.0", e = "2026-12-08T21:00:30.0",
                      r = "2026-12-08T21:00:45.0";
    Expo x;
    EXPECT_EQ(phase_text(b + " " + e + " " + r + " -110.7 5\n", 10, 30, 0, x),
              b + "      10"); // day wrap: 10 s left at 00:00:10
    EXPECT_EQ(x.restime, 10);
    EXPECT_EQ(x.queued, 5);
    std::string reading = e + " " + b + " " + r + " -110.7 5\n";
    EXPECT_EQ(phase_text(reading, 0, 30, 0, x).size(), 44u);
    EXPECT_EQ(phase_text(reading, 0, 30, 6.2f, x).substr(43), "       6");
    EXPECT_EQ(phase_text(e + " " + e + " " + r + " junk", 0, 30, 0, x).size(), 65u);
    EXPECT_FLOAT_EQ(x.temperature, -110.7f); // kept when unreadable
    for (auto [len, state] : {std::pair{29, 1}, {40, 1}, {41, 2}, {62, 2}, {63, 3}, {65, 3}})
        EXPECT_EQ(job_number(qor::phase_of(std::string(static_cast<std::size_t>(len), 'x'))), state);
    EXPECT_EQ(job_number(std::nullopt), 0);
}
