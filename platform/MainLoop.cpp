// The deterministic main-loop binding for tests (virtual time).
#include "platform/MainLoop.h"

#include "platform/MainLoopTimers.h"

#include <algorithm>

namespace velq3 {

using detail::AtLeastOneMs;
using detail::NextDue;

void ManualMainLoop::PostTask(std::function<void()> task) {
    std::lock_guard lock(mutex_);
    tasks_.push_back(std::move(task));
}

TimerId ManualMainLoop::AddTimer(std::chrono::milliseconds interval,
                                 std::function<void()> callback) {
    std::lock_guard lock(mutex_);
    const auto period = AtLeastOneMs<std::chrono::milliseconds>(interval);
    const TimerId id = nextId_++;
    timers_.emplace(id, Timer{period, now_ + period,
                              std::make_shared<std::function<void()>>(std::move(callback))});
    return id;
}

bool ManualMainLoop::RemoveTimer(TimerId id) {
    std::lock_guard lock(mutex_);
    return timers_.erase(id) > 0;
}

std::size_t ManualMainLoop::TimerCount() const {
    std::lock_guard lock(mutex_);
    return timers_.size();
}

std::size_t ManualMainLoop::RunPending() {
    std::size_t ran = 0;
    for (;;) {
        std::function<void()> task;
        {
            std::lock_guard lock(mutex_);
            if (tasks_.empty()) return ran;
            task = std::move(tasks_.front());
            tasks_.pop_front();
        }
        task();
        ++ran;
    }
}

void ManualMainLoop::AdvanceBy(std::chrono::milliseconds delta) {
    const auto target = now_ + std::max(delta, std::chrono::milliseconds(0));
    RunPending();
    for (;;) {
        std::shared_ptr<std::function<void()>> callback;
        {
            std::lock_guard lock(mutex_);
            auto it = NextDue(timers_, target);
            if (it == timers_.end()) break;
            now_ = it->second.due;
            it->second.due += it->second.interval;
            callback = it->second.callback;  // keeps the callback alive if it removes its timer
        }
        (*callback)();
        RunPending();
    }
    now_ = target;
}

}  // namespace velq3
