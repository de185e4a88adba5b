// Test helper: the server's end of the simulator's line, driven with raw POSIX reads and writes.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <initializer_list>

namespace velq3::test {

class PtyClient {
 public:
  explicit PtyClient(const std::string& path) {
    fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd_ < 0) throw std::runtime_error("cannot open " + path);
    termios t{};
    ::tcgetattr(fd_, &t);
    ::cfmakeraw(&t);
    ::tcsetattr(fd_, TCSANOW, &t);
    ::tcflush(fd_, TCIFLUSH);
  }
  ~PtyClient() { ::close(fd_); }
  PtyClient(const PtyClient&) = delete;
  PtyClient& operator=(const PtyClient&) = delete;

  void send(std::string_view bytes) {
    if (::write(fd_, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size()))
      throw std::runtime_error("short write to the simulator");
  }

  // Reads until n bytes arrived or timeoutMs passed; returns what arrived.
  std::string read(size_t n, int timeoutMs = 2000) {
    return collect(timeoutMs, [n](const std::string& got) { return got.size() >= n; }, n);
  }
  // Reads up to and including the byte c, or until timeoutMs passed.
  std::string readUntil(char c, int timeoutMs = 2000) {
    return collect(timeoutMs, [c](const std::string& got) { return !got.empty() && got.back() == c; }, 1);
  }
  // Everything that arrives within ms.
  std::string drain(int ms) {
    return collect(ms, [](const std::string&) { return false; }, 1);
  }
  // Sends a command and reads a reply of n bytes.
  std::string ask(std::string_view command, size_t n, int timeoutMs = 2000) {
    send(command);
    return read(n, timeoutMs);
  }

  // True when the line was hung up (the simulator closed its end), waiting at most timeoutMs.
  bool hungUp(int timeoutMs) {
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, timeoutMs) <= 0) return false;
    return (p.revents & POLLHUP) != 0;
  }

 private:
  template <typename Done>
  std::string collect(int timeoutMs, Done done, size_t chunk) {
    std::string got;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done(got)) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
      if (left <= 0) break;
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, static_cast<int>(left)) <= 0 || !(p.revents & POLLIN)) break;
      char buf[256];
      // Never read past a requested reply, so that the next reply stays in the line.
      const size_t want = chunk > got.size() ? chunk - got.size() : 1;
      const ssize_t r = ::read(fd_, buf, std::min(sizeof buf, want));
      if (r <= 0) break;
      got.append(buf, static_cast<size_t>(r));
    }
    return got;
  }

  int fd_ = -1;
};

// A command word followed by its payload bytes.
inline std::string cmd(std::string_view word, std::initializer_list<uint8_t> payload = {}) {
  std::string s(word);
  for (uint8_t b : payload) s.push_back(static_cast<char>(b));
  return s;
}

inline int s16(const std::string& s, size_t offset) {
  return static_cast<int16_t>(static_cast<uint16_t>(static_cast<uint8_t>(s.at(offset)) |
                                                     (static_cast<uint8_t>(s.at(offset + 1)) << 8)));
}

}  // namespace velq3::test
