#include "clock.h"

#include <cstdlib>
#include <gtest/gtest.h>

TEST(Clock, AsctimeLayoutWithSpacePaddedDay) {
    setenv("TZ", "UTC", 1);
    tzset();
    // 2026-12-06 19:44:56 UTC
    std::time_t t = 1796586296;
    EXPECT_EQ(qor::asctime_text(t), "Sun Dec  6 19:44:56 2026\n");
    EXPECT_EQ(qor::asctime_text(t).size(), 25u);
    EXPECT_EQ(qor::clock_text(t), "19:44:56");
    EXPECT_EQ(qor::asctime_text(t + 5 * 86400), "Fri Dec 11 19:44:56 2026\n");
}
