// The parts of the headless main loop that are the same on every system: the task queue, the
// scaled timer period and Quit(). Waiting, waking and the timers themselves are the system
// bodies' (linux/: poll() on an eventfd, win32/: the thread's message queue).
#include "platform/MainLoop.h"

#include "platform/MainLoopTimers.h"

#include <algorithm>

namespace velq3 {

PollMainLoop::Clock::duration PollMainLoop::RealPeriod(std::chrono::milliseconds interval) const {
    const auto period = detail::AtLeastOneMs<Clock::duration>(interval);
    if (timeScale_ == 1.0) return period;
    const std::chrono::duration<double, Clock::period> scaled(static_cast<double>(period.count()) / timeScale_);
    return std::max(std::chrono::duration_cast<Clock::duration>(scaled), Clock::duration(1));
}

void PollMainLoop::PostTask(std::function<void()> task) {
    {
        std::lock_guard lock(mutex_);
        tasks_.push_back(std::move(task));
    }
    Wake();
}

void PollMainLoop::Quit() noexcept {
    quit_.store(true);
    Wake();
}

// Runs the tasks queued so far; later ones wait for the next round so timers are not starved.
void PollMainLoop::RunTasks() {
    std::size_t count;
    {
        std::lock_guard lock(mutex_);
        count = tasks_.size();
    }
    for (; count > 0 && !quit_.load(); --count) {
        std::function<void()> task;
        {
            std::lock_guard lock(mutex_);
            if (tasks_.empty()) return;  // a task ran a nested Run() that took the rest
            task = std::move(tasks_.front());
            tasks_.pop_front();
        }
        task();
    }
}

}  // namespace velq3
