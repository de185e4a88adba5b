// Tests of the calendar clocks: the fixed clock's date arithmetic and the system clock's use of
// the time zone.
#include "platform/Clock.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>

namespace velq3 {
namespace {

TEST(FixedCalendarClockTest, ShowsTheLocalTimeItWasSetTo) {
    // 23:59:30 on a leap day, one hour east of UTC.
    auto clock = FixedCalendarClock::AtLocal(2024, 2, 29, 23, 59, 30, 3600);
    EXPECT_EQ(clock.Now(), 1709247570);  // 2024-02-29 22:59:30 UTC
    std::tm local = clock.LocalNow();
    EXPECT_EQ(local.tm_year, 124);
    EXPECT_EQ(local.tm_mon, 1);
    EXPECT_EQ(local.tm_mday, 29);
    EXPECT_EQ(local.tm_hour, 23);
    EXPECT_EQ(local.tm_min, 59);
    EXPECT_EQ(local.tm_sec, 30);
    EXPECT_EQ(local.tm_wday, 4);  // Thursday
    EXPECT_EQ(local.tm_yday, 59);
#ifndef _WIN32  // Windows' struct tm has no offset field
    EXPECT_EQ(local.tm_gmtoff, 3600);
#endif

    clock.Advance(std::chrono::seconds(31));
    local = clock.LocalNow();
    EXPECT_EQ(local.tm_mon, 2);
    EXPECT_EQ(local.tm_mday, 1);
    EXPECT_EQ(local.tm_hour, 0);
    EXPECT_EQ(local.tm_sec, 1);
    EXPECT_EQ(local.tm_wday, 5);

    clock.SetLocal(2023, 12, 31, 12, 0, 0);  // keeps the offset
    EXPECT_EQ(clock.Now(), 1704020400);
    EXPECT_EQ(clock.LocalNow().tm_hour, 12);
    EXPECT_EQ(clock.LocalNow().tm_yday, 364);
}

TEST(FixedCalendarClockTest, HandlesDatesBeforeTheEpochAndWestOfUtc) {
    auto clock = FixedCalendarClock::AtLocal(1969, 12, 31, 19, 0, 0, -5 * 3600);
    EXPECT_EQ(clock.Now(), 0);
    EXPECT_EQ(FixedCalendarClock::AtLocal(1969, 12, 31, 23, 0, 0).Now(), -3600);
    const std::tm local = clock.LocalNow();
    EXPECT_EQ(local.tm_year, 69);
    EXPECT_EQ(local.tm_mday, 31);
    EXPECT_EQ(local.tm_hour, 19);
}

#ifndef _WIN32
// The fixed clock works out its fields itself (Windows' gmtime_s refuses times before 1970):
// they agree with the C library's for instants on both sides of the epoch and of leap days.
TEST(FixedCalendarClockTest, FieldsAgreeWithTheCLibrary) {
    for (std::time_t t : {std::time_t{-2208988800}, std::time_t{-86401}, std::time_t{-1}, std::time_t{0},
                          std::time_t{951782400}, std::time_t{1709247570}, std::time_t{4107542399}}) {
        SCOPED_TRACE(t);
        std::tm expected{};
        gmtime_r(&t, &expected);
        const std::tm got = FixedCalendarClock(t).LocalNow();
        EXPECT_EQ(got.tm_year, expected.tm_year);
        EXPECT_EQ(got.tm_mon, expected.tm_mon);
        EXPECT_EQ(got.tm_mday, expected.tm_mday);
        EXPECT_EQ(got.tm_hour, expected.tm_hour);
        EXPECT_EQ(got.tm_min, expected.tm_min);
        EXPECT_EQ(got.tm_sec, expected.tm_sec);
        EXPECT_EQ(got.tm_wday, expected.tm_wday);
        EXPECT_EQ(got.tm_yday, expected.tm_yday);
    }
}
#endif

#ifndef _WIN32  // POSIX TZ rules; the Windows clock's zone comes from the system settings
// The system clock follows TZ, read again at each call.
TEST(SystemCalendarClockTest, FollowsTheTimeZone) {
    const char* old = std::getenv("TZ");
    const std::optional<std::string> saved = old ? std::optional<std::string>(old) : std::nullopt;
    SystemCalendarClock clock;

    auto offsetFromUtc = [&clock]() {
        for (;;) {  // retry if a second boundary falls between the two readings
            const std::time_t before = clock.Now();
            std::tm local = clock.LocalNow();
            if (clock.Now() != before) continue;
            return static_cast<long>(timegm(&local) - before);
        }
    };
    setenv("TZ", "UTC0", 1);
    EXPECT_EQ(offsetFromUtc(), 0);
    setenv("TZ", "EST5", 1);
    EXPECT_EQ(offsetFromUtc(), -5 * 3600);

    if (saved) {
        setenv("TZ", saved->c_str(), 1);
    } else {
        unsetenv("TZ");
    }
    tzset();
}
#endif

}  // namespace
}  // namespace velq3
