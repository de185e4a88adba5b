// Monotonic stopwatch in milliseconds, used for time-outs, move durations and log time stamps.
#pragma once

#include <chrono>
#include <cstdint>

namespace velq3 {

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
    using Clock = std::chrono::steady_clock;
    Clock::time_point m_start;
};

void SleepMs(int ms);

} // namespace velq3
