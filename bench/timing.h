// Small timing helpers shared by the benchmarks.
#ifndef BENCH_TIMING_H
#define BENCH_TIMING_H

#include <algorithm>
#include <chrono>
#include <limits>

namespace bench {

// Seconds taken by one call of fn.
template <class Fn> double seconds(Fn&& fn) {
    auto start = std::chrono::steady_clock::now();
    fn();
    std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    return took.count();
}

// Best of several runs: on a shared machine the fastest run is the one
// least disturbed by other work.
template <class Fn> double best_seconds(int runs, Fn&& fn) {
    double best = std::numeric_limits<double>::infinity();
    for (int i = 0; i < runs; ++i) best = std::min(best, seconds(fn));
    return best;
}

// Keeps a result alive so the compiler cannot drop the work behind it.
template <class T> void keep(const T& value) {
    asm volatile("" : : "g"(&value) : "memory");
}

} // namespace bench

#endif
