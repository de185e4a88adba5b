// Qt binding of the main loop: queued invocations for tasks, QTimer for timers.
#include "ui/qt/QtMainLoop.h"

#include <QMetaObject>
#include <QTimer>

#include <cstdio>
#include <exception>

namespace velq3::ui {

void RunGuarded(const std::function<void()>& work, const char* what) {
    try {
        work();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "velq3: %s failed: %s\n", what, e.what());
    } catch (...) {
        std::fprintf(stderr, "velq3: %s failed\n", what);
    }
}

QtMainLoop::QtMainLoop() : m_Context(std::make_unique<QObject>()) {}

QtMainLoop::~QtMainLoop() {
    for (auto& [id, timer] : m_Timers) timer->stop();
    m_Timers.clear();
    m_Context.reset();  // deletes the timers; queued tasks for it are dropped
}

void QtMainLoop::PostTask(std::function<void()> task) {
    QMetaObject::invokeMethod(
        m_Context.get(), [task = std::move(task)] { RunGuarded(task, "posted task"); }, Qt::QueuedConnection);
}

TimerId QtMainLoop::AddTimer(std::chrono::milliseconds interval, std::function<void()> callback) {
    const TimerId id = m_NextId++;
    auto* timer = new QTimer(m_Context.get());
    timer->setInterval(std::max<std::chrono::milliseconds>(interval, std::chrono::milliseconds(1)));
    auto shared = std::make_shared<std::function<void()>>(std::move(callback));
    QObject::connect(timer, &QTimer::timeout, timer, [shared] { RunGuarded(*shared, "timer"); });
    timer->start();
    m_Timers.emplace(id, timer);
    return id;
}

bool QtMainLoop::RemoveTimer(TimerId id) {
    auto it = m_Timers.find(id);
    if (it == m_Timers.end()) return false;
    // It may be running its own callback right now: stop it and let Qt delete it later.
    it->second->stop();
    it->second->deleteLater();
    m_Timers.erase(it);
    return true;
}

}  // namespace velq3::ui
