// The control channel: a Unix stream socket on which each received text line is handed to a
// handler and its one-line answer sent back.
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
  ~ControlSocket();
  ControlSocket(const ControlSocket&) = delete;
  ControlSocket& operator=(const ControlSocket&) = delete;

  // Adds the descriptors to watch; `first` is the index of the first one added.
  void addPollFds(std::vector<pollfd>& fds, size_t& first) const;
  // Handles the events of the descriptors added by the last addPollFds.
  void handle(const std::vector<pollfd>& fds, size_t first, const Handler& handler);

 private:
  struct Client {
    int fd;
    std::string pending;
  };
  ControlSocket(int fd, std::string path) : listenFd_(fd), path_(std::move(path)) {}
  bool serve(Client& c, const Handler& handler);  // false: drop the client

  int listenFd_;
  std::string path_;
  std::vector<Client> clients_;
};

}  // namespace velq3::sim
