// A scripted controller on the far side of a pseudo-terminal: it waits for a number of request
// bytes, records them, and answers with fixed bytes, so tests can assert the exact wire format.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <string>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace velq3::test {

using Bytes = std::vector<std::uint8_t>;

inline Bytes B(std::string_view s) { return Bytes(s.begin(), s.end()); }
inline Bytes Cat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

struct PeerStep {
    size_t expect = 0;   // request bytes to receive before answering
    Bytes reply;         // bytes sent back (may be empty: stay silent)
    int delayMs = 0;     // pause before the reply
    bool hangUp = false; // close the line instead of replying (a vanished adapter)
};

class ScriptedPeer {
public:
    ScriptedPeer() {
        m_master = ::posix_openpt(O_RDWR | O_NOCTTY);
        ::grantpt(m_master);
        ::unlockpt(m_master);
        char name[128] = {};
        ::ptsname_r(m_master, name, sizeof name);
        m_path = name;
        termios tio{};
        ::tcgetattr(m_master, &tio);
        ::cfmakeraw(&tio);
        ::tcsetattr(m_master, TCSANOW, &tio);
        // Hold a slave descriptor so that the master never sees a hang-up between opens.
        m_slaveKeep = ::open(name, O_RDWR | O_NOCTTY);
    }
    ~ScriptedPeer() {
        Join();
        HangUp();
    }

    const std::string& path() const { return m_path; }

    // Runs the steps on a thread of its own; Join() waits for it.
    void Run(std::vector<PeerStep> steps) {
        Join();
        m_thread = std::thread([this, steps = std::move(steps)] {
            for (const PeerStep& s : steps) {
                if (!Receive(s.expect, 3000)) return;
                if (s.delayMs) std::this_thread::sleep_for(std::chrono::milliseconds(s.delayMs));
                if (s.hangUp) {
                    HangUp();
                    return;
                }
                if (!s.reply.empty()) (void)!::write(m_master, s.reply.data(), s.reply.size());
            }
        });
    }

    void Join() {
        if (m_thread.joinable()) m_thread.join();
    }

    // Everything received so far.
    Bytes Received() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_received;
    }

    // Collects whatever arrives within `ms` (for checking that nothing was sent).
    Bytes Drain(int ms) {
        Join();
        Receive(SIZE_MAX, ms);
        return Received();
    }

    void HangUp() {
        if (int fd = m_slaveKeep.exchange(-1); fd >= 0) ::close(fd);
        if (int fd = m_master.exchange(-1); fd >= 0) ::close(fd);
    }

private:
    // Waits until `count` more bytes were received or `timeoutMs` passed.
    bool Receive(size_t count, int timeoutMs) {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        size_t got = 0;
        while (got < count) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
            if (left <= 0 || m_master < 0) return false;
            pollfd p{m_master, POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(left)) <= 0) return false;
            std::uint8_t buf[256];
            ssize_t n = ::read(m_master, buf, count - got < sizeof buf ? count - got : sizeof buf);
            if (n <= 0) return false;
            std::lock_guard<std::mutex> lock(m_mutex);
            m_received.insert(m_received.end(), buf, buf + n);
            got += static_cast<size_t>(n);
        }
        return true;
    }

    std::atomic<int> m_master{-1};
    std::atomic<int> m_slaveKeep{-1};
    std::string m_path;
    std::thread m_thread;
    std::mutex m_mutex;
    Bytes m_received;
};

} // namespace velq3::test
