// Sped-up time for long unattended runs (a night's soak in minutes): the factor and the
// calendar start, read from the environment by the program's main and injected from there.
#pragma once

#include <ctime>
#include <optional>
#include <string>
#include <string_view>

#include "platform/UserPaths.h"

namespace velq3 {

inline constexpr double kMinTimeScale = 1.0;
inline constexpr double kMaxTimeScale = 1000.0;

struct TimeScaleSetting {
    double factor = 1.0;               // calendar time and timer periods run this many times faster
    std::optional<std::time_t> start;  // the calendar clock's first reading; none: now

    bool Active() const { return factor != 1.0 || start.has_value(); }
};

// A factor kMinTimeScale..kMaxTimeScale in plain decimal notation ("40", "12.5"); else none.
std::optional<double> ParseTimeScale(std::string_view text);

// "YYYY-MM-DDTHH:MM:SS" (or a blank instead of the T) in the machine's local time; none for
// another form or a date that does not exist (2026-02-30, 25:00:00).
std::optional<std::time_t> ParseLocalDateTime(std::string_view text);

// VELQ3_TIME_SCALE (factor) and VELQ3_TIME_START (local start time) from `env`. None, with a
// one-line reason in `error`, when either is set to something it cannot be.
std::optional<TimeScaleSetting> ReadTimeScale(const EnvLookup& env, std::string& error);

}  // namespace velq3
