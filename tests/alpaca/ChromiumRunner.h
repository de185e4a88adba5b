// Test helper: loads a page in headless Chromium and returns the DOM after its scripts ran
// (--dump-dom with a virtual time budget). Chromium runs with a throw-away profile and home
// folder, and is killed if it does not finish in time.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

#include "common/SimProcess.h"

namespace velq3::test {

// The Chromium program, or "" when it is not installed.
inline std::string FindChromium() {
    for (const char* candidate : {"/usr/bin/chromium", "/usr/bin/chromium-browser"}) {
        if (::access(candidate, X_OK) == 0) return candidate;
    }
    return {};
}

struct ChromiumResult {
    bool finished = false;  // exited by itself within the time limit
    int exitCode = -1;
    std::string output;     // standard output (the DOM for --dump-dom)
};

// Runs chromium headless on `url` with the extra arguments (e.g. --dump-dom).
inline ChromiumResult RunChromium(const std::string& chromium, const std::string& url,
                                  std::vector<std::string> extra,
                                  std::chrono::seconds limit = std::chrono::seconds(60)) {
    TempDir profile;
    std::vector<std::string> args = {chromium,
                                     "--headless",
                                     "--no-sandbox",
                                     "--disable-gpu",
                                     "--disable-background-networking",
                                     "--disable-component-update",
                                     "--disable-sync",
                                     "--no-first-run",
                                     "--user-data-dir=" + profile.file("profile"),
                                     "--virtual-time-budget=3000"};
    args.insert(args.end(), extra.begin(), extra.end());
    args.push_back(url);

    ChromiumResult result;
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) return result;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);

    // Its own home and runtime folder: chromium writes caches there.
    std::vector<std::string> envText;
    for (char** e = environ; *e; ++e) {
        const std::string entry = *e;
        if (entry.rfind("HOME=", 0) == 0 || entry.rfind("XDG_", 0) == 0) continue;
        envText.push_back(entry);
    }
    envText.push_back("HOME=" + profile.path());
    envText.push_back("XDG_CONFIG_HOME=" + profile.file("config"));
    envText.push_back("XDG_CACHE_HOME=" + profile.file("cache"));
    std::vector<char*> argv, envp;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    for (auto& e : envText) envp.push_back(e.data());
    envp.push_back(nullptr);

    pid_t pid = -1;
    const int spawned =
        ::posix_spawn(&pid, chromium.c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    if (spawned != 0) {
        ::close(out[0]);
        return result;
    }

    const auto deadline = std::chrono::steady_clock::now() + limit;
    char buffer[65536];
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) break;
        pollfd p{out[0], POLLIN, 0};
        const int ready = ::poll(&p, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) break;
        const ssize_t n = ::read(out[0], buffer, sizeof buffer);
        if (n <= 0) {
            result.finished = true;  // end of output: chromium is done
            break;
        }
        result.output.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(out[0]);
    if (!result.finished) ::kill(pid, SIGKILL);
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (result.finished && WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
    return result;
}

}  // namespace velq3::test
