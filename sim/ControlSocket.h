// The control channel: a Unix stream socket (or a loopback TCP port, for clients that cannot
// reach a Unix socket) on which each received text line is handed to a handler and its one-line
// answer sent back.
#pragma once

#include <poll.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace velq3::sim {

class ControlSocket {
 public:
  using Handler = std::function<std::string(const std::string& line)>;

  // Listens at path (an old socket file there is replaced); nullptr and *error on failure.
  static std::unique_ptr<ControlSocket> listen(const std::string& path, std::string* error);
  // Listens on a port of 127.0.0.1 chosen by the system and writes its number, one line, into
  // portFile (written whole under another name, then renamed: a reader never sees half of it).
  static std::unique_ptr<ControlSocket> listenTcp(const std::string& portFile, std::string* error);
  ~ControlSocket();
  ControlSocket(const ControlSocket&) = delete;
  ControlSocket& operator=(const ControlSocket&) = delete;

  // Adds the descriptors to watch; `first` is the index of the first one added.
  void addPollFds(std::vector<pollfd>& fds, size_t& first) const;
  // Handles the events of the descriptors added by the last addPollFds.
  void handle(const std::vector<pollfd>& fds, size_t first, const Handler& handler);
  // True once the first client that connected has gone.
  bool firstClientGone() const { return firstClientGone_; }

 private:
  struct Client {
    int fd;
    std::string pending;
  };
  ControlSocket(int fd, std::string path) : listenFd_(fd), path_(std::move(path)) {}
  bool serve(Client& c, const Handler& handler);  // false: drop the client

  int listenFd_;
  std::string path_;  // removed at the end: the socket file or the port file
  int firstClientFd_ = -1;
  bool firstClientGone_ = false;
  std::vector<Client> clients_;
};

}  // namespace velq3::sim
