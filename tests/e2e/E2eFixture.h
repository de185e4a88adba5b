// Whole-program tests: velq3, velq3-ctl and velq3-sim run as the user would run them, with
// VELQ3_HOME in a temporary folder and Qt's offscreen platform. The test process adopts the
// servers that activations start (it is a sub-reaper), so that it can wait for their end, and
// it kills and reaps every velq3 left over when a test ends.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "common/SimProcess.h"
#include "device/OrnFilterWheel.h"
#include "platform/Registry.h"

#ifndef VELQ3_APPS_DIR
#error "VELQ3_APPS_DIR must name the folder of the programs"
#endif

namespace velq3::test {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

inline std::string Program(const char* name) { return std::string(VELQ3_APPS_DIR) + "/" + name; }

inline double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

// A child process with its standard input (optionally a pipe), output and error (pipes or files).
class Process {
public:
    struct Options {
        bool pipeInput = false;
        std::string outputFile;  // empty: a pipe
        std::string errorFile;   // empty: a pipe
        bool brokenError = false; // standard error: a pipe whose reading end is already closed
    };

    Process(const std::string& program, const std::vector<std::string>& args, const std::vector<std::string>& env,
            Options options) {
        int in[2] = {-1, -1}, out[2] = {-1, -1}, err[2] = {-1, -1};
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        if (options.pipeInput && ::pipe2(in, O_CLOEXEC) == 0) posix_spawn_file_actions_adddup2(&actions, in[0], 0);
        else posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        if (options.outputFile.empty() && ::pipe2(out, O_CLOEXEC) == 0) posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        else posix_spawn_file_actions_addopen(&actions, 1, options.outputFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (options.errorFile.empty() && ::pipe2(err, O_CLOEXEC) == 0) posix_spawn_file_actions_adddup2(&actions, err[1], 2);
        else posix_spawn_file_actions_addopen(&actions, 2, options.errorFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        std::vector<std::string> all{program};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv, envp;
        for (auto& a : all) argv.push_back(a.data());
        argv.push_back(nullptr);
        std::vector<std::string> envCopy = env;
        for (auto& e : envCopy) envp.push_back(e.data());
        envp.push_back(nullptr);
        const int rc = ::posix_spawn(&m_Pid, program.c_str(), &actions, nullptr, argv.data(), envp.data());
        posix_spawn_file_actions_destroy(&actions);
        if (options.brokenError && err[0] >= 0) {
            ::close(err[0]);
            err[0] = -1;
        }
        for (int fd : {in[0], out[1], err[1]})
            if (fd >= 0) ::close(fd);
        m_In = in[1];
        m_Out = out[0];
        m_Err = err[0];
        if (rc != 0) {
            m_Pid = -1;
            ADD_FAILURE() << "cannot start " << program << ": " << std::strerror(rc);
        }
    }
    ~Process() {
        Kill();
        for (int fd : {m_In, m_Out, m_Err})
            if (fd >= 0) ::close(fd);
    }
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    pid_t Pid() const { return m_Pid; }

    void Write(const std::string& text) {
        ASSERT_GE(m_In, 0);
        ASSERT_EQ(::write(m_In, text.data(), text.size()), static_cast<ssize_t>(text.size()));
    }
    void CloseInput() {
        if (m_In >= 0) ::close(m_In);
        m_In = -1;
    }

    // The next line of output; "" on time-out or end.
    std::string ReadLine(std::chrono::milliseconds timeout = 10s) {
        const auto deadline = Clock::now() + timeout;
        for (;;) {
            if (const auto nl = m_Pending.find('\n'); nl != std::string::npos) {
                std::string line = m_Pending.substr(0, nl);
                m_Pending.erase(0, nl + 1);
                return line;
            }
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
            pollfd p{m_Out, POLLIN, 0};
            if (m_Out < 0 || left <= 0 || ::poll(&p, 1, static_cast<int>(left)) <= 0) return "";
            char buf[4096];
            const ssize_t n = ::read(m_Out, buf, sizeof buf);
            if (n <= 0) return "";
            m_Pending.append(buf, static_cast<std::size_t>(n));
        }
    }

    // Reads output and error to their end and waits for the exit; nothing on time-out (the
    // process is then killed).
    std::optional<int> Finish(std::string* output, std::string* error, std::chrono::milliseconds timeout = 20s) {
        const auto deadline = Clock::now() + timeout;
        std::string out = m_Pending, err;
        for (;;) {
            std::vector<pollfd> fds;
            if (m_Out >= 0) fds.push_back({m_Out, POLLIN, 0});
            if (m_Err >= 0) fds.push_back({m_Err, POLLIN, 0});
            if (fds.empty()) break;
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
            if (left <= 0 || ::poll(fds.data(), fds.size(), static_cast<int>(left)) <= 0) break;
            for (const pollfd& p : fds) {
                if (!(p.revents & (POLLIN | POLLHUP))) continue;
                char buf[4096];
                const ssize_t n = ::read(p.fd, buf, sizeof buf);
                int& fd = p.fd == m_Out ? m_Out : m_Err;
                if (n <= 0) {
                    ::close(fd);
                    fd = -1;
                } else {
                    (p.fd == m_Out ? out : err).append(buf, static_cast<std::size_t>(n));
                }
            }
        }
        if (output) *output = out;
        if (error) *error = err;
        return WaitExit(std::max(std::chrono::milliseconds(100),
                                 std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now())));
    }

    // The exit status once the process has ended within `timeout`; -signal when killed.
    std::optional<int> WaitExit(std::chrono::milliseconds timeout) {
        if (m_Pid <= 0) return m_Status;
        const auto deadline = Clock::now() + timeout;
        int status = 0;
        while (::waitpid(m_Pid, &status, WNOHANG) == 0) {
            if (Clock::now() > deadline) return std::nullopt;
            std::this_thread::sleep_for(5ms);
        }
        m_Pid = -1;
        m_Status = WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
        return m_Status;
    }

    void Signal(int signal) {
        if (m_Pid > 0) ::kill(m_Pid, signal);
    }
    void Kill() {
        if (m_Pid <= 0) return;
        ::kill(m_Pid, SIGKILL);
        ::waitpid(m_Pid, nullptr, 0);
        m_Pid = -1;
    }

private:
    pid_t m_Pid = -1;
    std::optional<int> m_Status;
    int m_In = -1, m_Out = -1, m_Err = -1;
    std::string m_Pending;
};

struct RunResult {
    std::optional<int> status;
    std::string output;
    std::string error;
    std::vector<std::string> Lines() const {
        std::vector<std::string> lines;
        std::istringstream in(output);
        for (std::string l; std::getline(in, l);) lines.push_back(l);
        return lines;
    }
};

class E2eTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ::prctl(PR_SET_CHILD_SUBREAPER, 1); }

    E2eTest() {
        for (char** e = environ; *e; ++e) {
            const std::string v = *e;
            if (v.rfind("VELQ3_HOME=", 0) == 0 || v.rfind("QT_QPA_PLATFORM=", 0) == 0) continue;
            m_Env.push_back(v);
        }
        m_Env.push_back("VELQ3_HOME=" + home.path());
        m_Env.push_back("QT_QPA_PLATFORM=offscreen");
    }
    ~E2eTest() override { KillLeftoverServers(); }

    EnvLookup HomeLookup() const {
        return [home = home.path()](const char* name) -> std::optional<std::string> {
            if (std::string(name) == "VELQ3_HOME") return home;
            return std::nullopt;
        };
    }

    RunResult Run(const std::string& program, const std::vector<std::string>& args, std::chrono::milliseconds timeout = 20s) {
        Process p(program, args, m_Env, {});
        RunResult r;
        r.status = p.Finish(&r.output, &r.error, timeout);
        return r;
    }
    std::unique_ptr<Process> Start(const std::string& program, const std::vector<std::string>& args, Process::Options o) {
        return std::make_unique<Process>(program, args, m_Env, o);
    }
    // The environment the programs run in.
    const std::vector<std::string>& Env() const { return m_Env; }
    // As Start, without the variables whose names begin with one of `drop`.
    std::unique_ptr<Process> StartWithout(const std::vector<std::string>& drop, const std::string& program,
                                          const std::vector<std::string>& args, Process::Options o) {
        std::vector<std::string> env;
        for (const std::string& v : m_Env) {
            bool keep = true;
            for (const std::string& d : drop) keep = keep && v.rfind(d, 0) != 0;
            if (keep) env.push_back(v);
        }
        return std::make_unique<Process>(program, args, env, o);
    }
    // Waits until the server process `pid` listens on the socket.
    bool WaitListening(pid_t pid, std::chrono::milliseconds timeout = 10s) const {
        const auto deadline = Clock::now() + timeout;
        while (!(SocketExists() && ServerPid() == pid)) {
            if (Clock::now() > deadline) return false;
            std::this_thread::sleep_for(10ms);
        }
        return true;
    }

    // The registration as "velq3 /regserver" makes it.
    void Register() {
        const RunResult r = Run(Program("velq3"), {"/regserver"});
        ASSERT_EQ(r.status, 0) << r.error;
    }
    RegistryHive Classes() const {
        RegistryHive hive(ClassesRootHivePath(HomeLookup()), kClassesRoot);
        hive.Load();
        return hive;
    }
    // The controller simulator on COM1 of the user's settings.
    void StartController(std::vector<std::string> args = {}) {
        sim = std::make_unique<SimProcess>(std::move(args));
        RegistryHive user(CurrentUserHivePath(HomeLookup()), kCurrentUserRoot);
        user.Load();
        user.SetString(kSettingsKey, "SerialDevice1", sim->ttyPath());
        user.SetDword(kSettingsKey, "ComPort", 1);
        ASSERT_TRUE(user.Save());
    }

    // The process that holds the server lock now (0: none).
    pid_t ServerPid() const {
        std::ifstream in(home.path() + "/run/automation.sock.lock");
        pid_t pid = 0;
        in >> pid;
        return pid;
    }
    bool SocketExists() const { return std::filesystem::exists(home.path() + "/run/automation.sock"); }

    // Waits for the server process `pid` (adopted by this process) to end; true when it did.
    static bool WaitServerExit(pid_t pid, std::chrono::milliseconds timeout) {
        const auto deadline = Clock::now() + timeout;
        for (;;) {
            const pid_t r = ::waitpid(pid, nullptr, WNOHANG);
            if (r == pid || (r < 0 && ::kill(pid, 0) != 0)) return true;
            if (Clock::now() > deadline) return false;
            std::this_thread::sleep_for(5ms);
        }
    }
    static bool Alive(pid_t pid) { return ::waitpid(pid, nullptr, WNOHANG) == 0; }

    std::string ServerLog() const {
        std::ifstream in(home.path() + "/data/server.log");
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    static int CountLines(const std::string& text, const std::string& part) {
        int n = 0;
        std::istringstream in(text);
        for (std::string l; std::getline(in, l);) n += l.find(part) != std::string::npos;
        return n;
    }

    TempDir home;
    std::unique_ptr<SimProcess> sim;

private:
    // Servers started by activations became this process's children: none survives the test.
    static void KillLeftoverServers() {
        std::error_code ec;
        for (const auto& entry : std::filesystem::directory_iterator("/proc", ec)) {
            const std::string name = entry.path().filename();
            if (name.find_first_not_of("0123456789") != std::string::npos) continue;
            // A process may end between listing and reading (the read then fails with ESRCH,
            // which a std::ifstream turns into an exception): read with plain calls.
            const int fd = ::open((entry.path() / "stat").c_str(), O_RDONLY | O_CLOEXEC);
            if (fd < 0) continue;
            char buffer[512];
            const ssize_t got = ::read(fd, buffer, sizeof buffer);
            ::close(fd);
            if (got <= 0) continue;
            const std::string text(buffer, static_cast<std::size_t>(got));
            const auto open = text.find('('), close = text.rfind(')');
            if (open == std::string::npos || close == std::string::npos) continue;
            const std::string comm = text.substr(open + 1, close - open - 1);
            std::istringstream rest(text.substr(close + 2));
            char state = 0;
            pid_t ppid = 0;
            rest >> state >> ppid;
            if (ppid != ::getpid() || comm != "velq3") continue;
            const pid_t pid = static_cast<pid_t>(std::strtol(name.c_str(), nullptr, 10));
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
    }

    std::vector<std::string> m_Env;
};

}  // namespace velq3::test
