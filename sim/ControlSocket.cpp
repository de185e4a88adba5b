// Stream socket server of the control channel (Unix socket or loopback TCP).
#include "sim/ControlSocket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace velq3::sim {
namespace {

constexpr size_t kMaxLine = 1024;  // a longer line is a mistake: the client is dropped

bool sendAll(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::send(fd, text.data() + done, text.size() - done, MSG_NOSIGNAL);
    if (n < 0) {
      if (errno == EINTR) continue;
      if (errno == EAGAIN || errno == EWOULDBLOCK) {
        pollfd p{fd, POLLOUT, 0};
        if (::poll(&p, 1, 1000) > 0) continue;
      }
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

std::unique_ptr<ControlSocket> ControlSocket::listen(const std::string& path, std::string* error) {
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  if (path.size() >= sizeof addr.sun_path) {
    if (error) *error = "control socket path too long: " + path;
    return nullptr;
  }
  std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
  struct stat st {};
  if (::lstat(path.c_str(), &st) == 0) {
    if (!S_ISSOCK(st.st_mode)) {
      if (error) *error = path + " exists and is not a socket";
      return nullptr;
    }
    ::unlink(path.c_str());
  }
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(fd, 8) != 0) {
    if (error) *error = "control socket " + path + ": " + std::strerror(errno);
    if (fd >= 0) ::close(fd);
    return nullptr;
  }
  return std::unique_ptr<ControlSocket>(new ControlSocket(fd, path));
}

std::unique_ptr<ControlSocket> ControlSocket::listenTcp(const std::string& portFile, std::string* error) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(fd, 8) != 0 ||
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
    if (error) *error = std::string("control port: ") + std::strerror(errno);
    if (fd >= 0) ::close(fd);
    return nullptr;
  }
  const std::string partial = portFile + ".part";
  FILE* f = std::fopen(partial.c_str(), "w");
  const bool written = f && std::fprintf(f, "%u\n", static_cast<unsigned>(ntohs(addr.sin_port))) > 0;
  if (f) std::fclose(f);
  if (!written || std::rename(partial.c_str(), portFile.c_str()) != 0) {
    if (error) *error = "control port file " + portFile + ": " + std::strerror(errno);
    ::unlink(partial.c_str());
    ::close(fd);
    return nullptr;
  }
  return std::unique_ptr<ControlSocket>(new ControlSocket(fd, portFile));
}

ControlSocket::~ControlSocket() {
  for (const auto& c : clients_) ::close(c.fd);
  ::close(listenFd_);
  ::unlink(path_.c_str());
}

void ControlSocket::addPollFds(std::vector<pollfd>& fds, size_t& first) const {
  first = fds.size();
  fds.push_back({listenFd_, POLLIN, 0});
  for (const auto& c : clients_) fds.push_back({c.fd, POLLIN, 0});
}

void ControlSocket::handle(const std::vector<pollfd>& fds, size_t first, const Handler& handler) {
  // Clients first, in the order they were added; new connections are accepted afterwards.
  std::vector<Client> kept;
  for (size_t i = 0; i < clients_.size(); ++i) {
    Client& c = clients_[i];
    const short ev = fds[first + 1 + i].revents;
    if (ev == 0 || serve(c, handler)) {
      kept.push_back(std::move(c));
    } else {
      if (c.fd == firstClientFd_) firstClientGone_ = true;
      ::close(c.fd);
    }
  }
  clients_ = std::move(kept);
  if (fds[first].revents & POLLIN) {
    for (;;) {
      const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
      if (fd < 0) break;
      if (firstClientFd_ < 0) firstClientFd_ = fd;
      clients_.push_back({fd, {}});
    }
  }
}

bool ControlSocket::serve(Client& c, const Handler& handler) {
  char buf[512];
  const ssize_t n = ::read(c.fd, buf, sizeof buf);
  if (n < 0) return errno == EAGAIN || errno == EINTR;
  if (n == 0) return false;
  c.pending.append(buf, static_cast<size_t>(n));
  size_t nl;
  while ((nl = c.pending.find('\n')) != std::string::npos) {
    const std::string line = c.pending.substr(0, nl);
    c.pending.erase(0, nl + 1);
    if (!sendAll(c.fd, handler(line) + "\n")) return false;
  }
  return c.pending.size() <= kMaxLine;
}

}  // namespace velq3::sim
