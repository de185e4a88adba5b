// The main loop on Windows: the thread's message queue. While Run() is on the stack the loop owns
// a message-only window: tasks wake it with a message posted to that window and timers are
// window timers of it (WM_TIMER), so that whatever loop dispatches the thread's messages - Run()
// itself or the modal loop of a dialog, a message box or a system chooser - runs them. Every
// other message is dispatched.
#include "platform/MainLoop.h"

#include "platform/MainLoopTimers.h"

#include <windows.h>

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <system_error>

namespace velq3 {

namespace {

constexpr UINT kWakeMessage = WM_APP + 0x51;
constexpr wchar_t kWindowClass[] = L"velq3.PollMainLoop";

HWND AsWindow(void* window) { return static_cast<HWND>(window); }

}  // namespace

struct PollMainLoop::LoopWindow {
    static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        auto* loop = reinterpret_cast<PollMainLoop*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
        if (loop && message == kWakeMessage) {
            loop->Serve(false, 0);
            return 0;
        }
        if (loop && message == WM_TIMER) {
            loop->Serve(true, static_cast<TimerId>(wParam));
            return 0;
        }
        return ::DefWindowProcW(window, message, wParam, lParam);
    }

    static HWND Create(PollMainLoop& loop) {
        HINSTANCE instance = ::GetModuleHandleW(nullptr);
        static const ATOM windowClass = [instance] {
            WNDCLASSW c{};
            c.lpfnWndProc = &Procedure;
            c.hInstance = instance;
            c.lpszClassName = kWindowClass;
            return ::RegisterClassW(&c);
        }();
        if (windowClass == 0)
            throw std::system_error(static_cast<int>(::GetLastError()), std::system_category(), "main loop window class");
        HWND window = ::CreateWindowExW(0, kWindowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, instance, nullptr);
        if (!window) throw std::system_error(static_cast<int>(::GetLastError()), std::system_category(), "main loop window");
        ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&loop));
        return window;
    }
};

PollMainLoop::PollMainLoop(double timeScale) : timeScale_(timeScale) {
    if (!std::isfinite(timeScale) || timeScale <= 0)
        throw std::invalid_argument("main loop time scale must be a positive number");
}

PollMainLoop::~PollMainLoop() = default;

unsigned int PollMainLoop::PeriodMs(std::chrono::milliseconds interval) const {
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(RealPeriod(interval)).count();
    return static_cast<unsigned int>(std::clamp<long long>(ms, 1, 0x7FFFFFFF));
}

bool PollMainLoop::OnLoopThread() const { return thread_.load() == ::GetCurrentThreadId(); }

void PollMainLoop::Wake() noexcept {
    // A full queue (10000 messages) already holds wake-ups: a failed post loses nothing.
    if (void* window = window_.load()) ::PostMessageW(AsWindow(window), kWakeMessage, 0, 0);
}

TimerId PollMainLoop::AddTimer(std::chrono::milliseconds interval, std::function<void()> callback) {
    TimerId id;
    {
        std::lock_guard lock(mutex_);
        id = nextId_++;
        timers_.emplace(id, Timer{PeriodMs(interval), false, false,
                                  std::make_shared<std::function<void()>>(std::move(callback))});
    }
    // Window timers belong to the window's thread: the loop's thread sets them all.
    if (OnLoopThread()) SyncTimers();
    else Wake();
    return id;
}

bool PollMainLoop::RemoveTimer(TimerId id) {
    bool set = false;
    {
        std::lock_guard lock(mutex_);
        auto it = timers_.find(id);
        if (it == timers_.end()) return false;
        set = it->second.set;
        timers_.erase(it);
        if (set && !OnLoopThread()) {
            killTimers_.push_back(id);
            set = false;
        }
    }
    // A tick already queued finds no timer of its id (ids are never used again).
    if (set) ::KillTimer(AsWindow(window_.load()), static_cast<UINT_PTR>(id));
    else Wake();
    return true;
}

// On the loop's thread: kills the timers removed elsewhere and sets the ones not set yet.
void PollMainLoop::SyncTimers() {
    HWND window = AsWindow(window_.load());
    if (!window) return;
    std::lock_guard lock(mutex_);
    for (const TimerId id : killTimers_) ::KillTimer(window, static_cast<UINT_PTR>(id));
    killTimers_.clear();
    for (auto& [id, timer] : timers_) {
        if (!timer.set) timer.set = ::SetTimer(window, static_cast<UINT_PTR>(id), timer.periodMs, nullptr) != 0;
    }
}

void PollMainLoop::FireTimer(TimerId id) {
    std::shared_ptr<std::function<void()>> callback;
    {
        std::lock_guard lock(mutex_);
        const auto it = timers_.find(id);
        // A tick of a timer removed meanwhile finds nothing; one that comes while the timer's
        // callback is still on the stack (it opened a modal loop) is skipped.
        if (it == timers_.end() || it->second.running) return;
        it->second.running = true;
        callback = it->second.callback;
    }
    struct Done {
        PollMainLoop& loop;
        TimerId id;
        ~Done() {
            std::lock_guard lock(loop.mutex_);
            if (const auto it = loop.timers_.find(id); it != loop.timers_.end()) it->second.running = false;
        }
    } done{*this, id};
    (*callback)();
}

// The loop's window got a wake-up or a tick, from Run() or from a modal loop that runs on top of
// it. An exception must not cross the system's code between here and Run(): it is kept for Run()
// to throw, and the loop does nothing more until then, as after Quit().
void PollMainLoop::Serve(bool timer, TimerId id) noexcept {
    if (quit_.load() || failure_) return;
    try {
        if (timer) {
            FireTimer(id);
        } else {
            SyncTimers();
            RunTasks();
        }
    } catch (...) {
        failure_ = std::current_exception();
    }
}

void PollMainLoop::ThrowFailure() {
    if (!failure_) return;
    std::exception_ptr failure = std::move(failure_);
    failure_ = nullptr;
    std::rethrow_exception(failure);
}

// The outermost Run() ends: the window goes, and its timers with it, so that a later Run() on
// any thread sets them again.
void PollMainLoop::Leave() noexcept {
    if (--depth_ > 0) return;
    HWND window = AsWindow(window_.exchange(nullptr));
    {
        std::lock_guard lock(mutex_);
        for (auto& [id, timer] : timers_) timer.set = false;
        killTimers_.clear();
    }
    ::DestroyWindow(window);  // its timers and the messages queued for it go too
    thread_.store(0);
    failure_ = nullptr;
}

void PollMainLoop::Run() {
    if (depth_ == 0) {
        window_.store(LoopWindow::Create(*this));
        thread_.store(::GetCurrentThreadId());
    }
    ++depth_;
    // Leaving Run() (Quit, WM_QUIT or a callback's exception).
    struct Leaving {
        PollMainLoop& loop;
        ~Leaving() { loop.Leave(); }
    } leaving{*this};
    HWND window = AsWindow(window_.load());
    MSG msg;
    while (!quit_.load()) {
        RunTasks();
        ThrowFailure();  // a task that opened a modal loop has returned
        if (quit_.load()) break;
        SyncTimers();
        const BOOL got = ::GetMessageW(&msg, nullptr, 0, 0);
        if (got == 0) break;  // WM_QUIT
        if (got < 0) throw std::system_error(static_cast<int>(::GetLastError()), std::system_category(), "main loop");
        if (msg.hwnd == window || !messageFilter_ || !messageFilter_(&msg)) {
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        }
        ThrowFailure();
    }
    quit_.store(false);
    ThrowFailure();  // kept while a modal loop ran, whatever ended Run() since
}

}  // namespace velq3
