// The self-pipe behind TerminationSignals.
#include "server/TerminationSignals.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

namespace velq3 {

namespace {

// Written by the signal handler, which can reach nothing else.
std::atomic<int> g_SignalPipe{-1};
struct sigaction g_PreviousInt {}, g_PreviousTerm {};

void OnTerminationSignal(int signal) {
    const int saved = errno;
    const int fd = g_SignalPipe.load();
    const unsigned char byte = static_cast<unsigned char>(signal);
    if (fd >= 0) {
        [[maybe_unused]] ssize_t n = ::write(fd, &byte, 1);
    }
    errno = saved;
}

} // namespace

TerminationSignals::TerminationSignals(std::function<void(int)> onSignal) : m_OnSignal(std::move(onSignal)) {
    if (g_SignalPipe.load() >= 0 || ::pipe2(m_Pipe, O_CLOEXEC) != 0) return;
    g_SignalPipe.store(m_Pipe[1]);
    m_Watcher = std::thread([this] {
        unsigned char byte = 0;
        for (;;) {
            const ssize_t n = ::read(m_Pipe[0], &byte, 1);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0 || byte == 0) return;  // 0: the destructor's stop
            if (m_OnSignal) m_OnSignal(byte);
        }
    });
    struct sigaction sa {};
    sa.sa_handler = OnTerminationSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &sa, &g_PreviousInt);
    ::sigaction(SIGTERM, &sa, &g_PreviousTerm);
}

TerminationSignals::~TerminationSignals() {
    if (!m_Watcher.joinable()) return;
    ::sigaction(SIGINT, &g_PreviousInt, nullptr);
    ::sigaction(SIGTERM, &g_PreviousTerm, nullptr);
    g_SignalPipe.store(-1);
    const unsigned char stop = 0;
    [[maybe_unused]] ssize_t n = ::write(m_Pipe[1], &stop, 1);
    m_Watcher.join();
    ::close(m_Pipe[0]);
    ::close(m_Pipe[1]);
}

} // namespace velq3
