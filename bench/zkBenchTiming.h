#pragma once

// Timing and printing shared by the benchmarks: medians of repeated runs, and one line per
// figure with its ratio to the baseline measured in the same run.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <vector>

namespace zkBenchTiming {

using Clock = std::chrono::steady_clock;

inline double Ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

// Median of `runs` runs of fn, in milliseconds; `before` runs untimed ahead of each.
inline double MedianMs(int runs, const std::function<void()>& fn,
                       const std::function<void()>& before = {}) {
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        if (before)
            before();
        const auto start = Clock::now();
        fn();
        times.push_back(Ms(Clock::now() - start));
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

inline void Line(const char* what, double ms, double baseMs, const char* base, double goal = 0) {
    std::printf("%-44s %8.3f ms   %6.1fx %-30s", what, ms, baseMs > 0 ? ms / baseMs : 0, base);
    if (goal > 0)
        std::printf(" goal %.0f ms: %s", goal, ms <= goal ? "met" : "MISSED");
    std::printf("\n");
    std::fflush(stdout);
}

} // namespace zkBenchTiming
