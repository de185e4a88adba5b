// The headless server's main loop on Linux: poll() on an eventfd, timers kept in a table.
#include "platform/MainLoop.h"

#include "platform/MainLoopTimers.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <poll.h>
#include <stdexcept>
#include <sys/eventfd.h>
#include <system_error>
#include <unistd.h>

namespace velq3 {

using detail::NextDue;

PollMainLoop::PollMainLoop(double timeScale) : timeScale_(timeScale) {
    if (!std::isfinite(timeScale) || timeScale <= 0)
        throw std::invalid_argument("main loop time scale must be a positive number");
    wakeFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wakeFd_ < 0) throw std::system_error(errno, std::generic_category(), "eventfd");
}

PollMainLoop::~PollMainLoop() { close(wakeFd_); }

void PollMainLoop::Wake() noexcept {
    const int saved = errno;  // Quit() may run inside a signal handler
    const std::uint64_t one = 1;
    // A full counter (EAGAIN) already means "wake up", so the result needs no check.
    [[maybe_unused]] ssize_t written = write(wakeFd_, &one, sizeof one);
    errno = saved;
}

void PollMainLoop::Drain() noexcept {
    std::uint64_t count = 0;
    [[maybe_unused]] ssize_t got = read(wakeFd_, &count, sizeof count);
}

TimerId PollMainLoop::AddTimer(std::chrono::milliseconds interval,
                               std::function<void()> callback) {
    TimerId id;
    {
        std::lock_guard lock(mutex_);
        const auto period = RealPeriod(interval);
        id = nextId_++;
        timers_.emplace(id, Timer{period, Clock::now() + period,
                                  std::make_shared<std::function<void()>>(std::move(callback))});
    }
    Wake();  // the loop may be sleeping with a longer time-out
    return id;
}

bool PollMainLoop::RemoveTimer(TimerId id) {
    std::lock_guard lock(mutex_);
    return timers_.erase(id) > 0;
}

void PollMainLoop::FireDueTimers() {
    const auto now = Clock::now();
    while (!quit_.load()) {
        std::shared_ptr<std::function<void()>> callback;
        {
            std::lock_guard lock(mutex_);
            auto it = NextDue(timers_, now);
            if (it == timers_.end()) return;
            Timer& timer = it->second;
            timer.due += timer.interval;
            if (timer.due <= now) timer.due = now + timer.interval;  // fell behind: no burst
            callback = timer.callback;
        }
        (*callback)();
    }
}

int PollMainLoop::PollTimeoutMs(Clock::time_point now) {
    std::lock_guard lock(mutex_);
    if (!tasks_.empty()) return 0;
    if (timers_.empty()) return -1;
    auto next = timers_.begin()->second.due;
    for (const auto& [id, timer] : timers_) next = std::min(next, timer.due);
    if (next <= now) return 0;
    const auto wait = std::chrono::ceil<std::chrono::milliseconds>(next - now).count();
    return wait > INT_MAX ? INT_MAX : static_cast<int>(wait);
}

void PollMainLoop::Run() {
    while (!quit_.load()) {
        RunTasks();
        if (quit_.load()) break;
        FireDueTimers();
        if (quit_.load()) break;
        pollfd fd{wakeFd_, POLLIN, 0};
        const int ready = poll(&fd, 1, PollTimeoutMs(Clock::now()));
        if (ready < 0 && errno != EINTR) {
            throw std::system_error(errno, std::generic_category(), "main loop poll");
        }
        if (ready > 0) Drain();
    }
    quit_.store(false);
}

}  // namespace velq3
