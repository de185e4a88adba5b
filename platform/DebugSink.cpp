// Debug output goes to standard error with a single write() per line.
#include "platform/DebugSink.h"

#include <cerrno>
#include <unistd.h>

namespace velq3 {

void DebugOutput(std::string_view text) {
    const char* p = text.data();
    size_t left = text.size();
    while (left > 0) {
        ssize_t n = ::write(STDERR_FILENO, p, left);
        if (n < 0) {
            if (errno == EINTR) continue;
            return;  // nowhere to report a failing diagnostic channel
        }
        p += n;
        left -= static_cast<size_t>(n);
    }
}

} // namespace velq3
