// Calendar and local time behind an interface, so that tests can pin the date and the hour.
#pragma once

#include <atomic>
#include <chrono>
#include <ctime>
#include <functional>

namespace velq3 {

class CalendarClock {
public:
    virtual ~CalendarClock() = default;
    // Seconds since the epoch.
    virtual std::time_t Now() const = 0;
    // The current local date and time, fields filled as localtime_r fills them.
    virtual std::tm LocalNow() const = 0;
    // Any moment in this clock's local time.
    virtual std::tm ToLocal(std::time_t t) const = 0;
};

// The machine's clock and time zone (TZ is re-read at each call).
class SystemCalendarClock final : public CalendarClock {
public:
    std::time_t Now() const override;
    std::tm LocalNow() const override;
    std::tm ToLocal(std::time_t t) const override;
};

// A clock that stands still until told otherwise. Local time is the stored instant shifted by a
// fixed UTC offset, so results do not depend on the machine's time zone. Safe to set from one
// thread while another reads.
class FixedCalendarClock final : public CalendarClock {
public:
    explicit FixedCalendarClock(std::time_t now = 0, long utcOffsetSeconds = 0);

    // A clock showing the given local wall time (month 1..12) at the given UTC offset.
    static FixedCalendarClock AtLocal(int year, int month, int day, int hour, int minute,
                                      int second, long utcOffsetSeconds = 0);

    std::time_t Now() const override;
    std::tm LocalNow() const override;
    std::tm ToLocal(std::time_t t) const override;

    void Set(std::time_t now);
    void SetLocal(int year, int month, int day, int hour, int minute, int second);
    void Advance(std::chrono::seconds by);
    long UtcOffsetSeconds() const { return offset_; }

private:
    std::atomic<std::time_t> now_;
    long offset_;
};

// Calendar time that runs `factor` times as fast as the steady clock, from a chosen start: a
// night of the temperature log in minutes. Local time is the machine's (TZ), as for
// SystemCalendarClock. Safe to read from any thread.
class ScaledCalendarClock final : public CalendarClock {
public:
    using SteadyNow = std::function<std::chrono::steady_clock::time_point()>;

    // Shows `start` now and then runs `factor` times as fast as `steadyNow` (by default
    // std::chrono::steady_clock). Throws std::invalid_argument unless factor is finite and > 0.
    ScaledCalendarClock(std::time_t start, double factor, SteadyNow steadyNow = {});

    std::time_t Now() const override;
    std::tm LocalNow() const override;
    std::tm ToLocal(std::time_t t) const override;

    double Factor() const { return factor_; }

private:
    SteadyNow steadyNow_;
    std::chrono::steady_clock::time_point origin_;
    std::time_t start_;
    double factor_;
};

}  // namespace velq3
