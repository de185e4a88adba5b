// The main thread's loop: posted tasks and periodic timers. Everything above the serial line
// runs on it. Bindings: ManualMainLoop (virtual time, for tests), PollMainLoop (headless server);
// the window program adds a Qt binding of the same interface.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <mutex>

namespace velq3 {

using TimerId = std::uint64_t;
inline constexpr TimerId kNoTimer = 0;

class MainLoop {
public:
    virtual ~MainLoop() = default;

    // Queues a task for the loop's thread. Callable from any thread.
    virtual void PostTask(std::function<void()> task) = 0;

    // Starts a periodic timer whose callback runs on the loop's thread every `interval`
    // (intervals below 1 ms are taken as 1 ms). Returns a non-zero id. Timers are added and
    // removed on the loop's thread (PollMainLoop also accepts other threads).
    virtual TimerId AddTimer(std::chrono::milliseconds interval, std::function<void()> callback) = 0;

    // Stops a timer; safe from inside any callback, its own included. False for an unknown id.
    virtual bool RemoveTimer(TimerId id) = 0;
};

// Deterministic loop for tests: time moves only when the test advances it.
class ManualMainLoop final : public MainLoop {
public:
    void PostTask(std::function<void()> task) override;
    TimerId AddTimer(std::chrono::milliseconds interval, std::function<void()> callback) override;
    bool RemoveTimer(TimerId id) override;

    // Runs posted tasks, those posted meanwhile included, until none is left. Returns how many ran.
    std::size_t RunPending();

    // Moves virtual time forward. Runs pending tasks first, then fires every timer that falls due
    // in order of due time (ties: the older timer first), with Now() at the due time and pending
    // tasks run after each firing.
    void AdvanceBy(std::chrono::milliseconds delta);

    // Virtual time since construction.
    std::chrono::milliseconds Now() const { return now_; }
    std::size_t TimerCount() const;

private:
    struct Timer {
        std::chrono::milliseconds interval;
        std::chrono::milliseconds due;
        std::shared_ptr<std::function<void()>> callback;
    };

    mutable std::mutex mutex_;
    std::deque<std::function<void()>> tasks_;
    std::map<TimerId, Timer> timers_;
    TimerId nextId_ = 1;
    std::chrono::milliseconds now_{0};
};

// Real-time loop for the headless server on the thread that calls Run(). Linux: waits in poll()
// on an eventfd, so it sleeps until the next task or timer. Windows: the thread's message loop;
// tasks wake it and timers tick as messages of a message-only window the loop owns while Run()
// is on the stack, so any modal loop on that thread (a dialog, a message box, a system chooser)
// runs them too. It dispatches every other message, so windows and COM calls of a
// single-threaded apartment are served on that thread. A timer's callback is not entered again
// by its own ticks while it is on the stack (it opened a modal loop); a callback's exception
// inside a modal loop is kept and thrown by Run() once that loop has ended, nothing else of the
// loop's running meanwhile.
// A timer that falls behind (the thread was blocked) fires once and resumes its period from
// then, without a burst of missed ticks.
// With a time scale s, every timer period is divided by s (a 5000 ms timer fires every 125 ms at
// s = 40), to run together with a ScaledCalendarClock of the same factor.
class PollMainLoop final : public MainLoop {
public:
    // Throws std::system_error when no eventfd can be made (Linux), std::invalid_argument unless
    // timeScale is finite and > 0.
    explicit PollMainLoop(double timeScale = 1.0);
    ~PollMainLoop() override;
    PollMainLoop(const PollMainLoop&) = delete;
    PollMainLoop& operator=(const PollMainLoop&) = delete;

    void PostTask(std::function<void()> task) override;
    TimerId AddTimer(std::chrono::milliseconds interval, std::function<void()> callback) override;
    bool RemoveTimer(TimerId id) override;

    // Runs tasks and timers until Quit(). A Quit() that came before Run() makes it return at once.
    // An exception thrown by a callback leaves Run() and the loop intact.
    void Run();

    // Asks Run() to return. Callable from any thread and from a signal handler.
    void Quit() noexcept;

    double TimeScale() const { return timeScale_; }
    // The real period of a timer added with `interval`.
    std::chrono::steady_clock::duration RealPeriod(std::chrono::milliseconds interval) const;

#ifdef _WIN32
    // Sees each window message (a MSG*) before it is dispatched; true when it handled it (a
    // modeless dialog's keyboard: IsDialogMessage). Set on the loop's thread.
    void SetMessageFilter(std::function<bool(void* msg)> filter) { messageFilter_ = std::move(filter); }
#endif

private:
    using Clock = std::chrono::steady_clock;
#ifdef _WIN32
    std::function<bool(void* msg)> messageFilter_;
    struct Timer {
        unsigned int periodMs;
        bool set;      // SetTimer done on the loop's window (the timer's id is its id there)
        bool running;  // its callback is on the stack
        std::shared_ptr<std::function<void()>> callback;
    };
    struct LoopWindow;  // the message-only window: its class and procedure

    bool OnLoopThread() const;
    void Wake() noexcept;
    void SyncTimers();
    void RunTasks();
    void FireTimer(TimerId id);
    void Serve(bool timer, TimerId id) noexcept;
    void ThrowFailure();
    void Leave() noexcept;
    unsigned int PeriodMs(std::chrono::milliseconds interval) const;

    std::atomic<unsigned long> thread_{0};  // the thread in Run(); 0 outside it
    std::atomic<void*> window_{nullptr};    // the loop's window (an HWND) while Run() is on the stack
    int depth_ = 0;                         // Run() calls on the stack (a task may run one)
    std::exception_ptr failure_;            // a callback's exception, for Run() to throw
    double timeScale_ = 1.0;
    std::atomic<bool> quit_{false};
    std::mutex mutex_;
    std::deque<std::function<void()>> tasks_;
    std::map<TimerId, Timer> timers_;
    std::deque<TimerId> killTimers_;  // removed off the loop's thread, for it to kill
    TimerId nextId_ = 1;
#else
    struct Timer {
        Clock::duration interval;
        Clock::time_point due;
        std::shared_ptr<std::function<void()>> callback;
    };

    void Wake() noexcept;
    void Drain() noexcept;
    int PollTimeoutMs(Clock::time_point now);
    void RunTasks();
    void FireDueTimers();

    int wakeFd_ = -1;
    double timeScale_ = 1.0;
    std::atomic<bool> quit_{false};
    std::mutex mutex_;
    std::deque<std::function<void()>> tasks_;
    std::map<TimerId, Timer> timers_;
    TimerId nextId_ = 1;
#endif
};

}  // namespace velq3
