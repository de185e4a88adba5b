// The machine's calendar clock on Linux: time() and localtime_r with TZ re-read.
#include "platform/Clock.h"

namespace velq3 {

std::time_t SystemCalendarClock::Now() const { return std::time(nullptr); }

std::tm SystemCalendarClock::LocalNow() const { return ToLocal(std::time(nullptr)); }

std::tm SystemCalendarClock::ToLocal(std::time_t t) const {
    tzset();
    std::tm local{};
    localtime_r(&t, &local);
    return local;
}

}  // namespace velq3
