// The simulator's end of the serial line: a new pseudo-terminal or an existing terminal, raw
// 9600 8N1, non-blocking; plus the symbolic link that names the pseudo-terminal.
#pragma once

#include <memory>
#include <string>

namespace velq3::sim {

class Line {
 public:
  // A new pseudo-terminal. The simulator holds the slave side open as well, so that poll() on the
  // master blocks instead of reporting a hang-up while no program has the terminal open.
  static std::unique_ptr<Line> openPty(std::string* error);
  static std::unique_ptr<Line> openTty(const std::string& path, std::string* error);

  ~Line();
  Line(const Line&) = delete;
  Line& operator=(const Line&) = delete;

  int fd() const { return fd_; }
  // The terminal the other side opens: the pseudo-terminal's slave, or the served terminal.
  const std::string& path() const { return path_; }
  bool isPty() const { return slaveFd_ >= 0; }
  // Bytes sent to a pseudo-terminal that the other side has not read yet (0 for a terminal).
  int unreadBytes() const;

 private:
  Line(int fd, int slaveFd, std::string path) : fd_(fd), slaveFd_(slaveFd), path_(std::move(path)) {}

  int fd_;
  int slaveFd_;
  std::string path_;
};

// A symbolic link owned by the simulator: pointed at each new terminal, removed at the end only
// while it still points where the simulator put it.
class Symlink {
 public:
  explicit Symlink(std::string path) : path_(std::move(path)) {}
  ~Symlink() { remove(); }
  Symlink(const Symlink&) = delete;
  Symlink& operator=(const Symlink&) = delete;

  bool pointTo(const std::string& target, std::string* error);
  void remove();

 private:
  std::string path_;
  std::string target_;
};

}  // namespace velq3::sim
