// Sped-up time: parsing of the factor and of the calendar start.
#include "platform/TimeScale.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace velq3 {

namespace {

// Exactly `count` decimal digits at `pos`.
std::optional<int> Digits(std::string_view text, std::size_t pos, std::size_t count) {
    if (pos + count > text.size()) return std::nullopt;
    int value = 0;
    for (std::size_t i = pos; i < pos + count; ++i) {
        if (text[i] < '0' || text[i] > '9') return std::nullopt;
        value = value * 10 + (text[i] - '0');
    }
    return value;
}

}  // namespace

std::optional<double> ParseTimeScale(std::string_view text) {
    // Digits with at most one point: no sign, exponent, "inf" or "nan" for strtod to accept.
    if (text.empty() || text.size() > 16) return std::nullopt;
    int points = 0, digits = 0;
    for (char c : text) {
        if (c == '.') ++points;
        else if (c >= '0' && c <= '9') ++digits;
        else return std::nullopt;
    }
    if (points > 1 || digits == 0) return std::nullopt;
    const std::string copy(text);
    const double value = std::strtod(copy.c_str(), nullptr);
    if (!std::isfinite(value) || value < kMinTimeScale || value > kMaxTimeScale) return std::nullopt;
    return value;
}

std::optional<std::time_t> ParseLocalDateTime(std::string_view text) {
    if (text.size() != 19 || text[4] != '-' || text[7] != '-' || (text[10] != 'T' && text[10] != ' ') ||
        text[13] != ':' || text[16] != ':')
        return std::nullopt;
    const auto year = Digits(text, 0, 4), month = Digits(text, 5, 2), day = Digits(text, 8, 2);
    const auto hour = Digits(text, 11, 2), minute = Digits(text, 14, 2), second = Digits(text, 17, 2);
    if (!year || !month || !day || !hour || !minute || !second) return std::nullopt;
    std::tm local{};
    local.tm_year = *year - 1900;
    local.tm_mon = *month - 1;
    local.tm_mday = *day;
    local.tm_hour = *hour;
    local.tm_min = *minute;
    local.tm_sec = *second;
    local.tm_isdst = -1;
    tzset();
    const std::time_t t = std::mktime(&local);
    // mktime normalises out-of-range fields (30 February becomes 2 March): such a date is
    // refused. A time skipped by a daylight-saving change comes back shifted and is refused too.
    if (local.tm_year != *year - 1900 || local.tm_mon != *month - 1 || local.tm_mday != *day ||
        local.tm_hour != *hour || local.tm_min != *minute || local.tm_sec != *second)
        return std::nullopt;
    return t;
}

std::optional<TimeScaleSetting> ReadTimeScale(const EnvLookup& env, std::string& error) {
    TimeScaleSetting setting;
    if (auto text = env("VELQ3_TIME_SCALE"); text && !text->empty()) {
        const auto factor = ParseTimeScale(*text);
        if (!factor) {
            char reason[160];
            std::snprintf(reason, sizeof reason, "VELQ3_TIME_SCALE=%.40s: expected a number %g..%g",
                          text->c_str(), kMinTimeScale, kMaxTimeScale);
            error = reason;
            return std::nullopt;
        }
        setting.factor = *factor;
    }
    if (auto text = env("VELQ3_TIME_START"); text && !text->empty()) {
        setting.start = ParseLocalDateTime(*text);
        if (!setting.start) {
            error = "VELQ3_TIME_START=" + text->substr(0, 40) + ": expected a local time YYYY-MM-DDTHH:MM:SS";
            return std::nullopt;
        }
    }
    return setting;
}

}  // namespace velq3
