// The shutdown rule with a short idle time: the quit comes one idle period after the count
// last fell to zero, a new fall starts the period again, a count above zero at its end sends
// the monitor back to waiting, and nothing ends a process whose count never fell.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "server/CExeModule.h"

namespace velq3 {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr auto kIdle = 300ms;

class ModuleTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(module.StartMonitor([this] {
            quitAt = Clock::now();
            quits.fetch_add(1);
        }));
    }
    // Waits until the quit or `limit`; true when it came.
    bool WaitQuit(std::chrono::milliseconds limit) {
        const auto end = Clock::now() + limit;
        while (quits.load() == 0 && Clock::now() < end) std::this_thread::sleep_for(2ms);
        return quits.load() > 0;
    }
    static double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

    CExeModule module{kIdle};
    std::atomic<int> quits{0};
    Clock::time_point quitAt;
};

TEST_F(ModuleTest, QuitsOneIdlePeriodAfterTheLastRelease) {
    module.LockCount().Lock();
    module.LockCount().Lock();
    EXPECT_EQ(module.Unlock(), 1);
    std::this_thread::sleep_for(kIdle + 100ms);
    EXPECT_EQ(quits.load(), 0);  // the count never reached zero
    const auto released = Clock::now();
    EXPECT_EQ(module.Unlock(), 0);
    ASSERT_TRUE(WaitQuit(kIdle * 4));
    EXPECT_GE(Ms(quitAt - released), Ms(kIdle) - 5);
    EXPECT_TRUE(module.QuitPosted());
    std::this_thread::sleep_for(kIdle);
    EXPECT_EQ(quits.load(), 1);  // once
}

TEST_F(ModuleTest, ANewFallWithinThePeriodStartsItAgain) {
    module.LockCount().Lock();
    module.Unlock();
    std::this_thread::sleep_for(kIdle / 2);
    module.LockCount().Lock();
    const auto secondFall = Clock::now();
    module.Unlock();
    ASSERT_TRUE(WaitQuit(kIdle * 4));
    EXPECT_GE(Ms(quitAt - secondFall), Ms(kIdle) - 5);
}

TEST_F(ModuleTest, ACountHeldAtTheEndOfThePeriodWaitsForTheNextFall) {
    module.LockCount().Lock();
    module.Unlock();
    module.LockCount().Lock();  // an object arrives within the period and stays
    std::this_thread::sleep_for(kIdle * 3);
    EXPECT_EQ(quits.load(), 0);
    const auto fall = Clock::now();
    module.Unlock();
    ASSERT_TRUE(WaitQuit(kIdle * 4));
    EXPECT_GE(Ms(quitAt - fall), Ms(kIdle) - 5);
}

TEST(ModuleWithoutMonitor, FallsBeforeTheEventExistsAreNotRemembered) {
    std::atomic<int> quits{0};
    CExeModule module(100ms);
    module.LockCount().Lock();
    module.Unlock();  // no event yet: as if nothing happened
    ASSERT_TRUE(module.StartMonitor([&] { quits.fetch_add(1); }));
    std::this_thread::sleep_for(400ms);
    EXPECT_EQ(quits.load(), 0);
    EXPECT_TRUE(module.MonitorRunning());
    module.StopMonitor();  // no quit on the way out
    EXPECT_EQ(quits.load(), 0);
}

} // namespace
} // namespace velq3
