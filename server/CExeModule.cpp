// The lock count's zero hook and the shutdown monitor thread.
#include "server/CExeModule.h"

#include <system_error>

namespace velq3 {

CExeModule::CExeModule(std::chrono::milliseconds idleTimeout) : m_IdleTimeout(idleTimeout) {
    m_Lock.SetZeroHook([this] { OnCountZero(); });
}

CExeModule::~CExeModule() { StopMonitor(); }

void CExeModule::OnCountZero() {
    {
        std::lock_guard hold(m_Mutex);
        m_Activity = true;
        if (!m_HasEvent) return;  // no event yet (or any more): nothing to signal
        m_Signaled = true;
    }
    m_Changed.notify_all();
}

bool CExeModule::StartMonitor(std::function<void()> postQuit) {
    if (m_Monitor.joinable()) return true;
    {
        std::lock_guard hold(m_Mutex);
        m_HasEvent = true;
        m_Signaled = false;
        m_Stop = false;
        m_PostQuit = std::move(postQuit);
    }
    try {
        m_Monitor = std::thread([this] { Monitor(); });
    } catch (const std::system_error&) {
        std::lock_guard hold(m_Mutex);
        m_HasEvent = false;
        return false;
    }
    return true;
}

void CExeModule::StopMonitor() {
    {
        std::lock_guard hold(m_Mutex);
        m_Stop = true;
    }
    m_Changed.notify_all();
    if (m_Monitor.joinable()) m_Monitor.join();
}

bool CExeModule::QuitPosted() const {
    std::lock_guard hold(m_Mutex);
    return m_QuitPosted;
}

void CExeModule::Monitor() {
    std::unique_lock hold(m_Mutex);
    const auto signaled = [this] { return m_Signaled || m_Stop; };
    for (;;) {
        // 1. Wait without limit for the event.
        m_Changed.wait(hold, signaled);
        if (m_Stop) return;
        m_Signaled = false;
        // 2. Wait again, at most the idle time, as long as the event keeps coming.
        for (;;) {
            m_Activity = false;
            if (!m_Changed.wait_for(hold, m_IdleTimeout, signaled)) break;
            if (m_Stop) return;
            m_Signaled = false;
        }
        // 3. Timed out: leave only when nothing fell to zero meanwhile and nothing is held.
        if (m_Activity || m_Lock.Count() != 0) continue;
        break;
    }
    // 4. Close the event and post the quit.
    m_HasEvent = false;
    m_QuitPosted = true;
    std::function<void()> postQuit = m_PostQuit;
    hold.unlock();
    if (postQuit) postQuit();
}

} // namespace velq3
