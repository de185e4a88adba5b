// Calendar clocks: a fixed one for tests and a sped-up one (the system clock is in the
// Linux and Windows folders).
#include "platform/Clock.h"

#include <cmath>
#include <stdexcept>

namespace velq3 {

namespace {

// Days from 1970-01-01 to the given civil date (proleptic Gregorian), without time zones.
std::time_t DaysFromCivil(long long y, unsigned m, unsigned d) {
    y -= m <= 2;
    const long long era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return static_cast<std::time_t>(era * 146097 + static_cast<long long>(doe) - 719468);
}

// The broken-down UTC time of `t`, as gmtime_r gives it but for any instant (Windows' gmtime_s
// refuses times before 1970).
std::tm UtcFields(std::time_t t) {
    long long days = t / 86400;
    long long secs = t % 86400;
    if (secs < 0) {
        secs += 86400;
        --days;
    }
    // Civil date from days since 1970-01-01 (the inverse of DaysFromCivil).
    const long long z = days + 719468;
    const long long era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    const unsigned d = doy - (153 * mp + 2) / 5 + 1;
    const unsigned m = mp < 10 ? mp + 3 : mp - 9;
    const long long y = static_cast<long long>(yoe) + era * 400 + (m <= 2);
    std::tm out{};
    out.tm_year = static_cast<int>(y - 1900);
    out.tm_mon = static_cast<int>(m - 1);
    out.tm_mday = static_cast<int>(d);
    out.tm_hour = static_cast<int>(secs / 3600);
    out.tm_min = static_cast<int>(secs % 3600 / 60);
    out.tm_sec = static_cast<int>(secs % 60);
    out.tm_wday = static_cast<int>(((days % 7) + 11) % 7);  // 1970-01-01 was a Thursday
    out.tm_yday = static_cast<int>(days - DaysFromCivil(y, 1, 1));
    return out;
}

std::time_t FromLocal(int year, int month, int day, int hour, int minute, int second,
                      long offset) {
    const std::time_t days = DaysFromCivil(year, static_cast<unsigned>(month),
                                           static_cast<unsigned>(day));
    return days * 86400 + hour * 3600 + minute * 60 + second - offset;
}

}  // namespace

FixedCalendarClock::FixedCalendarClock(std::time_t now, long utcOffsetSeconds)
    : now_(now), offset_(utcOffsetSeconds) {}

FixedCalendarClock FixedCalendarClock::AtLocal(int year, int month, int day, int hour,
                                               int minute, int second, long utcOffsetSeconds) {
    return FixedCalendarClock(
        FromLocal(year, month, day, hour, minute, second, utcOffsetSeconds), utcOffsetSeconds);
}

std::time_t FixedCalendarClock::Now() const { return now_.load(); }

std::tm FixedCalendarClock::LocalNow() const { return ToLocal(now_.load()); }

std::tm FixedCalendarClock::ToLocal(std::time_t t) const {
    const std::time_t shifted = t + offset_;
    std::tm local = UtcFields(shifted);
#ifndef _WIN32  // Windows' struct tm has no offset or zone fields
    local.tm_gmtoff = offset_;
    local.tm_zone = offset_ == 0 ? "UTC" : "";
#endif
    local.tm_isdst = 0;
    return local;
}

void FixedCalendarClock::Set(std::time_t now) { now_.store(now); }

void FixedCalendarClock::SetLocal(int year, int month, int day, int hour, int minute,
                                  int second) {
    now_.store(FromLocal(year, month, day, hour, minute, second, offset_));
}

void FixedCalendarClock::Advance(std::chrono::seconds by) {
    now_.fetch_add(static_cast<std::time_t>(by.count()));
}

ScaledCalendarClock::ScaledCalendarClock(std::time_t start, double factor, SteadyNow steadyNow)
    : steadyNow_(steadyNow ? std::move(steadyNow) : SteadyNow([] { return std::chrono::steady_clock::now(); })),
      origin_(steadyNow_()),
      start_(start),
      factor_(factor) {
    if (!std::isfinite(factor) || factor <= 0) throw std::invalid_argument("time scale must be a positive number");
}

std::time_t ScaledCalendarClock::Now() const {
    const std::chrono::duration<double> elapsed = steadyNow_() - origin_;
    return start_ + static_cast<std::time_t>(std::floor(elapsed.count() * factor_));
}

std::tm ScaledCalendarClock::LocalNow() const { return ToLocal(Now()); }

std::tm ScaledCalendarClock::ToLocal(std::time_t t) const { return SystemCalendarClock().ToLocal(t); }

}  // namespace velq3
