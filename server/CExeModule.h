// The server module: the lock count of live automation objects and server locks, and the
// shutdown monitor that ends the process once the count has stayed at zero for the idle time.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

#include "automation/ModuleLock.h"

namespace velq3 {

inline constexpr std::chrono::milliseconds kIdleTimeout{5000};

class CExeModule {
public:
    explicit CExeModule(std::chrono::milliseconds idleTimeout = kIdleTimeout);
    ~CExeModule();
    CExeModule(const CExeModule&) = delete;
    CExeModule& operator=(const CExeModule&) = delete;

    // The lock count that objects and LockServer change. Its fall to zero sets the activity
    // flag and signals the shutdown event (once the event exists).
    ModuleLock& LockCount() { return m_Lock; }
    std::int32_t Unlock() { return m_Lock.Unlock(); }

    // Creates the shutdown event and starts the monitor thread, which calls `postQuit` (on its
    // own thread) when 5000 ms (the idle time-out) have passed since the count last fell to
    // zero and the count is still zero then; a new fall within the period starts it again,
    // a count above zero at its end sends the monitor back to waiting for the next fall.
    // False when the thread cannot be started: then the process never ends this way.
    bool StartMonitor(std::function<void()> postQuit);
    // Ends the monitor without a quit; idempotent.
    void StopMonitor();
    bool MonitorRunning() const { return m_Monitor.joinable(); }
    // True once the monitor has decided to end the process.
    bool QuitPosted() const;

private:
    void OnCountZero();
    void Monitor();

    ModuleLock m_Lock;
    const std::chrono::milliseconds m_IdleTimeout;
    mutable std::mutex m_Mutex;
    std::condition_variable m_Changed;
    bool m_HasEvent = false;  // the shutdown event exists
    bool m_Signaled = false;  // the event is set (automatic reset: a wait that sees it clears it)
    bool m_Activity = false;  // the count fell to zero since the monitor last cleared it
    bool m_Stop = false;
    bool m_QuitPosted = false;
    std::function<void()> m_PostQuit;
    std::thread m_Monitor;
};

} // namespace velq3
