// Tests of sped-up time: the scaled calendar clock, the scaled main-loop timers and the
// parsing of the factor and of the start time.
#include "platform/Clock.h"
#include "platform/MainLoop.h"
#include "platform/TimeScale.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <limits>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>

namespace velq3 {
namespace {

using namespace std::chrono_literals;
using SteadyTime = std::chrono::steady_clock::time_point;

// Sets TZ for one test and puts the old value back.
class ZoneGuard {
public:
    explicit ZoneGuard(const char* zone) {
        if (const char* old = std::getenv("TZ")) saved_ = old;
        setenv("TZ", zone, 1);
        tzset();
    }
    ~ZoneGuard() {
        if (saved_) setenv("TZ", saved_->c_str(), 1);
        else unsetenv("TZ");
        tzset();
    }

private:
    std::optional<std::string> saved_;
};

TEST(ScaledCalendarClockTest, RunsFactorTimesFasterFromItsStart) {
    ZoneGuard zone("UTC0");
    SteadyTime steady{};  // the clock reads this through the injected function
    const std::time_t start = 1796644200;  // 2026-12-07 11:50:00 UTC
    ScaledCalendarClock clock(start, 40, [&steady] { return steady; });
    EXPECT_EQ(clock.Now(), start);

    steady += 15s;  // 600 s of calendar time: noon
    EXPECT_EQ(clock.Now(), start + 600);
    std::tm local = clock.LocalNow();
    EXPECT_EQ(local.tm_hour, 12);
    EXPECT_EQ(local.tm_min, 0);
    EXPECT_EQ(local.tm_sec, 0);
    EXPECT_EQ(local.tm_mday, 7);

    // Fractions of a calendar second are cut, never rounded up ahead of time.
    steady += 24ms;  // 0.96 s
    EXPECT_EQ(clock.Now(), start + 600);
    steady += 1ms;
    EXPECT_EQ(clock.Now(), start + 601);

    // Twelve hours later in eighteen minutes.
    steady += 18min - 25ms;
    EXPECT_EQ(clock.Now(), start + 600 + 18 * 60 * 40);
    local = clock.LocalNow();
    EXPECT_EQ(local.tm_mday, 8);
    EXPECT_EQ(local.tm_hour, 0);
}

TEST(ScaledCalendarClockTest, LocalTimeFollowsTheMachinesZone) {
    ZoneGuard zone("EST5");
    SteadyTime steady{};
    ScaledCalendarClock clock(0, 2.5, [&steady] { return steady; });
    EXPECT_EQ(clock.LocalNow().tm_hour, 19);  // 1969-12-31 19:00 at UTC-5
    EXPECT_EQ(clock.LocalNow().tm_mday, 31);
    steady += 2h;  // five hours of calendar time
    EXPECT_EQ(clock.Now(), 5 * 3600);
    EXPECT_EQ(clock.LocalNow().tm_hour, 0);
    EXPECT_EQ(clock.LocalNow().tm_mday, 1);
    EXPECT_EQ(clock.ToLocal(12 * 3600).tm_hour, 7);
}

TEST(ScaledCalendarClockTest, RefusesAFactorThatIsNoPositiveNumber) {
    for (double bad : {0.0, -1.0, std::nan(""), std::numeric_limits<double>::infinity()})
        EXPECT_THROW(ScaledCalendarClock(0, bad), std::invalid_argument) << bad;
    // The default steady clock: time moves forward, never back.
    ScaledCalendarClock real(1000, 1000);
    const std::time_t first = real.Now();
    EXPECT_GE(first, 1000);
    EXPECT_GE(real.Now(), first);
}

TEST(PollMainLoopScaleTest, TimerPeriodsAreDividedByTheScale) {
    PollMainLoop plain;
    EXPECT_EQ(plain.TimeScale(), 1.0);
    EXPECT_EQ(plain.RealPeriod(5000ms), 5000ms);
    EXPECT_EQ(plain.RealPeriod(0ms), 1ms);

    PollMainLoop fast(40);
    EXPECT_EQ(fast.RealPeriod(5000ms), 125ms);
    EXPECT_EQ(fast.RealPeriod(1000ms), 25ms);
    EXPECT_EQ(fast.RealPeriod(0ms), 25us);  // the 1 ms floor applies to the calendar period
    PollMainLoop odd(3);
    EXPECT_EQ(odd.RealPeriod(1000ms), std::chrono::nanoseconds(333333333));

    for (double bad : {0.0, -2.0, std::nan("")}) EXPECT_THROW(PollMainLoop{bad}, std::invalid_argument) << bad;
}

// Timers of a loop at scale 100 keep their calendar ratio: a 1000 ms timer fires five times for
// each firing of a 5000 ms one, in a fraction of the unscaled time.
TEST(PollMainLoopScaleTest, ScaledTimersFireAtTheScaledPeriod) {
    PollMainLoop loop(100);
    int fast = 0, slow = 0;
    bool hung = false;
    const auto begin = std::chrono::steady_clock::now();
    loop.AddTimer(1000ms, [&] { ++fast; });
    loop.AddTimer(5000ms, [&] {
        if (++slow == 4) loop.Quit();
    });
    loop.AddTimer(1000s, [&] {  // ten real seconds: the loop would otherwise hang the test
        hung = true;
        loop.Quit();
    });
    loop.Run();
    const auto elapsed = std::chrono::steady_clock::now() - begin;
    ASSERT_FALSE(hung);
    EXPECT_EQ(slow, 4);
    // Timers never fire early: four periods of 50 ms have passed at least.
    EXPECT_GE(elapsed, 200ms);
    // Unscaled the four would take 20 s; a loaded machine still stays far below.
    EXPECT_LT(elapsed, 5s);
    // Due together at the end, the older (fast) timer fires first: 20 at most; late wake-ups
    // on a busy machine skip some without a burst.
    EXPECT_GE(fast, 10);
    EXPECT_LE(fast, 20);
}

TEST(TimeScaleParseTest, FactorsInRangeInPlainNotation) {
    EXPECT_EQ(ParseTimeScale("40"), 40.0);
    EXPECT_EQ(ParseTimeScale("1"), 1.0);
    EXPECT_EQ(ParseTimeScale("12.5"), 12.5);
    EXPECT_EQ(ParseTimeScale("1000"), 1000.0);
    EXPECT_EQ(ParseTimeScale("060"), 60.0);
    for (const char* bad : {"", "0", "0.5", "1000.5", "-40", "+40", "4e1", "inf", "nan", "40x", " 40", "1.2.3",
                            ".", "99999999999999999"})
        EXPECT_FALSE(ParseTimeScale(bad)) << bad;
}

TEST(TimeScaleParseTest, LocalDateTimesThatExist) {
    ZoneGuard zone("UTC0");
    EXPECT_EQ(ParseLocalDateTime("2026-12-07T11:50:00"), 1796644200);
    EXPECT_EQ(ParseLocalDateTime("2026-12-07 11:50:00"), 1796644200);
    EXPECT_EQ(ParseLocalDateTime("2024-02-29T23:59:59"), 1709251199);
    EXPECT_EQ(ParseLocalDateTime("1969-12-31T23:59:59"), -1);  // mktime's error value, yet a time
    for (const char* bad : {"2026-02-30T12:00:00", "2026-12-07T24:00:00", "2026-12-07T11:60:00",
                            "2026-13-01T00:00:00", "2026-12-07", "2026-12-07T11:50", "2026-12-07X11:50:00",
                            "2026-12-07T11:50:00Z", "2026/12/07T11:50:00", "2026-12-0aT11:50:00", ""})
        EXPECT_FALSE(ParseLocalDateTime(bad)) << bad;
}

TEST(TimeScaleParseTest, LocalDateTimeUsesTheMachinesZone) {
    ZoneGuard zone("CET-1CEST,M3.5.0,M10.5.0/3");
    EXPECT_EQ(ParseLocalDateTime("2026-12-07T12:00:00"), 1796644800 - 3600);  // winter: UTC+1
    EXPECT_EQ(ParseLocalDateTime("2026-07-07T12:00:00"), 1783425600 - 7200);  // summer: UTC+2
    EXPECT_FALSE(ParseLocalDateTime("2026-03-29T02:30:00")) << "skipped by the change to summer time";
}

TEST(TimeScaleParseTest, ReadsBothVariablesAndNamesTheBadOne) {
    ZoneGuard zone("UTC0");
    std::map<std::string, std::string> vars;
    const EnvLookup env = [&vars](const char* name) -> std::optional<std::string> {
        auto it = vars.find(name);
        if (it == vars.end()) return std::nullopt;
        return it->second;
    };
    std::string error;
    auto setting = ReadTimeScale(env, error);
    ASSERT_TRUE(setting);
    EXPECT_FALSE(setting->Active());
    EXPECT_EQ(setting->factor, 1.0);

    vars["VELQ3_TIME_SCALE"] = "60";
    vars["VELQ3_TIME_START"] = "2026-12-07T11:50:00";
    setting = ReadTimeScale(env, error);
    ASSERT_TRUE(setting);
    EXPECT_TRUE(setting->Active());
    EXPECT_EQ(setting->factor, 60.0);
    EXPECT_EQ(setting->start, 1796644200);

    vars["VELQ3_TIME_SCALE"] = "";  // empty counts as unset
    setting = ReadTimeScale(env, error);
    ASSERT_TRUE(setting);
    EXPECT_EQ(setting->factor, 1.0);
    EXPECT_TRUE(setting->Active()) << "a start time alone pins the calendar";

    vars["VELQ3_TIME_SCALE"] = "fast";
    EXPECT_FALSE(ReadTimeScale(env, error));
    EXPECT_NE(error.find("VELQ3_TIME_SCALE=fast"), std::string::npos) << error;

    vars["VELQ3_TIME_SCALE"] = "40";
    vars["VELQ3_TIME_START"] = "tomorrow";
    error.clear();
    EXPECT_FALSE(ReadTimeScale(env, error));
    EXPECT_NE(error.find("VELQ3_TIME_START=tomorrow"), std::string::npos) << error;
}

}  // namespace
}  // namespace velq3
