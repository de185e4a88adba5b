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
    std::tm local{};
#ifdef _WIN32
    gmtime_s(&local, &shifted);  // Windows' struct tm has no offset or zone fields
#else
    gmtime_r(&shifted, &local);
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
