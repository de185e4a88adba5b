// The stopwatch's clock on Windows: the performance counter; sleeping with Sleep().
#include "platform/Stopwatch.h"

#include <windows.h>

namespace velq3 {

namespace {

std::int64_t CounterFrequency() {
    LARGE_INTEGER f;
    ::QueryPerformanceFrequency(&f);  // fixed at boot; never fails on Windows XP and later
    return f.QuadPart;
}

}  // namespace

PerformanceCounterClock::time_point PerformanceCounterClock::now() noexcept {
    static const std::int64_t frequency = CounterFrequency();
    LARGE_INTEGER c;
    ::QueryPerformanceCounter(&c);
    // Whole seconds and the remainder apart, so that ticks * 10^9 cannot overflow.
    const std::int64_t seconds = c.QuadPart / frequency;
    const std::int64_t rest = c.QuadPart % frequency;
    return time_point(duration(seconds * 1'000'000'000 + rest * 1'000'000'000 / frequency));
}

void SleepMs(int ms) {
    if (ms > 0) ::Sleep(static_cast<DWORD>(ms));
}

}  // namespace velq3
