// Monotonic stopwatch in milliseconds, used for time-outs, move durations and log time stamps.
// Linux: std::chrono::steady_clock. Windows: the performance counter.
#pragma once

#include <chrono>
#include <cstdint>

namespace velq3 {

#ifdef _WIN32
// QueryPerformanceCounter as a std::chrono clock, in nanoseconds.
struct PerformanceCounterClock {
    using rep = std::int64_t;
    using period = std::nano;
    using duration = std::chrono::duration<rep, period>;
    using time_point = std::chrono::time_point<PerformanceCounterClock>;
    static constexpr bool is_steady = true;
    static time_point now() noexcept;
};
#endif

class Stopwatch {
public:
    Stopwatch() : m_start(Clock::now()) {}

    void Restart() { m_start = Clock::now(); }

    // Elapsed milliseconds with sub-millisecond resolution.
    double ElapsedMs() const {
        return std::chrono::duration<double, std::milli>(Clock::now() - m_start).count();
    }

    // Elapsed whole milliseconds, truncated, as used by the time-out tests.
    std::int64_t ElapsedWholeMs() const { return static_cast<std::int64_t>(ElapsedMs()); }

private:
#ifdef _WIN32
    using Clock = PerformanceCounterClock;
#else
    using Clock = std::chrono::steady_clock;
#endif
    Clock::time_point m_start;
};

void SleepMs(int ms);

} // namespace velq3
