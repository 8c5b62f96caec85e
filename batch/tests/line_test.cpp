// Reading a batch line the driver's way, and the faults that stop a line.
#include "line.h"

#include <gtest/gtest.h>

using namespace qobs;

namespace {

std::string line(const std::string& code = "A001", const std::string& filter = "V",
                 const std::string& secs = "10", const std::string& ra = "05:35:17.3",
                 const std::string& dec = "-05:23:28", const std::string& eq = "2000") {
    return code + " " + filter + " " + secs + " 3 " + ra + " " + dec + " " + eq +
           " 0 0 512x 256 1 f M42\n";
}

const FilterTable table = parse_filter_table("U 1\nB 2\nV 3\n5 4\nF 15\nx 0");


BatchLine parsed(const std::string& text) {
    auto p = parse_batch_line(text);
    EXPECT_TRUE(p.line) << text;
    return p.line.value_or(BatchLine{});
}
std::optional<LineFault> check_line(const std::string& text) {
    return parse_batch_line(text).fault;
}

} // namespace

TEST(BatchLine, SetparWritesTheCameraSetUp) {
    qobs::Setup s = setpar(parsed(line("A001", "V", "1.5")));
    EXPECT_EQ(s.fff_dat, "150\n0\n0\n512x\n256\n0\nFast\nM42\n");
    EXPECT_EQ(s.nsc, 512);
    EXPECT_EQ(s.nsr, 256);
    EXPECT_EQ(setpar(parsed("A001 V 0.004 1 1 1 2000 a b c d 2 m X\n")).fff_dat,
              "0\na\nb\nc\nd\n2\nMedium\nX\n");
    EXPECT_FALSE(setpar(parsed("A001 V 0.004 1 1 1 2000 a b c d 2 m X\n")).nsc);
    EXPECT_EQ(exposure_seconds(parsed(line("A001", "V", "0.5"))), 0);
    EXPECT_EQ(object_text(line()), "M42\n");
}

TEST(BatchLine, FilterByLetterOrNumberAndWhenToPost) {
    // "5" is the letter 5 (number 4); "15" the number 15 (letter F).
    EXPECT_EQ(getfiltframe(parsed(line("A001", "5")), table, 3)->command, "filt_5");
    EXPECT_EQ(getfiltframe(parsed(line("A001", "5")), table, 3)->wanted, 4);
    EXPECT_EQ(getfiltframe(parsed(line("A001", "15")), table, 3)->wanted, 15);
    EXPECT_EQ(getfiltframe(parsed(line("A001", "V")), table, 3)->command, " ilt_V"); // in the beam
    EXPECT_EQ(getfiltframe(parsed(line("A001", "V")), table, std::nullopt)->command, "filt_V");
    EXPECT_EQ(getfiltframe(parsed(line("A001", "x")), table, 3)->command[0], ' ');
    EXPECT_FALSE(getfiltframe(parsed(line("A001", "R")), table, 3));
    EXPECT_EQ(getfiltframe(parsed(line()), table, 3)->frames, 3);
}

TEST(BatchLine, DitherWrapAndEquinox) {
    float ep = 2026.9f;
    Pointing f0 = getradec(parsed(line()), 0, ep);
    EXPECT_EQ(f0.command, "move_05:35:17.3_-05:23:28"); // frame 0: the line's own position
    EXPECT_EQ(getradec(parsed(line()), 18, ep).command, f0.command);
    EXPECT_EQ(getradec(parsed(line()), 19, ep).command, getradec(parsed(line()), 1, ep).command);
    // Frame 1: five steps of 5.1" east, at the line's declination.
    EXPECT_EQ(getradec(parsed(line()), 1, ep).command, "move_05:35:19.0_-05:23:28");
    EXPECT_EQ(getradec(parsed(line()), 3, ep).command, "move_05:35:16.6_-05:23:08");
    for (int q : {1, 3, 7}) {
        EXPECT_EQ(getradec(parsed(line("C001")), q, ep).command, f0.command); // kind C is not dithered
    }
    EXPECT_EQ(getradec(parsed(line("A001", "V", "1", "23:59:59.0", "10")), 7, ep).ra_text, "00:00:01.1");
    EXPECT_EQ(getradec(parsed(line("A001", "V", "1", "05:31:30", "21:58", "1950")), 0, ep).command,
              "move_05:34:30.5_21:59:58");
    // The pointing check is made for the equinox of date.
    EXPECT_NEAR(f0.a_ra, 5.5881 + 26.9 * 2.95 / 3600, 2e-4); // about 2.95 s a year
}

TEST(BatchLine, FaultsNameTheField) {
    EXPECT_FALSE(check_line(line()));
    EXPECT_FALSE(check_line(trim_trailing_blanks("A001 V 1 1 1 1 2000 a b c d 1 f M42   \n")));
    EXPECT_EQ(trim_trailing_blanks("A001 M42  \n"), "A001 M42\n");
    struct Bad {
        std::string line;
        int field;
    };
    for (const Bad& b : std::initializer_list<Bad>{
             {"A001 V 10 3 05:35:17.3 -05:23:28\n", 7},
             {"A01 V 10 3 1 1 2000 0 0 1 1 1 f M\n", 1},
             {"A001  V 10 3 1 1 2000 0 0 1 1 1 f M\n", 5}, // two blanks: read from the wrong place
             {"A001 V 10.25 12345 1 1 2000 0 0 1 1 1 f M\n", 4},
             {"A001 V;x 10 3 1 1 2000 0 0 1 1 1 f M\n", 2},
             {"A001 ` 10 3 1 1 2000 0 0 1 1 1 f M\n", 2},
             {"A001 V 1e3 3 1 1 2000 0 0 1 1 1 f M\n", 3},
             {line("A001", "V", "10", "25:00:00"), 5},
             {line("A001", "V", "10", "5:75"), 5},
             {line("A001", "V", "10", "05:35:17.3", "-91"), 6},
             {line("A001", "V", "10", "05:35:17.3", "5:10:ab"), 6},
             {line("A001", "V", "10", "05:35:17.3", "1", "J2000"), 7},
             {"A001 V 10 3 1 1 2000 0 0 1 1 1 f M 42\n", 14},
             // Control characters, and the sizes of fields and of the line.
             {std::string("A001 V 10 3 1 1 2000 0 0 1 1 1 f M\0 42\n", 37), 14},
             {"A001 V 10 3 1 1 2000 0 0 1 1 1 f M\x1b[2J\n", 14},
             {"A001 V 10 3 1 1 2000 0\r0 1 1 1 f M\n", 8},
             {"A001 V 10 3 1 1 2000 0 0 1 1234567890123456 1 f M\n", 11},
             {"A001 V 10 3 1 1 2000 0 0 1 1 1 f " + std::string(44, 'M') + "\n", 14},
         }) {
        auto f = check_line(b.line);
        ASSERT_TRUE(f) << b.line;
        EXPECT_EQ(f->field, b.field) << b.line << f->problem;
    }
    EXPECT_EQ(
        fault_text(7, *check_line(line("A001", "V", "10", "25:00:00"))),
        "line 7, field 5 (right ascension): '25:00:00' is not hh:mm:ss.s from 0 to 24 hours\n");
    EXPECT_EQ(fault_text(2, *check_line("A001 V 1 1 1 1 2000 0 0 1 1 1 f " + std::string(87, 'M') +
                                        "\n")),
              "line 2: it has 120 characters; at most 119, its line end included\n");
    EXPECT_EQ(check_line("A001 V 10 3 1 1 2000 0 0 1 1 1 f M\x1b[2J\n")->problem,
              "holds the control character \\x1b");
    // A CR LF line end is a line end: no CR reaches nowjob.txt, exp.dat or the log.
    EXPECT_EQ(trim_trailing_blanks("A001 M42 \r\n"), "A001 M42\n");
    EXPECT_TRUE(check_filter(parsed(line("A001", "R")), table));
    EXPECT_TRUE(is_pending("A001\n"));
    EXPECT_FALSE(is_pending("v   A001\n"));
    EXPECT_FALSE(is_pending("\n"));
}

TEST(BatchLine, PointingError) {
    qor::TelescopePosition at{5.5, 60};
    EXPECT_EQ(pointing_error(at, 5.5f, 60.f + 40.f / 3600), 900); // 40" is the cap
    EXPECT_EQ(pointing_error(at, 5.5f - 1.f / 3600, 60.f), 56);   // 1 s of time at +60: 7.5"
    qor::TelescopePosition near_zero{23 + 59 / 60.0 + 59 / 3600.0, 10};
    EXPECT_EQ(pointing_error(near_zero, 1.f / 3600, 10.f), 900);
}
