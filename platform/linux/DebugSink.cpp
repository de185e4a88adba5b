// Debug output goes to standard error, a line in one write, without ever waiting for the
// reader.
#include "platform/DebugSink.h"

#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

namespace velq3 {

bool DebugChannel::SameFile(int fd, const std::filesystem::path& path) {
    struct stat a {}, b {};
    return ::fstat(fd, &a) == 0 && ::stat(path.c_str(), &b) == 0 && S_ISREG(a.st_mode) && a.st_dev == b.st_dev &&
           a.st_ino == b.st_ino;
}

void DebugChannel::Write(std::string_view text) {
    std::lock_guard hold(m_Mutex);
    // A pipe takes a write of up to PIPE_BUF bytes whole or not at all.
    WritePieces(text, PIPE_BUF);
}

bool DebugChannel::WritePiece(std::string_view piece) {
    if (!m_RotateFile.empty()) RotateIfFull(piece.size());
    // Room for the piece first: a descriptor shared with others may still be blocking.
    pollfd p{m_Fd, POLLOUT, 0};
    if (::poll(&p, 1, 0) != 1 || !(p.revents & POLLOUT)) return false;
    while (!piece.empty()) {
        const ssize_t n = ::write(m_Fd, piece.data(), piece.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;  // full (EAGAIN), or nowhere to report a failing channel
        piece.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

void DebugChannel::RotateIfFull(std::size_t adding) {
    struct stat st {};
    if (::fstat(m_Fd, &st) != 0 || static_cast<std::uint64_t>(st.st_size) + adding <= m_RotateBytes) return;
    if (st.st_size == 0 || !SameFile(m_Fd, m_RotateFile)) return;
    std::filesystem::path old = m_RotateFile;
    old += ".1";
    if (::rename(m_RotateFile.c_str(), old.c_str()) != 0) return;
    const int fd = ::open(m_RotateFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) return;  // writing on into the renamed file is all that is left
    // dup3 keeps the descriptor's close-on-exec flag as it was (dup2 would clear it).
    const int flags = ::fcntl(m_Fd, F_GETFD);
    ::dup3(fd, m_Fd, flags >= 0 && (flags & FD_CLOEXEC) ? O_CLOEXEC : 0);
    ::close(fd);
}

void DebugChannel::MakeNonBlocking() {
    std::lock_guard hold(m_Mutex);
    struct stat st {};
    if (::fstat(m_Fd, &st) != 0 || !(S_ISFIFO(st.st_mode) || S_ISCHR(st.st_mode))) return;
    // Opening the descriptor's /proc entry makes a new open file description of the same pipe
    // or terminal: its flags are this channel's alone.
    const std::string self = "/proc/self/fd/" + std::to_string(m_Fd);
    const int fd = ::open(self.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return;
    const int flags = ::fcntl(m_Fd, F_GETFD);
    ::dup3(fd, m_Fd, flags >= 0 && (flags & FD_CLOEXEC) ? O_CLOEXEC : 0);
    ::close(fd);
}

} // namespace velq3
