// The guard every device command starts with: fail at once without a port or while another
// command runs; otherwise hold the busy flag for the whole exchange.
#pragma once

#include <atomic>

#include "link/DeviceLink.h"
#include "link/SerialLink.h"

namespace velq3 {

class CommandGuard {
public:
    explicit CommandGuard(CDeviceLink& link) : m_busy(link.m_bBusy) {
        // Test and set in one step: two commands can never both pass.
        if (link.m_hPort != kNoPort && !m_busy.exchange(true)) {
            m_acquired = true;
            // A line that hung up since the last command (an adapter pulled out and plugged in
            // again) is opened again under its name before the command is sent.
            if (LineHungUp(link.m_hPort)) link.ReopenHungUpPort();
            PurgePort(link.m_hPort);
        }
    }
    ~CommandGuard() {
        if (m_acquired) m_busy.store(false);
    }
    CommandGuard(const CommandGuard&) = delete;
    CommandGuard& operator=(const CommandGuard&) = delete;

    explicit operator bool() const { return m_acquired; }

private:
    std::atomic<bool>& m_busy;
    bool m_acquired = false;
};

} // namespace velq3
