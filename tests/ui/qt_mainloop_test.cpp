// The Qt binding of the main loop: tasks posted from any thread and timers run on the GUI
// thread; timers stop when removed, from inside their own callback too; and the offscreen
// platform choice.
#include <QCoreApplication>
#include <QThread>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <stdexcept>
#include <thread>

#include "ui/qt/QtMainLoop.h"
#include "ui/qt/QtPlatform.h"

namespace velq3::ui {
namespace {

using namespace std::chrono_literals;

// Runs the event loop until `done` or a generous deadline.
template <class Pred>
bool ProcessUntil(Pred done, std::chrono::milliseconds limit = 5s) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

void ProcessFor(std::chrono::milliseconds span) {
    const auto end = std::chrono::steady_clock::now() + span;
    while (std::chrono::steady_clock::now() < end) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

TEST(QtMainLoopTest, TasksPostedFromAnyThreadRunInOrderOnTheGuiThread) {
    QtMainLoop loop;
    std::vector<int> order;
    std::atomic<int> onGuiThread{0};
    std::thread poster([&] {
        for (int i = 0; i < 3; ++i)
            loop.PostTask([&, i] {
                order.push_back(i);
                onGuiThread += QThread::currentThread() == QCoreApplication::instance()->thread();
            });
    });
    poster.join();
    EXPECT_TRUE(order.empty());  // nothing runs before the loop comes round
    ASSERT_TRUE(ProcessUntil([&] { return order.size() == 3; }));
    EXPECT_EQ(order, (std::vector<int>{0, 1, 2}));
    EXPECT_EQ(onGuiThread.load(), 3);

    // A task that throws is reported and the loop goes on.
    bool after = false;
    loop.PostTask([] { throw std::runtime_error("test"); });
    loop.PostTask([&] { after = true; });
    EXPECT_TRUE(ProcessUntil([&] { return after; }));
}

TEST(QtMainLoopTest, TimersRepeatUntilRemoved) {
    QtMainLoop loop;
    int a = 0, self = 0;
    const TimerId ta = loop.AddTimer(5ms, [&] { ++a; });
    TimerId tself = kNoTimer;
    tself = loop.AddTimer(1ms, [&] {
        ++self;
        EXPECT_TRUE(loop.RemoveTimer(tself));
    });
    EXPECT_NE(ta, kNoTimer);
    EXPECT_NE(ta, tself);
    EXPECT_EQ(loop.TimerCount(), 2u);
    ASSERT_TRUE(ProcessUntil([&] { return a >= 3; }));
    EXPECT_EQ(self, 1);  // removed itself at its first firing
    EXPECT_TRUE(loop.RemoveTimer(ta));
    EXPECT_FALSE(loop.RemoveTimer(ta));
    EXPECT_FALSE(loop.RemoveTimer(12345));
    const int stopped = a;
    ProcessFor(50ms);
    EXPECT_EQ(a, stopped);
    EXPECT_EQ(loop.TimerCount(), 0u);
}

TEST(QtPlatformTest, OffscreenOnlyWithoutAnyDisplayAndSaidOnce) {
    const QByteArray platform = qgetenv("QT_QPA_PLATFORM"), display = qgetenv("DISPLAY"),
                     wayland = qgetenv("WAYLAND_DISPLAY");
    std::FILE* err = std::tmpfile();
    ASSERT_NE(err, nullptr);
    qunsetenv("QT_QPA_PLATFORM");
    qunsetenv("WAYLAND_DISPLAY");
    qputenv("DISPLAY", ":7");
    EXPECT_FALSE(UseOffscreenWithoutDisplay(err));
    qunsetenv("DISPLAY");
    EXPECT_TRUE(UseOffscreenWithoutDisplay(err));
    EXPECT_EQ(qgetenv("QT_QPA_PLATFORM"), "offscreen");
    EXPECT_FALSE(UseOffscreenWithoutDisplay(err));
    std::rewind(err);
    char buf[512] = {};
    const size_t n = std::fread(buf, 1, sizeof buf - 1, err);
    std::fclose(err);
    const std::string said(buf, n);
    EXPECT_NE(said.find("offscreen"), std::string::npos);
    EXPECT_EQ(said.find('\n'), said.size() - 1);  // one line
    // Back as it was.
    auto restore = [](const char* name, const QByteArray& v) {
        if (v.isNull()) qunsetenv(name);
        else qputenv(name, v);
    };
    restore("QT_QPA_PLATFORM", platform);
    restore("DISPLAY", display);
    restore("WAYLAND_DISPLAY", wayland);
}

}  // namespace
}  // namespace velq3::ui
