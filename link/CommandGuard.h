// The guard every device command starts with: fail at once without a port or while another
// command runs; otherwise hold the busy flag for the whole exchange.
#pragma once

#include <atomic>

#include "link/SerialLink.h"

namespace velq3 {

class CommandGuard {
public:
    CommandGuard(std::atomic<bool>& busy, PortHandle port) : m_busy(busy) {
        // Test and set in one step: two commands can never both pass.
        if (port != kNoPort && !busy.exchange(true)) {
            m_acquired = true;
            PurgePort(port);
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
