// Helpers of the tests that check what an ordinary user meets: a child process running as uid
// and gid 65534 (when the test runs as root), and a pseudo-terminal standing for a serial port.
#pragma once

#include <fcntl.h>
#include <grp.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

namespace velq3::test {

inline constexpr uid_t kNobody = 65534;

// Runs `body` in a child process as an unprivileged user (uid and gid 65534 when this process is
// root, the current user otherwise) and returns its exit code, or 128 + signal; 90 when the
// child could not drop its privileges, -1 when there was no child.
template <typename Body>
int RunUnprivileged(Body body) {
    const pid_t child = fork();
    if (child < 0) return -1;
    if (child == 0) {
        alarm(20);
        if (geteuid() == 0 && (setgroups(0, nullptr) != 0 || setresgid(kNobody, kNobody, kNobody) != 0 ||
                               setresuid(kNobody, kNobody, kNobody) != 0))
            _exit(90);
        _exit(body());
    }
    int status = 0;
    if (waitpid(child, &status, 0) != child) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// A new pseudo-terminal: its master (held by the caller, -1 on failure) and its slave's path.
struct TestPty {
    int master = -1;
    std::string slave;
};

inline TestPty OpenTestPty() {
    TestPty pty;
    pty.master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    char name[128];
    if (pty.master < 0 || grantpt(pty.master) != 0 || unlockpt(pty.master) != 0 ||
        ptsname_r(pty.master, name, sizeof name) != 0) {
        if (pty.master >= 0) close(pty.master);
        pty.master = -1;
        return pty;
    }
    pty.slave = name;
    return pty;
}

} // namespace velq3::test
