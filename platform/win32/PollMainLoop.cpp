// The main loop on Windows: the thread's message queue. Tasks wake it with a thread message,
// timers are thread timers (SetTimer without a window), and every other message is dispatched.
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

}  // namespace

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
    if (const DWORD thread = thread_.load()) ::PostThreadMessageW(thread, kWakeMessage, 0, 0);
}

TimerId PollMainLoop::AddTimer(std::chrono::milliseconds interval, std::function<void()> callback) {
    TimerId id;
    {
        std::lock_guard lock(mutex_);
        id = nextId_++;
        timers_.emplace(id, Timer{PeriodMs(interval), 0, std::make_shared<std::function<void()>>(std::move(callback))});
    }
    // Thread timers belong to the thread that sets them: the loop's thread sets them all.
    if (OnLoopThread()) SyncTimers();
    else Wake();
    return id;
}

bool PollMainLoop::RemoveTimer(TimerId id) {
    std::uintptr_t systemId = 0;
    {
        std::lock_guard lock(mutex_);
        auto it = timers_.find(id);
        if (it == timers_.end()) return false;
        systemId = it->second.systemId;
        timers_.erase(it);
        if (systemId != 0 && !OnLoopThread()) {
            killTimers_.push_back(systemId);
            systemId = 0;
        }
    }
    if (systemId != 0) ::KillTimer(nullptr, systemId);
    else Wake();
    return true;
}

// On the loop's thread: kills the timers removed elsewhere and sets the ones not set yet.
void PollMainLoop::SyncTimers() {
    std::lock_guard lock(mutex_);
    for (const std::uintptr_t systemId : killTimers_) ::KillTimer(nullptr, systemId);
    killTimers_.clear();
    for (auto& [id, timer] : timers_) {
        if (timer.systemId == 0) timer.systemId = ::SetTimer(nullptr, 0, timer.periodMs, nullptr);
    }
}

void PollMainLoop::FireTimer(std::uintptr_t systemId) {
    std::shared_ptr<std::function<void()>> callback;
    {
        std::lock_guard lock(mutex_);
        for (const auto& [id, timer] : timers_) {
            if (timer.systemId == systemId) callback = timer.callback;
        }
    }
    if (callback) (*callback)();  // a tick of a timer removed meanwhile finds nothing
}

void PollMainLoop::Run() {
    MSG msg;
    ::PeekMessageW(&msg, nullptr, WM_USER, WM_USER, PM_NOREMOVE);  // makes the thread's queue
    thread_.store(::GetCurrentThreadId());
    // Leaving Run() (Quit, WM_QUIT or a callback's exception) kills the thread timers, so that
    // a later Run() on any thread sets them again.
    struct Leave {
        PollMainLoop& loop;
        ~Leave() {
            std::lock_guard lock(loop.mutex_);
            for (auto& [id, timer] : loop.timers_) {
                if (timer.systemId != 0) ::KillTimer(nullptr, timer.systemId);
                timer.systemId = 0;
            }
            for (const std::uintptr_t systemId : loop.killTimers_) ::KillTimer(nullptr, systemId);
            loop.killTimers_.clear();
            loop.thread_.store(0);
        }
    } leave{*this};
    while (!quit_.load()) {
        RunTasks();
        if (quit_.load()) break;
        SyncTimers();
        const BOOL got = ::GetMessageW(&msg, nullptr, 0, 0);
        if (got == 0) break;  // WM_QUIT
        if (got < 0) throw std::system_error(static_cast<int>(::GetLastError()), std::system_category(), "main loop");
        if (msg.hwnd == nullptr && msg.message == kWakeMessage) continue;
        if (msg.hwnd == nullptr && msg.message == WM_TIMER) {
            FireTimer(msg.wParam);
            continue;
        }
        if (messageFilter_ && messageFilter_(&msg)) continue;
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
    }
    quit_.store(false);
}

}  // namespace velq3
