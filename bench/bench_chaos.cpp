// Chaos nights with fault schedules drawn from seeds: six lines of two or
// three frames each, every fault once and two more kills of the driver, in
// an order and at moments drawn from the seed. Prints each night's
// schedule and table, then the total. Never part of pass or fail.
//
//   cmake --build build --target bench_chaos && build/bench/bench_chaos [nights [first-seed]]
//
// Without a first seed the seeds are drawn at random; each is printed, so a
// night can be run again: bench_chaos 1 <seed>.
#include "chaos.h"

#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>

int main(int argc, char** argv) {
    int nights = argc > 1 ? std::atoi(argv[1]) : 3;
    unsigned seed = argc > 2 ? static_cast<unsigned>(std::strtoul(argv[2], nullptr, 10))
                             : std::random_device{}();
    qor::chaos::Options options;
    options.batch = qor::chaos::long_batch();
    options.night_limit = 1800;
    options.trace = std::getenv("CHAOS_TRACE") != nullptr;

    qor::chaos::Table total;
    std::string seeds;
    for (int i = 0; i < nights; ++i, ++seed) {
        auto schedule = qor::chaos::random_schedule(seed);
        std::printf("\nseed %u:\n", seed);
        for (const auto& s : schedule) std::printf("  %s\n", qor::chaos::describe(s).c_str());
        if (const char* keep = std::getenv("CHAOS_KEEP_LOGS")) {
            options.keep_logs = std::string(keep) + "/" + std::to_string(seed);
        }
        auto t = qor::chaos::run_night(schedule, options);
        std::printf("%s", qor::chaos::table_text(t, "seed " + std::to_string(seed)).c_str());
        for (const auto& n : t.notes) std::printf("  - %s\n", n.c_str());
        std::fflush(stdout);
        total += t;
        seeds += " " + std::to_string(seed);
    }
    total.notes.clear();
    std::printf("\n%s", qor::chaos::table_text(total, "all nights (seeds" + seeds + ")").c_str());
    return 0;
}
