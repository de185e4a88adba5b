// The machine's calendar clock on Windows: time() and the C runtime's local time, whose zone
// comes from the system settings (or TZ when set).
#include "platform/Clock.h"

namespace velq3 {

std::time_t SystemCalendarClock::Now() const { return std::time(nullptr); }

std::tm SystemCalendarClock::LocalNow() const { return ToLocal(std::time(nullptr)); }

std::tm SystemCalendarClock::ToLocal(std::time_t t) const {
    _tzset();
    std::tm local{};
    localtime_s(&local, &t);
    return local;
}

}  // namespace velq3
