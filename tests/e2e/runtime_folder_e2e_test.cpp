// velq3 started for a client when its fallback runtime folder (no VELQ3_HOME, no XDG_RUNTIME_DIR)
// belongs to another user: it says why no client can reach it, ends, and writes nothing outside
// its settings. The scene is set in a private /tmp (a mount namespace), so it needs root. The
// program is opened before /tmp is covered and run by that descriptor: a build tree under /tmp
// stays reachable.
#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#ifndef VELQ3_APPS_DIR
#error "VELQ3_APPS_DIR must name the folder of the programs"
#endif

namespace velq3::test {
namespace {

namespace fs = std::filesystem;

std::string Listing(const fs::path& dir) {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& entry : fs::recursive_directory_iterator(dir, ec)) {
        names.push_back(fs::relative(entry.path(), dir).string());
    }
    std::sort(names.begin(), names.end());
    std::string out;
    for (const auto& n : names) out += n + " ";
    return out;
}

// In the child, inside its own /tmp: runs `velq3 -Embedding` and writes what happened to `out`
// as "key=value" lines. Returns the child's exit code (non-zero: the scene could not be set; 2 to 4:
// no private mount namespace could be made).
int RunInPrivateTmp(int out) {
    const std::string program = std::string(VELQ3_APPS_DIR) + "/velq3";
    const int exe = open(program.c_str(), O_PATH | O_CLOEXEC);
    if (exe < 0) return 9;
    if (unshare(CLONE_NEWNS) != 0) return 2;
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) return 3;
    if (mount("tmpfs", "/tmp", "tmpfs", 0, "mode=1777") != 0) return 4;
    const std::string fallback = "/tmp/velq3-" + std::to_string(getuid());
    if (mkdir(fallback.c_str(), 0700) != 0 || chown(fallback.c_str(), 65534, 65534) != 0) return 5;
    if (mkdir("/tmp/home", 0700) != 0 || mkdir("/tmp/work", 0700) != 0) return 6;

    const pid_t server = fork();
    if (server < 0) return 7;
    if (server == 0) {
        if (chdir("/tmp/work") != 0) _exit(120);
        const int err = open("/tmp/stderr.txt", O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        if (err < 0 || dup2(err, 2) < 0) _exit(121);
        char* argv[] = {const_cast<char*>(program.c_str()), const_cast<char*>("-Embedding"), nullptr};
        std::string path = "PATH=" + std::string(getenv("PATH") ? getenv("PATH") : "/usr/bin:/bin");
        char* envp[] = {const_cast<char*>("HOME=/tmp/home"), const_cast<char*>("QT_QPA_PLATFORM=offscreen"),
                        path.data(), nullptr};
        fexecve(exe, argv, envp);  // the path itself may lie under the covered /tmp
        _exit(127);
    }
    int status = 0;
    bool ended = false;
    for (int i = 0; i < 2000 && !ended; ++i) {  // 20 s
        ended = waitpid(server, &status, WNOHANG) == server;
        if (!ended) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (!ended) {
        kill(server, SIGKILL);
        waitpid(server, &status, 0);
    }
    std::ifstream errIn("/tmp/stderr.txt");
    std::string error((std::istreambuf_iterator<char>(errIn)), {});
    std::replace(error.begin(), error.end(), '\n', '|');
    std::ostringstream report;
    report << "ended=" << ended << "\n"
           << "status=" << (WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status)) << "\n"
           << "stderr=" << error << "\n"
           << "work=" << Listing("/tmp/work") << "\n"
           << "fallback=" << Listing(fallback) << "\n"
           << "tmp=" << Listing("/tmp") << "\n";
    const std::string text = report.str();
    return write(out, text.data(), text.size()) == static_cast<ssize_t>(text.size()) ? 0 : 8;
}

TEST(RuntimeFolderE2e, ForeignFallbackFolderGivesAClearMessageAndNoAutomationFace) {
    if (geteuid() != 0) GTEST_SKIP() << "setting another user's folder in a private /tmp needs root";
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        close(fds[0]);
        alarm(60);
        _exit(RunInPrivateTmp(fds[1]));
    }
    close(fds[1]);
    std::string text;
    char buf[4096];
    for (ssize_t n; (n = read(fds[0], buf, sizeof buf)) > 0;) text.append(buf, static_cast<std::size_t>(n));
    close(fds[0]);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status)) << "the scene could not be set: " << status;
    if (WEXITSTATUS(status) >= 2 && WEXITSTATUS(status) <= 4) GTEST_SKIP() << "no private mount namespace here";
    ASSERT_NE(WEXITSTATUS(status), 9) << "the program " << VELQ3_APPS_DIR << "/velq3 could not be opened";
    ASSERT_EQ(WEXITSTATUS(status), 0) << "the scene could not be set";

    std::map<std::string, std::string> seen;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        const auto eq = line.find('=');
        if (eq != std::string::npos) seen[line.substr(0, eq)] = line.substr(eq + 1);
    }
    ASSERT_NE(seen["status"], "127") << "the program could not be started: " << seen["stderr"];
    EXPECT_EQ(seen["ended"], "1") << "a server nobody can reach must not wait for clients";
    EXPECT_EQ(seen["status"], "1");
    const std::string& error = seen["stderr"];
    EXPECT_NE(error.find("belongs to uid 65534"), std::string::npos) << error;
    EXPECT_NE(error.find("automation clients cannot be served"), std::string::npos) << error;
    EXPECT_NE(error.find("VELQ3_HOME"), std::string::npos) << "the message says how to mend it: " << error;
    EXPECT_EQ(seen["work"], "") << "nothing in the working folder (no stray lock file)";
    EXPECT_EQ(seen["fallback"], "") << "nothing in the other user's folder";
    // Only the scene itself and the settings folders under HOME.
    std::istringstream tmp(seen["tmp"]);
    for (std::string name; tmp >> name;) {
        // Qt makes its own runtime folder ("runtime-<user>") when XDG_RUNTIME_DIR is not set.
        const bool expected = name == "stderr.txt" || name == "work" || name.rfind("velq3-", 0) == 0 ||
                              name == "home" || name.rfind("home/", 0) == 0 || name.rfind("runtime-", 0) == 0;
        EXPECT_TRUE(expected) << "written outside the expected folders: /tmp/" << name;
    }
}

}  // namespace
}  // namespace velq3::test
