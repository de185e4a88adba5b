// Test helper: runs the velq3-sim controller simulator as a child process on a pseudo-terminal,
// with its memory file and control socket in a temporary folder that is removed at the end.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#ifndef VELQ3_SIM_PATH
#error "VELQ3_SIM_PATH must name the velq3-sim binary"
#endif

extern char** environ;

namespace velq3::test {

// A fresh temporary folder, removed with everything in it by the destructor.
class TempDir {
 public:
  TempDir() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/velq3-test-XXXXXX";
    if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed: " + std::string(std::strerror(errno)));
    path_ = pattern;
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

class SimProcess {
 public:
  // Starts the simulator with `args` plus --control and --exit-with-parent (and --eeprom in the
  // temporary folder unless args name one), and reads the terminal path from its first line of
  // output. The simulator ends with the test process even when that one dies abruptly. With
  // "--verbose" among the args, the command words it receives are kept for takeReceived().
  explicit SimProcess(std::vector<std::string> args = {})
      : controlPath_(dir_.file("control.sock")), receivedPath_(dir_.file("received.log")) {
    verbose_ = std::find(args.begin(), args.end(), "--verbose") != args.end();
    if (std::find(args.begin(), args.end(), "--eeprom") == args.end()) {
      args.push_back("--eeprom");
      args.push_back(dir_.file("eeprom.bin"));
    }
    args.push_back("--control");
    args.push_back(controlPath_);
    args.push_back("--exit-with-parent");
    start(args);
    ttyPath_ = readLine(5000);
    if (ttyPath_.empty()) {
      stop();
      fail("velq3-sim did not print its terminal path");
    }
  }

  ~SimProcess() { stop(); }
  SimProcess(const SimProcess&) = delete;
  SimProcess& operator=(const SimProcess&) = delete;

  const std::string& ttyPath() const { return ttyPath_; }
  pid_t pid() const { return pid_; }
  // The temporary folder of this simulator (its memory file is eeprom.bin there by default).
  const TempDir& dir() const { return dir_; }

  // Sends one control line and waits for the answer; anything but "ok" fails the test.
  void control(const std::string& line) {
    const std::string reply = query(line);
    if (reply.rfind("ok", 0) != 0) ADD_FAILURE() << "control \"" << line << "\" answered \"" << reply << "\"";
  }

  // Sends one control line and returns the last line of the answer ("ok" or "error: ...").
  std::string query(const std::string& line) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, controlPath_.c_str(), sizeof addr.sun_path - 1);
    if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
      if (fd >= 0) ::close(fd);
      return "error: cannot connect to the control socket";
    }
    const std::string text = line + "\n";
    std::string reply;
    if (::send(fd, text.data(), text.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(text.size())) {
      // The answer ends with a line that starts with "ok" or "error".
      std::string got;
      char buf[256];
      pollfd p{fd, POLLIN, 0};
      while (reply.empty() && ::poll(&p, 1, 3000) > 0) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n <= 0) break;
        got.append(buf, static_cast<size_t>(n));
        size_t nl;
        while (reply.empty() && (nl = got.find('\n')) != std::string::npos) {
          const std::string l = got.substr(0, nl);
          got.erase(0, nl + 1);
          if (l.rfind("ok", 0) == 0 || l.rfind("error", 0) == 0) reply = l;
        }
      }
    }
    ::close(fd);
    return reply.empty() ? "error: no answer on the control socket" : reply;
  }

  // With "--verbose": the command words the simulator received since the last call, in order
  // ("FWAll", "FWfocus"...). A command is logged before it is answered, so every command whose
  // answer the caller has read is there.
  std::vector<std::string> takeReceived() {
    std::vector<std::string> words;
    std::ifstream in(receivedPath_);
    in.seekg(static_cast<std::streamoff>(receivedRead_));
    const std::string prefix = "velq3-sim: <- ";
    for (std::string line; std::getline(in, line);) {
      if (in.eof()) break;  // a line still being written: read it next time
      receivedRead_ += line.size() + 1;
      if (line.rfind(prefix, 0) != 0) continue;
      const std::string rest = line.substr(prefix.size());
      words.push_back(rest.substr(0, rest.find(' ')));
    }
    return words;
  }

  // After the line vanished: waits for the path of the new terminal and returns it ("" on time-out).
  std::string waitNewTty(int timeoutMs = 3000) {
    const std::string path = readLine(timeoutMs);
    if (!path.empty()) ttyPath_ = path;
    return path;
  }

  // Ends the simulator with SIGTERM (SIGKILL if it does not stop within 3 s); idempotent.
  // Returns its wait status, or -1 when it had already been stopped.
  int stop() {
    if (pid_ <= 0) return -1;
    ::kill(pid_, SIGTERM);
    int status = -1;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    while (::waitpid(pid_, &status, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() > deadline) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, &status, 0);
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    pid_ = -1;
    if (out_ >= 0) ::close(out_);
    out_ = -1;
    return status;
  }

 private:
  [[noreturn]] static void fail(const std::string& why) {
    ADD_FAILURE() << why;
    throw std::runtime_error(why);
  }

  void start(const std::vector<std::string>& args) {
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) fail("pipe failed");
    std::vector<std::string> all{VELQ3_SIM_PATH};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    if (verbose_)
      posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, receivedPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int rc = ::posix_spawn(&pid_, VELQ3_SIM_PATH, &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeFds[1]);
    out_ = pipeFds[0];
    if (rc != 0) {
      pid_ = -1;
      fail("cannot start " + std::string(VELQ3_SIM_PATH) + ": " + std::strerror(rc));
    }
  }

  // Reads one line of the simulator's output; "" on time-out or end of output.
  std::string readLine(int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
      const size_t nl = buffered_.find('\n');
      if (nl != std::string::npos) {
        std::string line = buffered_.substr(0, nl);
        buffered_.erase(0, nl + 1);
        return line;
      }
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
      if (left <= 0 || out_ < 0) return "";
      pollfd p{out_, POLLIN, 0};
      if (::poll(&p, 1, static_cast<int>(left)) <= 0) return "";
      char buf[256];
      const ssize_t n = ::read(out_, buf, sizeof buf);
      if (n <= 0) return "";
      buffered_.append(buf, static_cast<size_t>(n));
    }
  }

  TempDir dir_;
  std::string controlPath_;
  std::string receivedPath_;
  bool verbose_ = false;
  std::size_t receivedRead_ = 0;
  std::string ttyPath_;
  std::string buffered_;
  pid_t pid_ = -1;
  int out_ = -1;
};

}  // namespace velq3::test
