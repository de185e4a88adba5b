// The main loop on Qt's event loop: posted tasks and periodic timers run on the GUI thread,
// between window events, as every timer of the window program must.
#pragma once

#include <QObject>

#include <map>
#include <memory>

#include "platform/MainLoop.h"

class QTimer;

namespace velq3::ui {

class QtMainLoop final : public MainLoop {
public:
    // Create on the GUI thread, after the application object; destroy before it.
    QtMainLoop();
    ~QtMainLoop() override;
    QtMainLoop(const QtMainLoop&) = delete;
    QtMainLoop& operator=(const QtMainLoop&) = delete;

    // Callable from any thread while the loop exists.
    void PostTask(std::function<void()> task) override;
    // GUI thread only. A timer that falls behind (the thread was blocked by a move) fires once
    // when the thread is free again, without a burst of missed ticks.
    TimerId AddTimer(std::chrono::milliseconds interval, std::function<void()> callback) override;
    bool RemoveTimer(TimerId id) override;

    std::size_t TimerCount() const { return m_Timers.size(); }

private:
    std::unique_ptr<QObject> m_Context;  // owner of the timers and receiver of posted tasks
    std::map<TimerId, QTimer*> m_Timers;
    TimerId m_NextId = 1;
};

// Runs `work` and reports an exception it throws on standard error instead of letting it
// unwind through Qt's event loop.
void RunGuarded(const std::function<void()>& work, const char* what);

}  // namespace velq3::ui
