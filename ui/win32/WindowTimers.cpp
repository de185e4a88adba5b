// Window timers as a main loop's timers.
#include "ui/win32/WindowTimers.h"

#include <algorithm>

namespace velq3::ui {

WindowTimers::~WindowTimers() { Bind(nullptr); }

void WindowTimers::Bind(HWND window) {
    if (m_Window)
        for (const auto& [id, timer] : m_Timers) ::KillTimer(m_Window, kFirstId + id);
    m_Window = window;
    if (m_Window)
        for (const auto& [id, timer] : m_Timers) ::SetTimer(m_Window, kFirstId + id, timer.periodMs, nullptr);
}

bool WindowTimers::Fire(UINT_PTR systemId) {
    if (systemId < kFirstId) return false;
    const auto it = m_Timers.find(static_cast<TimerId>(systemId - kFirstId));
    if (it == m_Timers.end()) return false;
    // A copy: the callback may remove its own timer.
    const std::function<void()> callback = it->second.callback;
    callback();
    return true;
}

TimerId WindowTimers::AddTimer(std::chrono::milliseconds interval, std::function<void()> callback) {
    const TimerId id = m_NextId++;
    const UINT period = static_cast<UINT>(std::clamp<long long>(interval.count(), USER_TIMER_MINIMUM, 0x7FFFFFFF));
    m_Timers[id] = Timer{period, std::move(callback)};
    if (m_Window) ::SetTimer(m_Window, kFirstId + id, period, nullptr);
    return id;
}

bool WindowTimers::RemoveTimer(TimerId id) {
    if (m_Timers.erase(id) == 0) return false;
    if (m_Window) ::KillTimer(m_Window, kFirstId + id);
    return true;
}

}  // namespace velq3::ui
