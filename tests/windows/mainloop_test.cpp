// The main loop on Windows is the thread's message loop: it dispatches window messages (as COM
// delivers calls to a single-threaded apartment) between tasks and timers, and ends on WM_QUIT.
#include "platform/MainLoop.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace velq3 {
namespace {

using namespace std::chrono_literals;

constexpr UINT kPing = WM_USER + 7;

struct WindowState {
    PollMainLoop* loop = nullptr;
    int pings = 0;
};

LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM w, LPARAM l) {
    auto* state = reinterpret_cast<WindowState*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
    if (message == kPing && state) {
        ++state->pings;
        if (state->pings == 3) state->loop->Quit();
        return 0;
    }
    return ::DefWindowProcW(window, message, w, l);
}

// A message-only window of this thread.
HWND MakeWindow(WindowState& state) {
    WNDCLASSW c{};
    c.lpfnWndProc = Proc;
    c.hInstance = ::GetModuleHandleW(nullptr);
    c.lpszClassName = L"velq3-loop-test";
    ::RegisterClassW(&c);
    HWND window = ::CreateWindowExW(0, c.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, c.hInstance, nullptr);
    ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&state));
    return window;
}

TEST(WindowsMainLoopTest, WindowMessagesAreDispatchedBetweenTasksAndTimers) {
    PollMainLoop loop;
    WindowState state{&loop};
    HWND window = MakeWindow(state);
    ASSERT_NE(window, nullptr);
    int ticks = 0;
    loop.AddTimer(10ms, [&] { ++ticks; });
    // Messages posted from another thread while the loop waits.
    std::thread poster([window] {
        for (int i = 0; i < 3; ++i) {
            std::this_thread::sleep_for(30ms);
            ::PostMessageW(window, kPing, 0, 0);
        }
    });
    loop.Run();
    poster.join();
    EXPECT_EQ(state.pings, 3);
    EXPECT_GT(ticks, 0);
    ::DestroyWindow(window);
}

TEST(WindowsMainLoopTest, QuitFromAnotherThreadAndWmQuitEndRun) {
    PollMainLoop loop;
    std::atomic<bool> running{false};
    loop.PostTask([&] { running = true; });
    std::thread stopper([&] {
        while (!running) std::this_thread::sleep_for(1ms);
        std::this_thread::sleep_for(20ms);  // the loop now waits in GetMessage
        loop.Quit();                          // as a console control handler's thread would
    });
    loop.Run();
    stopper.join();

    // WM_QUIT (PostQuitMessage of code on the loop's thread) ends Run() too; the loop can run again.
    bool afterQuit = false;
    loop.PostTask([] { ::PostQuitMessage(0); });
    loop.Run();
    loop.PostTask([&] {
        afterQuit = true;
        loop.Quit();
    });
    loop.Run();
    EXPECT_TRUE(afterQuit);
}

// Timers set before Run() and those added from another thread while it runs both tick; a timer
// removed from another thread stops.
TEST(WindowsMainLoopTest, TimersFromAnyThreadTickOnTheLoopThread) {
    PollMainLoop loop;
    const DWORD loopThread = ::GetCurrentThreadId();
    std::atomic<int> early{0}, late{0};
    std::atomic<bool> wrongThread{false};
    loop.AddTimer(10ms, [&] {
        ++early;
        if (::GetCurrentThreadId() != loopThread) wrongThread = true;
    });
    std::thread other([&] {
        while (early == 0) std::this_thread::sleep_for(1ms);
        const TimerId id = loop.AddTimer(10ms, [&] {
            ++late;
            if (::GetCurrentThreadId() != loopThread) wrongThread = true;
        });
        while (late < 3) std::this_thread::sleep_for(1ms);
        EXPECT_TRUE(loop.RemoveTimer(id));
        const int stopped = late;
        std::this_thread::sleep_for(100ms);
        EXPECT_LE(late, stopped + 1);  // at most a tick already queued
        loop.Quit();
    });
    loop.Run();
    other.join();
    EXPECT_FALSE(wrongThread);
    EXPECT_GE(late, 3);
}

}  // namespace
}  // namespace velq3
