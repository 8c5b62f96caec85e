// The night's day number: one number from noon to the next morning's 10 h.
#include "jd.h"

#include <gtest/gtest.h>

using qor::day_number;
using qor::dojd;

TEST(DayNumber, OneNightKeepsOneNumber) {
    EXPECT_EQ(dojd(2026, 12, 6, 19), 1381); // Julian day number 2461381
    EXPECT_EQ(dojd(2026, 12, 7, 9), 1381);  // 09:59 still belongs to the night
    EXPECT_EQ(dojd(2026, 12, 7, 10), 1382);
    EXPECT_EQ(dojd(2026, 12, 7, 0), 1381);
}

TEST(DayNumber, AgreesWithTheCalendarAcrossMonthsAndYears) {
    // January and February count with the previous year's leap rule.
    EXPECT_EQ(dojd(2026, 1, 1, 12), 1042); // 2461042
    EXPECT_EQ(dojd(2026, 3, 1, 12), 1101); // 2461101
    EXPECT_EQ(dojd(2024, 2, 29, 12), 370); // 2460370
    EXPECT_EQ(dojd(2024, 3, 1, 12), 371);
    EXPECT_EQ(dojd(2026, 12, 31, 12), 1406);
    EXPECT_EQ(dojd(2027, 1, 1, 12), 1407);
}

TEST(DayNumber, ReadFromTheAsctimeText) {
    EXPECT_EQ(day_number("Sun Dec  6 19:44:56 2026\n"), 1381);
    EXPECT_EQ(day_number("Mon Dec  7 09:59:59 2026\n"), 1381);
    EXPECT_EQ(day_number("Mon Nov 20 12:00:00 1995\n"), 42); // written as 0042
    EXPECT_EQ(day_number("Xyz Qqq  6 19:44:56 2026\n"), -1);
    EXPECT_EQ(day_number("short"), -1);
}
