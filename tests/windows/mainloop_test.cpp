// The main loop on Windows is the thread's message loop: it dispatches window messages (as COM
// delivers calls to a single-threaded apartment) between tasks and timers, and ends on WM_QUIT.
#include "platform/MainLoop.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

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

// ---- modal loops the main loop does not own ----------------------------------------------------

// Waits up to `limit` for `done`; false when it never came.
bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(2ms);
    }
    return true;
}

// A one-line dialog template (no controls) for DialogBoxIndirectParamW.
std::vector<WORD> TinyDialogTemplate() {
    std::vector<WORD> bytes(sizeof(DLGTEMPLATE) / sizeof(WORD), 0);
    auto* t = reinterpret_cast<DLGTEMPLATE*>(bytes.data());
    t->style = WS_POPUP | WS_BORDER | WS_VISIBLE;  // no caption: Wine then does not wait for a window manager
    t->cx = 120;
    t->cy = 40;
    bytes.push_back(0);  // no menu
    bytes.push_back(0);  // the dialog class
    for (const wchar_t* c = L"loop test"; *c; ++c) bytes.push_back(static_cast<WORD>(*c));
    bytes.push_back(0);
    return bytes;
}

INT_PTR CALLBACK TinyDialogProc(HWND dialog, UINT message, WPARAM w, LPARAM l) {
    if (message == WM_INITDIALOG) {
        reinterpret_cast<std::atomic<HWND>*>(l)->store(dialog);
        return TRUE;
    }
    if (message == WM_COMMAND && (LOWORD(w) == IDOK || LOWORD(w) == IDCANCEL)) {
        ::EndDialog(dialog, LOWORD(w));
        return TRUE;
    }
    return FALSE;
}

constexpr UINT kEndPlainLoop = WM_APP + 0x300;
constexpr const wchar_t* kBoxCaption = L"velq3 main loop modal test";

// The modal loops a window program opens on the loop's thread. `open` returns once `close`
// (from any thread, as often as needed) has ended it; `shown` is the dialog, where there is one.
struct ModalLoop {
    const char* name;
    void (*open)(std::atomic<HWND>& shown);
    void (*close)(std::atomic<HWND>& shown, DWORD loopThread);
};

const ModalLoop kModalLoops[] = {
    {"DialogBoxIndirectParamW",
     [](std::atomic<HWND>& shown) {
         const std::vector<WORD> bytes = TinyDialogTemplate();
         ::DialogBoxIndirectParamW(::GetModuleHandleW(nullptr), reinterpret_cast<const DLGTEMPLATE*>(bytes.data()),
                                   nullptr, &TinyDialogProc, reinterpret_cast<LPARAM>(&shown));
     },
     [](std::atomic<HWND>& shown, DWORD) {
         if (HWND dialog = shown.load()) ::PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
     }},
    {"MessageBoxW",
     [](std::atomic<HWND>&) { ::MessageBoxW(nullptr, L"The loop goes on meanwhile.", kBoxCaption, MB_OK); },
     [](std::atomic<HWND>&, DWORD) {
         if (HWND box = ::FindWindowW(nullptr, kBoxCaption)) ::PostMessageW(box, WM_COMMAND, IDOK, 0);
     }},
    // A loop of someone else's code that only gets, translates and dispatches.
    {"plain GetMessage loop",
     [](std::atomic<HWND>&) {
         MSG msg;
         while (::GetMessageW(&msg, nullptr, 0, 0) > 0) {
             if (msg.hwnd == nullptr && msg.message == kEndPlainLoop) break;
             ::TranslateMessage(&msg);
             ::DispatchMessageW(&msg);
         }
     },
     [](std::atomic<HWND>&, DWORD loopThread) { ::PostThreadMessageW(loopThread, kEndPlainLoop, 0, 0); }},
};

// Closes `modal` until `ended`, from the helper thread.
void CloseUntilEnded(const ModalLoop& modal, std::atomic<HWND>& shown, DWORD loopThread, const std::atomic<bool>& ended) {
    for (int i = 0; i < 500 && !ended; ++i) {
        modal.close(shown, loopThread);
        std::this_thread::sleep_for(20ms);
    }
    EXPECT_TRUE(ended.load()) << "the modal loop could not be closed";
}

// A dialog, a message box or another loop opened from a task: tasks posted from another thread
// meanwhile, and the task queued behind the one that opened it, run inside it in their order,
// and the loop's timer ticks.
TEST(WindowsMainLoopTest, TasksAndTimersRunWhileAModalLoopItDoesNotOwnIsOpen) {
    for (const ModalLoop& modal : kModalLoops) {
        SCOPED_TRACE(modal.name);
        PollMainLoop loop;
        const DWORD loopThread = ::GetCurrentThreadId();
        std::atomic<HWND> shown{nullptr};
        std::atomic<bool> inModal{false}, ended{false};
        std::atomic<int> ticksInModal{0}, tasksRan{0};
        std::vector<std::string> ranInModal, ranOutside;  // the loop's thread only
        auto record = [&](const std::string& what) {
            (inModal ? ranInModal : ranOutside).push_back(what);
            ++tasksRan;
        };
        loop.AddTimer(10ms, [&] {
            if (inModal) ++ticksInModal;
        });
        loop.PostTask([&] {
            inModal = true;
            modal.open(shown);
            inModal = false;
            ended = true;
            loop.Quit();
        });
        loop.PostTask([&] { record("queued behind"); });
        std::thread helper([&] {
            ASSERT_TRUE(WaitFor([&] { return inModal.load(); }, 5000ms));
            std::this_thread::sleep_for(50ms);  // the modal loop now waits for messages
            for (int i = 0; i < 3; ++i) {
                loop.PostTask([&record, i] { record("task " + std::to_string(i)); });
                std::this_thread::sleep_for(5ms);
            }
            WaitFor([&] { return tasksRan == 4 && ticksInModal >= 3; }, 3000ms);
            CloseUntilEnded(modal, shown, loopThread, ended);
        });
        loop.Run();
        helper.join();
        EXPECT_EQ(ranInModal, (std::vector<std::string>{"queued behind", "task 0", "task 1", "task 2"}));
        EXPECT_TRUE(ranOutside.empty()) << ranOutside.size() << " tasks waited for the modal loop to end";
        EXPECT_GE(ticksInModal, 3);
    }
}

// A timer's callback that opens a dialog is not entered again by its own ticks while the dialog
// is open (each tick would open one more); the other timers go on.
TEST(WindowsMainLoopTest, ATimerThatOpensADialogIsNotReenteredMeanwhile) {
    PollMainLoop loop;
    std::atomic<HWND> shown{nullptr};
    std::atomic<bool> ended{false};
    std::atomic<int> otherTicks{0};
    int depth = 0, deepest = 0, entered = 0;
    loop.AddTimer(5ms, [&] {
        ++entered;
        deepest = std::max(deepest, ++depth);
        if (entered == 1) {
            kModalLoops[0].open(shown);
            ended = true;
            loop.Quit();
        }
        --depth;
    });
    loop.AddTimer(5ms, [&] {
        if (depth > 0) ++otherTicks;
    });
    std::thread helper([&] {
        WaitFor([&] { return otherTicks >= 10; }, 3000ms);
        CloseUntilEnded(kModalLoops[0], shown, 0, ended);
    });
    loop.Run();
    helper.join();
    EXPECT_GE(otherTicks, 10);
    EXPECT_EQ(deepest, 1);
    EXPECT_EQ(entered, 1);
}

// A task's exception inside a modal loop cannot leave through the system's code: Run() throws it
// once the modal loop has ended, and no other task runs in between.
TEST(WindowsMainLoopTest, AnExceptionInsideAModalLoopLeavesRunAfterIt) {
    PollMainLoop loop;
    std::atomic<HWND> shown{nullptr};
    std::atomic<bool> inModal{false}, ended{false}, threw{false};
    bool laterRan = false, laterRanInModal = false;
    loop.PostTask([&] {
        inModal = true;
        kModalLoops[0].open(shown);
        inModal = false;
        ended = true;
    });
    std::thread helper([&] {
        ASSERT_TRUE(WaitFor([&] { return inModal.load(); }, 5000ms));
        loop.PostTask([&] {
            threw = true;
            throw std::runtime_error("boom");
        });
        loop.PostTask([&] {
            laterRan = true;
            laterRanInModal = inModal;
        });
        WaitFor([&] { return threw.load(); }, 3000ms);
        std::this_thread::sleep_for(50ms);  // time for the next task, were it run
        CloseUntilEnded(kModalLoops[0], shown, 0, ended);
    });
    EXPECT_THROW(loop.Run(), std::runtime_error);
    helper.join();
    EXPECT_TRUE(threw);
    EXPECT_TRUE(ended);
    EXPECT_FALSE(laterRan);
    // The loop works on, the task left behind first.
    loop.PostTask([&] { loop.Quit(); });
    loop.Run();
    EXPECT_TRUE(laterRan);
    EXPECT_FALSE(laterRanInModal);
}

}  // namespace
}  // namespace velq3
