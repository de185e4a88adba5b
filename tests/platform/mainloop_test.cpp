// Tests of the main-loop bindings: virtual-time timers and tasks, and the real poll() loop.
#include "platform/MainLoop.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace velq3 {
namespace {

using namespace std::chrono_literals;

struct Firing {
    std::string what;
    long long atMs;
    bool operator==(const Firing&) const = default;
};

void PrintTo(const Firing& f, std::ostream* os) { *os << f.what << "@" << f.atMs; }

class ManualMainLoopTest : public ::testing::Test {
protected:
    std::function<void()> Record(std::string what) {
        return [this, what] { log_.push_back({what, loop_.Now().count()}); };
    }

    ManualMainLoop loop_;
    std::vector<Firing> log_;
};

TEST_F(ManualMainLoopTest, TimersFireInTimeOrderOlderFirstOnTies) {
    loop_.AddTimer(200ms, Record("A"));
    loop_.AddTimer(300ms, Record("B"));
    loop_.AddTimer(500ms, Record("C"));
    loop_.AdvanceBy(1000ms);
    const std::vector<Firing> expected = {{"A", 200}, {"B", 300}, {"A", 400}, {"C", 500},
                                          {"A", 600}, {"B", 600}, {"A", 800}, {"B", 900},
                                          {"A", 1000}, {"C", 1000}};
    EXPECT_EQ(log_, expected);
    EXPECT_EQ(loop_.Now(), 1000ms);

    // The same in small steps.
    ManualMainLoop stepped;
    std::vector<Firing> steppedLog;
    for (const char* name : {"A", "B", "C"}) {
        const auto interval = name[0] == 'A' ? 200ms : name[0] == 'B' ? 300ms : 500ms;
        stepped.AddTimer(interval, [&, name] {
            steppedLog.push_back({name, stepped.Now().count()});
        });
    }
    for (int i = 0; i < 7; ++i) stepped.AdvanceBy(150ms);
    stepped.AdvanceBy(-5ms);  // time never runs backwards
    stepped.AdvanceBy(-5ms + 1000ms - 7 * 150ms + 5ms);
    EXPECT_EQ(steppedLog, expected);
}

TEST_F(ManualMainLoopTest, TimerCanRemoveItselfAndOthers) {
    TimerId self = kNoTimer;
    TimerId other = kNoTimer;
    const std::string payload(100, 'x');  // outlives nothing if the callback were freed early
    int selfCount = 0;
    self = loop_.AddTimer(100ms, [&, payload] {
        ++selfCount;
        EXPECT_TRUE(loop_.RemoveTimer(self));
        EXPECT_TRUE(loop_.RemoveTimer(other));  // due at the same moment, must not fire
        EXPECT_EQ(payload.size(), 100u);
    });
    other = loop_.AddTimer(100ms, Record("other"));
    loop_.AdvanceBy(1000ms);
    EXPECT_EQ(selfCount, 1);
    EXPECT_TRUE(log_.empty());
    EXPECT_EQ(loop_.TimerCount(), 0u);
    EXPECT_FALSE(loop_.RemoveTimer(self));
    EXPECT_FALSE(loop_.RemoveTimer(12345));
}

TEST_F(ManualMainLoopTest, TimerAddedInACallbackCountsFromThen) {
    loop_.AddTimer(250ms, [this] {
        if (loop_.Now() == 250ms) loop_.AddTimer(100ms, Record("late"));
    });
    loop_.AdvanceBy(520ms);
    EXPECT_EQ(log_, (std::vector<Firing>{{"late", 350}, {"late", 450}}));
}

TEST_F(ManualMainLoopTest, TasksRunInOrderAroundTimers) {
    loop_.PostTask(Record("t1"));
    loop_.PostTask([this] {
        Record("t2")();
        loop_.PostTask(Record("t2-child"));
    });
    EXPECT_EQ(loop_.RunPending(), 3u);
    EXPECT_EQ(loop_.RunPending(), 0u);

    loop_.AddTimer(100ms, [this] {
        Record("tick")();
        loop_.PostTask(Record("after-tick"));
    });
    loop_.PostTask(Record("before-advance"));
    loop_.AdvanceBy(200ms);
    const std::vector<Firing> expected = {{"t1", 0},           {"t2", 0},     {"t2-child", 0},
                                          {"before-advance", 0}, {"tick", 100}, {"after-tick", 100},
                                          {"tick", 200},       {"after-tick", 200}};
    EXPECT_EQ(log_, expected);
}

TEST_F(ManualMainLoopTest, TasksPostedFromOtherThreadsAllArrive) {
    std::atomic<int> ran{0};
    std::vector<std::thread> posters;
    for (int t = 0; t < 4; ++t) {
        posters.emplace_back([&] {
            for (int i = 0; i < 500; ++i) loop_.PostTask([&] { ++ran; });
        });
    }
    for (auto& t : posters) t.join();
    EXPECT_EQ(loop_.RunPending(), 2000u);
    EXPECT_EQ(ran.load(), 2000);
}

TEST_F(ManualMainLoopTest, ZeroIntervalIsOneMillisecond) {
    int count = 0;
    loop_.AddTimer(0ms, [&] { ++count; });
    loop_.AddTimer(-5ms, [&] { ++count; });
    loop_.AdvanceBy(5ms);
    EXPECT_EQ(count, 10);
}

// ---- PollMainLoop ----

// Runs the loop with a guard that ends it if a test would otherwise hang.
bool RunGuarded(PollMainLoop& loop) {
    bool hung = false;
    const TimerId guard = loop.AddTimer(10s, [&] {
        hung = true;
        loop.Quit();
    });
    loop.Run();
    loop.RemoveTimer(guard);
    return !hung;
}

TEST(PollMainLoopTest, QuitBeforeRunReturnsAtOnceAndRunCanRepeat) {
    PollMainLoop loop;
    loop.Quit();
    loop.Run();  // would block forever if the early Quit were lost
    int ran = 0;
    loop.PostTask([&] {
        ++ran;
        loop.Quit();
    });
    EXPECT_TRUE(RunGuarded(loop));
    EXPECT_EQ(ran, 1);
}

TEST(PollMainLoopTest, TasksFromOtherThreadsRunInOrderOnTheLoopThread) {
    PollMainLoop loop;
    const auto loopThread = std::this_thread::get_id();
    std::vector<int> order;
    bool allOnLoopThread = true;
    std::thread poster([&] {
        for (int i = 0; i < 100; ++i) {
            loop.PostTask([&, i] {
                order.push_back(i);
                allOnLoopThread = allOnLoopThread && std::this_thread::get_id() == loopThread;
            });
            if (i % 10 == 0) std::this_thread::sleep_for(1ms);  // let the loop fall asleep
        }
        loop.PostTask([&] { loop.Quit(); });
    });
    EXPECT_TRUE(RunGuarded(loop));
    poster.join();
    ASSERT_EQ(order.size(), 100u);
    for (int i = 0; i < 100; ++i) EXPECT_EQ(order[i], i);
    EXPECT_TRUE(allOnLoopThread);
}

TEST(PollMainLoopTest, PeriodicTimerRepeatsUntilItRemovesItself) {
    PollMainLoop loop;
    int count = 0;
    TimerId id = kNoTimer;
    id = loop.AddTimer(2ms, [&] {
        if (++count == 5) {
            EXPECT_TRUE(loop.RemoveTimer(id));
            loop.PostTask([&] { loop.Quit(); });
        }
    });
    EXPECT_TRUE(RunGuarded(loop));
    EXPECT_EQ(count, 5);
}

TEST(PollMainLoopTest, TimerAddedFromAnotherThreadWakesTheLoop) {
    PollMainLoop loop;
    std::thread adder([&] {
        std::this_thread::sleep_for(20ms);
        loop.AddTimer(1ms, [&] { loop.Quit(); });
    });
    EXPECT_TRUE(RunGuarded(loop)) << "the loop slept through the new timer";
    adder.join();
}

TEST(PollMainLoopTest, LateTimerDoesNotBurst) {
    PollMainLoop loop;
    std::vector<std::chrono::steady_clock::time_point> at;
    std::chrono::steady_clock::time_point woke;
    loop.AddTimer(10ms, [&] {
        at.push_back(std::chrono::steady_clock::now());
        if (at.size() == 1) {
            std::this_thread::sleep_for(80ms);  // as a long move would
            woke = std::chrono::steady_clock::now();
        }
        if (at.back() - woke >= 30ms && at.size() > 1) loop.Quit();
    });
    EXPECT_TRUE(RunGuarded(loop));
    // Seven periods were missed: they come as one late tick at most, then the period resumes
    // (in 30 ms about three ticks; a burst would add the seven missed ones).
    const auto after = std::count_if(at.begin(), at.end(), [&](auto t) { return t >= woke; });
    EXPECT_GE(after, 2);
    EXPECT_LE(after, 6);
}

TEST(PollMainLoopTest, ExceptionLeavesRunAndTheLoopWorks) {
    PollMainLoop loop;
    bool laterRan = false;
    loop.PostTask([] { throw std::runtime_error("boom"); });
    loop.PostTask([&] { laterRan = true; });
    EXPECT_THROW(loop.Run(), std::runtime_error);
    loop.PostTask([&] { loop.Quit(); });
    EXPECT_TRUE(RunGuarded(loop));
    EXPECT_TRUE(laterRan);
}

#ifndef _WIN32  // POSIX signals; on Windows Quit() comes from a console handler's thread
PollMainLoop* g_signalLoop = nullptr;
void QuitOnSignal(int) { g_signalLoop->Quit(); }

TEST(PollMainLoopTest, QuitFromASignalHandler) {
    PollMainLoop loop;
    g_signalLoop = &loop;
    struct sigaction action {};
    struct sigaction previous {};
    action.sa_handler = QuitOnSignal;
    sigemptyset(&action.sa_mask);
    ASSERT_EQ(sigaction(SIGUSR1, &action, &previous), 0);

    std::atomic<bool> running{false};
    loop.PostTask([&] { running = true; });
    std::thread sender([&] {
        while (!running) std::this_thread::sleep_for(1ms);
        std::this_thread::sleep_for(20ms);  // the loop is now asleep in poll()
        kill(getpid(), SIGUSR1);
    });
    EXPECT_TRUE(RunGuarded(loop));
    sender.join();
    sigaction(SIGUSR1, &previous, nullptr);
    g_signalLoop = nullptr;
}
#endif

}  // namespace
}  // namespace velq3
