// Test and benchmark helper: runs `velq3 --service ...` as a child process with its own per-user
// folder, reads the Alpaca port it prints, and stops it with SIGTERM. Its output goes to a file
// (a pipe nobody reads could fill and stall it). The child ends with the parent even when the
// parent dies abruptly.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace velq3::test {

class ServiceProcess {
public:
    // Starts `program` with `args`, VELQ3_HOME set to `home`, standard output and error in
    // `home`/velq3.out.
    ServiceProcess(const std::string& program, const std::vector<std::string>& args, const std::string& home)
        : outputPath_(home + "/velq3.out") {
        const int out = ::open(outputPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        if (out < 0) return;
        std::vector<std::string> all{program};
        all.insert(all.end(), args.begin(), args.end());
        // Arguments and environment are prepared before fork: the child calls only
        // async-signal-safe functions until exec.
        std::vector<std::string> env;
        for (char** e = environ; *e; ++e) {
            if (std::strncmp(*e, "VELQ3_HOME=", 11) != 0) env.emplace_back(*e);
        }
        env.push_back("VELQ3_HOME=" + home);
        std::vector<char*> argv, envp;
        for (auto& a : all) argv.push_back(a.data());
        argv.push_back(nullptr);
        for (auto& e : env) envp.push_back(e.data());
        envp.push_back(nullptr);
        const pid_t parent = ::getpid();
        pid_ = ::fork();
        if (pid_ == 0) {
            ::prctl(PR_SET_PDEATHSIG, SIGTERM);
            if (::getppid() != parent) ::_exit(1);
            ::dup2(out, STDOUT_FILENO);
            ::dup2(out, STDERR_FILENO);
            ::execve(argv[0], argv.data(), envp.data());
            ::_exit(127);
        }
        ::close(out);
    }

    ~ServiceProcess() { Stop(); }
    ServiceProcess(const ServiceProcess&) = delete;
    ServiceProcess& operator=(const ServiceProcess&) = delete;

    bool Started() const { return pid_ > 0; }
    pid_t Pid() const { return pid_; }
    // Everything the program printed so far.
    std::string Output() const {
        std::string text;
        if (FILE* f = std::fopen(outputPath_.c_str(), "rb")) {
            char buffer[4096];
            for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, f)) > 0;) text.append(buffer, n);
            std::fclose(f);
        }
        return text;
    }

    // Waits for the line that announces the Alpaca server and returns its port (0 on time-out
    // or when the program ended first).
    int WaitForAlpacaPort(std::chrono::milliseconds timeout = std::chrono::milliseconds(15000)) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (pid_ > 0 && std::chrono::steady_clock::now() < deadline) {
            const std::string text = Output();
            for (std::size_t start = 0, nl; (nl = text.find('\n', start)) != std::string::npos; start = nl + 1) {
                if (const int port = PortInLine(text.substr(start, nl - start)); port > 0) return port;
            }
            int status = 0;
            if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                return 0;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return 0;
    }

    // SIGTERM, then SIGKILL after 5 s; returns the wait status (-1 when not running).
    int Stop() {
        if (pid_ <= 0) return -1;
        ::kill(pid_, SIGTERM);
        int status = -1;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (::waitpid(pid_, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > deadline) {
                ::kill(pid_, SIGKILL);
                ::waitpid(pid_, &status, 0);
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        pid_ = -1;
        return status;
    }

    // The port in a line such as "velq3: Alpaca server on http://127.0.0.1:11111/": the last
    // number of a line that names the Alpaca server; 0 for any other line.
    static int PortInLine(const std::string& line) {
        if (line.find("Alpaca") == std::string::npos) return 0;
        int port = 0;
        for (std::size_t i = 0; i < line.size();) {
            if (!std::isdigit(static_cast<unsigned char>(line[i]))) {
                ++i;
                continue;
            }
            std::size_t j = i;
            while (j < line.size() && std::isdigit(static_cast<unsigned char>(line[j]))) ++j;
            // A number followed by '.' is part of an address.
            if (j - i <= 5 && (j == line.size() || line[j] != '.')) port = std::atoi(line.substr(i, j - i).c_str());
            i = j;
        }
        return port > 0 && port <= 65535 ? port : 0;
    }

private:
    std::string outputPath_;
    pid_t pid_ = -1;
};

}  // namespace velq3::test
