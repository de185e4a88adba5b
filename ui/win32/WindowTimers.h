// Timers on a window: WM_TIMER messages of one window, which every message loop dispatches
// (the modal loops of dialogs, message boxes and the system choosers included), so that a
// window's poll keeps its period whatever loop runs. Tasks go to the process's main loop.
#pragma once

#include <windows.h>

#include <map>

#include "platform/MainLoop.h"

namespace velq3::ui {

class WindowTimers final : public MainLoop {
public:
    explicit WindowTimers(MainLoop& tasks) : m_Tasks(tasks) {}
    ~WindowTimers() override;

    // The window the timers run on; timers added while there is none start once there is one.
    // Null stops them (they start again on the next window).
    void Bind(HWND window);
    // A WM_TIMER of the bound window: true when it was one of these timers (its callback ran).
    bool Fire(UINT_PTR id);

    void PostTask(std::function<void()> task) override { m_Tasks.PostTask(std::move(task)); }
    TimerId AddTimer(std::chrono::milliseconds interval, std::function<void()> callback) override;
    bool RemoveTimer(TimerId id) override;

    // Window timer ids start here, clear of the ids a window's own code uses.
    static constexpr UINT_PTR kFirstId = 0x5700;

private:
    struct Timer {
        UINT periodMs;
        std::function<void()> callback;
    };
    MainLoop& m_Tasks;
    HWND m_Window = nullptr;
    std::map<TimerId, Timer> m_Timers;
    TimerId m_NextId = 1;
};

}  // namespace velq3::ui
