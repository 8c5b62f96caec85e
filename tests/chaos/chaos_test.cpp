// The short chaos night: four lines, every fault once, the driver killed
// at three points. Nothing may be lost, doubled, taken wrong or go unsaid.
#include "chaos.h"

#include <cstdio>
#include <cstdlib>
#include <gtest/gtest.h>

namespace qor::chaos {

TEST(ChaosNight, ShortScheduleHarmsNothing) {
    Options options;
    options.night_limit = 900;
    options.trace = true;
    if (const char* keep = std::getenv("CHAOS_KEEP_LOGS")) options.keep_logs = keep;
    Table t = run_night(short_schedule(), options);
    std::printf("%s", table_text(t, "chaos night, short schedule").c_str());
    for (const auto& n : t.notes) std::printf("  - %s\n", n.c_str());

    EXPECT_EQ(t.never_injected, 0);
    EXPECT_EQ(t.late_triggers, 0);
    EXPECT_EQ(t.frames_missing, 0);
    EXPECT_EQ(t.frames_twice, 0);
    EXPECT_EQ(t.wrong_pointing, 0);
    EXPECT_EQ(t.wrong_filter, 0);
    EXPECT_EQ(t.commands_lost, 0);
    EXPECT_EQ(t.commands_twice, 0);
    EXPECT_EQ(t.lines_unmarked, 0);
    EXPECT_EQ(t.silent_faults, 0);
    EXPECT_EQ(t.ended_early, 0);
    EXPECT_EQ(t.prompts, 0);
}

} // namespace qor::chaos
