// Pseudo-terminal and terminal set-up for the simulator's end of the line.
#include "sim/Line.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace velq3::sim {
namespace {

std::string errnoText(const std::string& what) { return what + ": " + std::strerror(errno); }

// Raw 9600 8N1 without flow control. On a pseudo-terminal master this sets the slave's mode, and
// doing it at once keeps the slave from ever echoing or translating bytes.
bool makeRaw(int fd, std::string* error) {
  termios t{};
  if (::tcgetattr(fd, &t) != 0) {
    if (error) *error = errnoText("tcgetattr");
    return false;
  }
  ::cfmakeraw(&t);
  ::cfsetispeed(&t, B9600);
  ::cfsetospeed(&t, B9600);
  t.c_cflag &= ~static_cast<tcflag_t>(PARENB | CSTOPB | CRTSCTS | CSIZE);
  t.c_cflag |= CS8 | CLOCAL | CREAD;
  t.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
  t.c_cc[VMIN] = 1;
  t.c_cc[VTIME] = 0;
  if (::tcsetattr(fd, TCSANOW, &t) != 0) {
    if (error) *error = errnoText("tcsetattr");
    return false;
  }
  return true;
}

}  // namespace

std::unique_ptr<Line> Line::openPty(std::string* error) {
  const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master < 0) {
    if (error) *error = errnoText("posix_openpt");
    return nullptr;
  }
  char name[PATH_MAX];
  int slave = -1;
  if (!makeRaw(master, error)) goto fail;
  if (::grantpt(master) != 0 || ::unlockpt(master) != 0 || ::ptsname_r(master, name, sizeof name) != 0) {
    if (error) *error = errnoText("pseudo-terminal set-up");
    goto fail;
  }
  slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (slave < 0) {
    if (error) *error = errnoText(std::string("open ") + name);
    goto fail;
  }
  if (::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK) != 0) {
    if (error) *error = errnoText("fcntl");
    goto fail;
  }
  return std::unique_ptr<Line>(new Line(master, slave, name));

fail:
  if (slave >= 0) ::close(slave);
  ::close(master);
  return nullptr;
}

std::unique_ptr<Line> Line::openTty(const std::string& path, std::string* error) {
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    if (error) *error = errnoText("open " + path);
    return nullptr;
  }
  if (!makeRaw(fd, error)) {
    ::close(fd);
    return nullptr;
  }
  ::tcflush(fd, TCIOFLUSH);
  return std::unique_ptr<Line>(new Line(fd, -1, path));
}

int Line::unreadBytes() const {
  int n = 0;
  if (slaveFd_ < 0 || ::ioctl(slaveFd_, FIONREAD, &n) != 0) return 0;
  return n;
}

Line::~Line() {
  ::close(fd_);
  if (slaveFd_ >= 0) ::close(slaveFd_);
}

bool Symlink::pointTo(const std::string& target, std::string* error) {
  // Create beside it and rename over it, so the name never dangles half-way.
  const std::string tmp = path_ + ".new";
  ::unlink(tmp.c_str());
  if (::symlink(target.c_str(), tmp.c_str()) != 0) {
    if (error) *error = errnoText("symlink " + tmp);
    return false;
  }
  struct stat st {};
  if (::lstat(path_.c_str(), &st) == 0 && !S_ISLNK(st.st_mode)) {
    ::unlink(tmp.c_str());
    errno = EEXIST;
    if (error) *error = errnoText(path_ + " exists and is not a symbolic link");
    return false;
  }
  if (::rename(tmp.c_str(), path_.c_str()) != 0) {
    if (error) *error = errnoText("rename to " + path_);
    ::unlink(tmp.c_str());
    return false;
  }
  target_ = target;
  return true;
}

void Symlink::remove() {
  if (target_.empty()) return;
  char buf[PATH_MAX];
  const ssize_t n = ::readlink(path_.c_str(), buf, sizeof buf - 1);
  if (n >= 0 && std::string(buf, static_cast<size_t>(n)) == target_) ::unlink(path_.c_str());
  target_.clear();
}

}  // namespace velq3::sim
