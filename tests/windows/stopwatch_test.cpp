// The stopwatch on the performance counter: it follows real sleeps and never runs backwards.
#include "platform/Stopwatch.h"

#include <gtest/gtest.h>

#include <windows.h>

namespace velq3 {
namespace {

TEST(WindowsStopwatchTest, MeasuresSleepsInMilliseconds) {
    for (int ms : {20, 60}) {
        SCOPED_TRACE(ms);
        Stopwatch sw;
        SleepMs(ms);
        const double elapsed = sw.ElapsedMs();
        EXPECT_GE(elapsed, ms - 1.0);  // Sleep may end up to a tick early, never far
        EXPECT_LT(elapsed, ms + 1000.0);
        // Whole milliseconds are truncated: never more than a later reading.
        const std::int64_t whole = sw.ElapsedWholeMs();
        EXPECT_LE(whole, static_cast<std::int64_t>(sw.ElapsedMs()));
        EXPECT_GE(whole, ms - 1);
        sw.Restart();
        EXPECT_LT(sw.ElapsedMs(), ms);
    }
}

TEST(WindowsStopwatchTest, CounterClockAgreesWithTheCounter) {
    LARGE_INTEGER frequency, before, after;
    ::QueryPerformanceFrequency(&frequency);
    ::QueryPerformanceCounter(&before);
    const auto t0 = PerformanceCounterClock::now();
    ::Sleep(30);
    const auto t1 = PerformanceCounterClock::now();
    ::QueryPerformanceCounter(&after);
    ASSERT_GT(t1, t0);
    const double clockMs = std::chrono::duration<double, std::milli>(t1 - t0).count();
    const double counterMs = static_cast<double>(after.QuadPart - before.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
    EXPECT_LE(clockMs, counterMs);
    EXPECT_GT(clockMs, counterMs - 5.0);
    // Readings never go backwards.
    auto last = PerformanceCounterClock::now();
    for (int i = 0; i < 10000; ++i) {
        const auto now = PerformanceCounterClock::now();
        ASSERT_GE(now, last);
        last = now;
    }
}

}  // namespace
}  // namespace velq3
