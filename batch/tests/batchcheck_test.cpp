// batchcheck on the fake host: the batch file and FILTER in memory, the
// status line in the mailbox, the epoch of date from the fake clock.
#include "batchcheck.h"
#include "clock.h"
#include "driver.h"
#include "fake_system.h"
#include "precession.h"
#include "site.h"
#include "status_line.h"

#include <ctime>
#include <gtest/gtest.h>

namespace {

const std::string m42 = "A001 R 0.5 2 05:35:17.3 -05:23:28 2000 0 0 64 64 1 f M42\n";
const std::string m1 = "C002 V 0.5 2 05:31:30.0 21:58:00 1950 0 0 64 64 0 s M1\n";

// A status line with the telescope at a position of the equinox of date
// and filter 3 in the beam.
std::string status_at(float ra, float dec) {
    std::string d = qobs::toms1(dec, 0);
    return qor::status_line_text({"21:05:07.3", "21:05:07.4", qobs::toms1(ra, 1),
                                  (d[0] == '-' ? d : "+" + d) + ".0", "1:01:24.5", "TR00OK0003",
                                  "+003.9C"});
}

struct Batchcheck : ::testing::Test {
    qor::test::FakeSystem sys;
    const std::string batch = "/home/obs/night.batch";

    void SetUp() override {
        unsetenv("QOR_ROOT");
        setenv("TZ", "UTC0", 1);
        tzset();
        sys.put("/u/tarnu/FILTER", "U 1\nB 2\nV 3\nR 4\nx 0\n");
        std::tm tm{};
        tm.tm_year = 160, tm.tm_mon = 0, tm.tm_mday = 10, tm.tm_hour = 21;
        sys.t = static_cast<double>(timegm(&tm)); // 2060: decades of precession from now
    }
    int check(const std::string& text) {
        sys.put(batch, text);
        sys.out.clear();
        return qobs::batchcheck(sys, {"batchcheck", batch});
    }
};

} // namespace

TEST_F(Batchcheck, UsageAndAFileThatCannotBeRead) {
    EXPECT_EQ(qobs::batchcheck(sys, {"batchcheck"}), 2);
    EXPECT_EQ(sys.out, "usage: batchcheck BATCH_FILE\n");
    sys.out.clear();
    EXPECT_EQ(qobs::batchcheck(sys, {"batchcheck", "/none\x1b[2J"}), 2);
    EXPECT_EQ(sys.out, "batchcheck: cannot read /none\\x1b[2J\n");
}

TEST_F(Batchcheck, ThePlanMeasuresTheMoveAtTheEpochOfTheSystemsClock) {
    // The telescope already at M42 as of 2060, V in the beam.
    float a_ep = qobs::epoch_of_date(qor::asctime_text(static_cast<std::time_t>(sys.t)));
    qobs::Pointing p = qobs::getradec(*qor::parse_batch_line(m42).line, 0, a_ep);
    sys.db["qor.v1"] = status_at(p.a_ra, p.a_dec);
    EXPECT_EQ(check("##  two lines tonight\n" + m42 + m1), 0);
    EXPECT_EQ(sys.out, "line 2: M42, 2 frames of 0.5 s, filter R (posted), J2000 05:35:17.3 "
                       "-05:23:28, move not due, then a dithered move before every further frame\n"
                       "line 3: M1, 2 frames of 0.5 s, filter V (posted), J2000 05:34:30.5 "
                       "21:59:58, move due\n"
                       "2 lines to work; no line would stop the run\n");
    EXPECT_EQ(sys.captures, (std::vector<qor::Argv>{{qor::tool_path("keyshow"), "v1"}}));
}

TEST_F(Batchcheck, LinesThatWouldStopTheRunAndLinesNotWorked) {
    std::string long_file;
    for (std::size_t i = 0; i < qobs::BatchStore::max_lines + 2; ++i) long_file += "# \n";
    EXPECT_EQ(check(long_file + m42.substr(0, m42.size() - 1)), 0);
    EXPECT_EQ(sys.out, "lines 2000 to 2001 are beyond line 1999: kept, not worked\n"
                       "the last line has no line end: not worked\n"
                       "0 lines to work; no line would stop the run\n");

    EXPECT_EQ(check(m42 + "A003 R 0.5 2 05:35:17.3 -05:23:28 20O0 0 0 64 64 1 f M42\n" +
                    "A004 R 0.5 2 1 1 2000 0 0 64 64 1 f M" + std::string(1, '\0') + "\x1b[2J\n"),
              1);
    EXPECT_NE(sys.out.find("line 1: M42, 2 frames"), std::string::npos) << sys.out;
    EXPECT_NE(sys.out.find("line 2, field 7 (equinox): '20O0' is not a year"), std::string::npos);
    // Control bytes are shown, not sent to the terminal, and cut nothing.
    EXPECT_NE(sys.out.find("line 3, field 14 (object name): holds the control character \\x00"),
              std::string::npos)
        << sys.out;
    EXPECT_EQ(sys.out.find('\x1b'), std::string::npos);
    EXPECT_NE(sys.out.find("1 line to work; the run would stop at the lines above\n"),
              std::string::npos);

    // Without the filter table no line can be planned, and the run would stop.
    sys.files.erase("/u/tarnu/FILTER");
    EXPECT_EQ(check(m42), 1);
    EXPECT_EQ(sys.out, "cannot read /u/tarnu/FILTER: the run would stop\n"
                       "0 lines to work; the run would stop at the lines above\n");
}
