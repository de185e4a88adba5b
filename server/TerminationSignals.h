// SIGINT and SIGTERM as requests for the orderly exit: the handler only writes the signal's
// number to a pipe; a watcher thread reads it and calls the handler function there.
#pragma once

#include <functional>
#include <thread>

namespace velq3 {

class TerminationSignals {
public:
    // Installs the handlers; `onSignal` runs on the watcher thread, once per signal received.
    // One instance at a time (the signal handler has one pipe to write to).
    explicit TerminationSignals(std::function<void(int signal)> onSignal);
    // Restores the previous handlers and stops the watcher.
    ~TerminationSignals();
    TerminationSignals(const TerminationSignals&) = delete;
    TerminationSignals& operator=(const TerminationSignals&) = delete;

    bool Installed() const { return m_Watcher.joinable(); }

private:
    std::function<void(int)> m_OnSignal;
    int m_Pipe[2] = {-1, -1};
    std::thread m_Watcher;
};

} // namespace velq3
