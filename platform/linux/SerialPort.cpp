// termios implementation of the serial port with poll()-based time-outs.
#include "platform/SerialPort.h"

#include "platform/PortMap.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace velq3 {
namespace {

using Clock = std::chrono::steady_clock;

speed_t BaudConstant(int baud) {
    switch (baud) {
    case 1200: return B1200;
    case 2400: return B2400;
    case 4800: return B4800;
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    default: return B9600;
    }
}

int MsUntil(Clock::time_point deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

void SetError(std::string* error, const std::string& what) {
    if (error) *error = what + ": " + std::strerror(errno);
}

} // namespace

PortHandle SerialOpen(const std::string& path, int baud, std::string* error) {
    // Non-blocking so that the open never waits for a carrier; reads and writes wait in poll().
    int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        const int cause = errno;
        if (cause == EACCES || cause == EPERM) {
            if (error) *error = PermissionMessage(path);
        } else {
            SetError(error, "open " + path);
        }
        errno = cause;  // callers tell a refused permission from a missing device by it
        return kNoPort;
    }
    termios tio{};
    if (::tcgetattr(fd, &tio) != 0) {  // not a terminal
        SetError(error, "not a terminal: " + path);
        ::close(fd);
        return kNoPort;
    }
    // TIOCEXCL keeps other non-root programs out; the advisory lock also refuses root
    // and a second open in this process.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        SetError(error, "port in use: " + path);
        ::close(fd);
        return kNoPort;
    }
    (void)::ioctl(fd, TIOCEXCL);

    ::cfmakeraw(&tio);
    ::cfsetispeed(&tio, BaudConstant(baud));
    ::cfsetospeed(&tio, BaudConstant(baud));
    tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB | CRTSCTS);
    tio.c_cflag |= CS8 | CLOCAL | CREAD;
    tio.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    (void)::tcsetattr(fd, TCSANOW, &tio);  // as with the line state elsewhere, not checked

    int lines = TIOCM_DTR | TIOCM_RTS;
    (void)::ioctl(fd, TIOCMBIC, &lines);  // fails harmlessly on pseudo-terminals
    ::tcflush(fd, TCIOFLUSH);
    return fd;
}

size_t SerialRead(PortHandle h, void* buf, size_t n, const SerialTimeouts& t) {
    if (h == kNoPort || n == 0) return 0;
    auto* out = static_cast<unsigned char*>(buf);
    const auto deadline = Clock::now() + std::chrono::milliseconds(
        static_cast<long long>(t.readTotalConstantMs) + static_cast<long long>(t.readTotalMultiplierMs) * static_cast<long long>(n));
    size_t got = 0;
    while (got < n) {
        int wait = MsUntil(deadline);
        if (got > 0) wait = std::min(wait, t.readIntervalMs);
        if (wait <= 0) break;
        pollfd p{h, POLLIN, 0};
        int r = ::poll(&p, 1, wait);
        if (r < 0) {
            if (errno == EINTR) continue;
            break;
        }
        if (r == 0) break;  // total or inter-byte time-out
        if (p.revents & POLLIN) {
            ssize_t k = ::read(h, out + got, n - got);
            if (k > 0) {
                got += static_cast<size_t>(k);
                continue;
            }
            if (k < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        }
        // Hang-up, error or end of file: the line is gone. Report what arrived; with
        // nothing, wait out the time-out so that loops over reads do not spin.
        if (got == 0) std::this_thread::sleep_for(std::chrono::milliseconds(MsUntil(deadline)));
        break;
    }
    return got;
}

size_t SerialWrite(PortHandle h, const void* buf, size_t n, const SerialTimeouts& t) {
    if (h == kNoPort) return 0;
    const auto* in = static_cast<const unsigned char*>(buf);
    const auto deadline = Clock::now() + std::chrono::milliseconds(
        static_cast<long long>(t.writeTotalConstantMs) + static_cast<long long>(t.writeTotalMultiplierMs) * static_cast<long long>(n));
    size_t done = 0;
    while (done < n) {
        ssize_t k = ::write(h, in + done, n - done);
        if (k > 0) {
            done += static_cast<size_t>(k);
            continue;
        }
        if (k < 0 && errno == EINTR) continue;
        if (k < 0 && errno != EAGAIN) break;  // EIO after a hang-up
        int wait = MsUntil(deadline);
        if (wait <= 0) break;
        pollfd p{h, POLLOUT, 0};
        int r = ::poll(&p, 1, wait);
        if (r <= 0 && !(r < 0 && errno == EINTR)) break;
        if (p.revents & (POLLERR | POLLHUP | POLLNVAL)) break;
    }
    return done;
}

bool SerialDrain(PortHandle h) { return h != kNoPort && ::tcdrain(h) == 0; }

void SerialPurge(PortHandle h) {
    if (h != kNoPort) ::tcflush(h, TCIOFLUSH);
}

bool SerialHungUp(PortHandle h) {
    if (h == kNoPort) return false;
    // Hang-up and error are reported whatever is asked for.
    pollfd p{h, 0, 0};
    return ::poll(&p, 1, 0) > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
}

void SerialClose(PortHandle h) {
    if (h == kNoPort) return;
    // The exclusive flag belongs to the terminal, not to this descriptor: on a pseudo-terminal
    // whose far end stays open it outlives the close and every later open by an ordinary user
    // fails with EBUSY. Clear it first.
    (void)::ioctl(h, TIOCNXCL);
    ::close(h);  // closing releases the advisory lock too
}

} // namespace velq3
