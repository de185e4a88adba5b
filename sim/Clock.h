// Time base of the simulator: the monotonic clock and millisecond conversions.
#pragma once

#include <chrono>

namespace velq3::sim {

using Clock = std::chrono::steady_clock;
using TimePoint = Clock::time_point;
using Duration = Clock::duration;

inline Duration millis(double ms) {
  return std::chrono::duration_cast<Duration>(std::chrono::duration<double, std::milli>(ms));
}

inline double toMillis(Duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

}  // namespace velq3::sim
