// End-to-end tests of indi_velq3: indiserver starts the driver on a free loopback port, the
// controller simulator stands at the far end of the serial line, and Debian's indi_getprop,
// indi_setprop and indi_eval are the clients. HOME (where libindi keeps each device's config
// file) and VELQ3_HOME are temporary folders, so nothing outside them is touched.
#pragma once

#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "common/SimProcess.h"
#include "e2e/E2eFixture.h"

#ifndef VELQ3_INDI_DRIVER
#error "VELQ3_INDI_DRIVER must name the indi_velq3 binary"
#endif

namespace velq3::test {

// The driver's devices when INDIDEV is not set.
inline constexpr const char* kMain = "VELQ3";
inline constexpr const char* kFocuser2 = "VELQ3 Focuser 2";

// The full path of a program found on PATH; "" when there is none.
inline std::string FindOnPath(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::istringstream dirs(path ? path : "/usr/bin:/bin");
    for (std::string dir; std::getline(dirs, dir, ':');) {
        const std::string candidate = (dir.empty() ? "." : dir) + "/" + name;
        if (::access(candidate.c_str(), X_OK) == 0) return candidate;
    }
    return "";
}

// A TCP port on the loopback interface that nothing listens on right now.
inline int FreeLoopbackPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    int port = 0;
    if (fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) == 0)
        port = ntohs(addr.sin_port);
    if (fd >= 0) ::close(fd);
    return port;
}

// A raw INDI client on the server's port that keeps everything the server sends, so that tests
// can look for the driver's <message> lines (the command-line clients do not show them).
class MessageWatch {
public:
    explicit MessageWatch(int port) {
        m_Fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(static_cast<std::uint16_t>(port));
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (m_Fd < 0 || ::connect(m_Fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
            ADD_FAILURE() << "cannot reach indiserver on port " << port;
            return;
        }
        const std::string hello = "<getProperties version='1.7'/>\n";
        if (::send(m_Fd, hello.data(), hello.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(hello.size()))
            ADD_FAILURE() << "cannot send to indiserver";
        m_Reader = std::thread([this] {
            char buf[4096];
            for (;;) {
                const ssize_t n = ::recv(m_Fd, buf, sizeof buf, 0);
                if (n <= 0) return;
                std::lock_guard lock(m_Mutex);
                m_Text.append(buf, static_cast<std::size_t>(n));
            }
        });
        // The definitions arrive first; from then on the server relays the driver's messages.
        WaitFor("defSwitchVector", 5s);
    }
    ~MessageWatch() {
        if (m_Fd >= 0) ::shutdown(m_Fd, SHUT_RDWR);
        if (m_Reader.joinable()) m_Reader.join();
        if (m_Fd >= 0) ::close(m_Fd);
    }
    MessageWatch(const MessageWatch&) = delete;
    MessageWatch& operator=(const MessageWatch&) = delete;

    // Sends raw XML to the server, as any client may.
    void Send(const std::string& xml) {
        if (::send(m_Fd, xml.data(), xml.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(xml.size()))
            ADD_FAILURE() << "cannot send to indiserver";
    }

    // True once the server has sent text containing `part` (XML-escaped as it came).
    bool WaitFor(const std::string& part, std::chrono::milliseconds timeout) {
        const auto deadline = Clock::now() + timeout;
        while (Clock::now() < deadline) {
            {
                std::lock_guard lock(m_Mutex);
                if (m_Text.find(part) != std::string::npos) return true;
            }
            std::this_thread::sleep_for(20ms);
        }
        return false;
    }
    // How many <message> elements of `device` contain `part`.
    int CountMessages(const std::string& device, const std::string& part) {
        std::lock_guard lock(m_Mutex);
        int count = 0;
        for (std::size_t at = m_Text.find("<message"); at != std::string::npos; at = m_Text.find("<message", at + 1)) {
            const std::string element = m_Text.substr(at, m_Text.find('>', at) - at);
            const bool mine = element.find("\"" + device + "\"") != std::string::npos ||
                              element.find("'" + device + "'") != std::string::npos;
            if (mine && element.find(part) != std::string::npos) ++count;
        }
        return count;
    }

private:
    int m_Fd = -1;
    std::thread m_Reader;
    std::mutex m_Mutex;
    std::string m_Text;
};

class IndiTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_Server = FindOnPath("indiserver");
        m_GetProp = FindOnPath("indi_getprop");
        m_SetProp = FindOnPath("indi_setprop");
        m_Eval = FindOnPath("indi_eval");
        if (m_Server.empty() || m_GetProp.empty() || m_SetProp.empty() || m_Eval.empty())
            GTEST_SKIP() << "indiserver and the INDI command-line clients (Debian package indi-bin) are not installed";
        for (char** e = environ; *e; ++e) {
            const std::string v = *e;
            if (v.rfind("HOME=", 0) == 0 || v.rfind("VELQ3_HOME=", 0) == 0 || v.rfind("INDICONFIG=", 0) == 0 ||
                v.rfind("INDIDEV=", 0) == 0)
                continue;
            m_Env.push_back(v);
        }
        // Each device keeps its own config file under $HOME/.indi; INDICONFIG would make the
        // devices of the driver share one file, so it is left unset.
        m_Env.push_back("HOME=" + home.path());
        m_Env.push_back("VELQ3_HOME=" + home.file("velq3"));
    }

    void TearDown() override {
        StopServer();
        std::ifstream log(home.file("indiserver.log"));
        std::string text((std::istreambuf_iterator<char>(log)), {});
        // The driver's standard error reaches the log: a sanitizer report there is a fault.
        for (const char* fault : {"AddressSanitizer", "runtime error:", "terminate called"})
            EXPECT_EQ(text.find(fault), std::string::npos) << "the driver reported: " << fault;
        if (HasFailure()) {
            if (text.size() > 6000) text = text.substr(text.size() - 6000);
            std::cerr << "---- indiserver log (end) ----\n" << text << "\n----\n";
        }
    }

    // Starts the driver with INDIDEV=`name`, as KStars does with the label of its entry
    // (nullptr: without INDIDEV).
    void NameMainDevice(const char* name) {
        std::erase_if(m_Env, [](const std::string& v) { return v.rfind("INDIDEV=", 0) == 0; });
        m_Main = name ? name : kMain;
        if (name) m_Env.push_back(std::string("INDIDEV=") + name);
    }
    const std::string& Main() const { return m_Main; }

    // Starts the simulator with `simArgs` and indiserver with the driver; waits until the
    // driver's device answers.
    void Start(std::vector<std::string> simArgs = {}) {
        sim = std::make_unique<SimProcess>(std::move(simArgs));
        StartServer();
    }

    void StartServer() {
        m_Port = FreeLoopbackPort();
        ASSERT_GT(m_Port, 0);
        const std::string socketPath = home.file("indiserver.sock");
        const std::string logPath = home.file("indiserver.log");
        std::vector<std::string> args{m_Server, "-v", "-p", std::to_string(m_Port), "-u", socketPath, VELQ3_INDI_DRIVER};
        std::vector<char*> argv, envp;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        for (auto& e : m_Env) envp.push_back(e.data());
        envp.push_back(nullptr);
        const pid_t parent = ::getpid();
        m_ServerPid = ::fork();
        ASSERT_GE(m_ServerPid, 0);
        if (m_ServerPid == 0) {
            // indiserver (and with it the driver, whose input then ends) goes with this test.
            ::prctl(PR_SET_PDEATHSIG, SIGTERM);
            if (::getppid() != parent) ::_exit(127);
            ::setpgid(0, 0);
            const int log = ::open(logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
            const int null = ::open("/dev/null", O_RDONLY);
            if (log >= 0) {
                ::dup2(log, 1);
                ::dup2(log, 2);
            }
            if (null >= 0) ::dup2(null, 0);
            ::execve(argv[0], argv.data(), envp.data());
            ::_exit(127);
        }
        // Ready when the device's CONNECTION can be read.
        const auto deadline = Clock::now() + 15s;
        while (Clock::now() < deadline) {
            const RunResult r = Run(m_GetProp, {"-p", Port(), "-t", "1", m_Main + ".CONNECTION.CONNECT"});
            if (r.status == 0) return;
            int status = 0;
            if (::waitpid(m_ServerPid, &status, WNOHANG) == m_ServerPid) {
                m_ServerPid = -1;
                FAIL() << "indiserver ended at start";
            }
            std::this_thread::sleep_for(100ms);
        }
        FAIL() << "the driver's device did not appear within 15 s";
    }

    void StopServer() {
        if (m_ServerPid <= 0) return;
        ::kill(m_ServerPid, SIGTERM);
        const auto deadline = Clock::now() + 5s;
        int status = 0;
        while (::waitpid(m_ServerPid, &status, WNOHANG) == 0) {
            if (Clock::now() > deadline) {
                ::kill(-m_ServerPid, SIGKILL);
                ::waitpid(m_ServerPid, &status, 0);
                break;
            }
            std::this_thread::sleep_for(10ms);
        }
        m_ServerPid = -1;
        // The driver reads the end of its input and leaves; give it the time to save and close.
        std::this_thread::sleep_for(100ms);
    }

    std::string Port() const { return std::to_string(m_Port); }
    std::unique_ptr<MessageWatch> WatchMessages() { return std::make_unique<MessageWatch>(m_Port); }

    RunResult Run(const std::string& program, const std::vector<std::string>& args, std::chrono::milliseconds timeout = 30s) {
        Process p(program, args, m_Env, {});
        RunResult r;
        r.status = p.Finish(&r.output, &r.error, timeout);
        return r;
    }

    // The lines indi_getprop prints for `pattern` ("" when nothing matches).
    std::string List(const std::string& pattern, int timeoutSeconds = 1) {
        return Run(m_GetProp, {"-p", Port(), "-t", std::to_string(timeoutSeconds), pattern}).output;
    }

    // List's lines once each, sorted: a client may be sent a definition twice when its
    // getProperties crosses the driver's start, which INDI allows.
    std::string ListOnce(const std::string& pattern) {
        std::istringstream in(List(pattern));
        std::set<std::string> lines;
        for (std::string line; std::getline(in, line);) lines.insert(line);
        std::string out;
        for (const std::string& line : lines) out += line + "\n";
        return out;
    }

    // indi_setprop of one or more "device.property.element=value" assignments; true when sent.
    bool Set(const std::vector<std::string>& assignments) {
        std::vector<std::string> args{"-p", Port(), "-t", "5"};
        args.insert(args.end(), assignments.begin(), assignments.end());
        const RunResult r = Run(m_SetProp, args);
        EXPECT_EQ(r.status, 0) << r.error;
        return r.status == 0;
    }
    bool Set(const std::string& assignment) { return Set(std::vector<std::string>{assignment}); }

    // The value of one "device.property.element" ("" and a failure when it cannot be read).
    std::string Get(const std::string& name, int timeoutSeconds = 3) {
        const RunResult r = Run(m_GetProp, {"-p", Port(), "-t", std::to_string(timeoutSeconds), "-1", name});
        EXPECT_EQ(r.status, 0) << name << ": " << r.error;
        std::string v = r.output;
        while (!v.empty() && (v.back() == '\n' || v.back() == '\r')) v.pop_back();
        return v;
    }
    double GetNumber(const std::string& name) { return std::strtod(Get(name).c_str(), nullptr); }

    // indi_eval of `expr`; with `wait`, until it holds or `seconds` pass. True when it held.
    bool Eval(const std::string& expr, int seconds, bool wait = true) {
        std::vector<std::string> args{"-p", Port(), "-t", std::to_string(seconds)};
        if (wait) args.push_back("-w");
        args.push_back(expr);
        const RunResult r = Run(m_Eval, args, std::chrono::seconds(seconds + 10));
        return r.status == 0;
    }

    // "\"device.property.element\"" as indi_eval wants its operands.
    static std::string Q(const std::string& device, const std::string& rest) { return "\"" + device + "." + rest + "\""; }
    // The state of a property: Idle 0, Ok 1, Busy 2, Alert 3.
    static std::string StateIs(const std::string& device, const std::string& property, int state) {
        return Q(device, property + "._STATE") + "==" + std::to_string(state);
    }

    // Points the device at the simulator and connects it; true when CONNECTION went Ok.
    bool Connect(const std::string& device) {
        if (!Set(device + ".DEVICE_PORT.PORT=" + sim->ttyPath())) return false;
        if (!Set(device + ".CONNECTION.CONNECT=On")) return false;
        return Eval(Q(device, "CONNECTION.CONNECT") + "==1 && " + StateIs(device, "CONNECTION", 1), 15);
    }
    bool Disconnect(const std::string& device) {
        if (!Set(device + ".CONNECTION.DISCONNECT=On")) return false;
        // A device that let go shows CONNECTION Idle, as the stock drivers do.
        return Eval(Q(device, "CONNECTION.DISCONNECT") + "==1 && " + StateIs(device, "CONNECTION", 0), 10);
    }

    // Polls `get` until it returns `want` or `seconds` pass; the last value read.
    template <class F>
    static auto WaitFor(F get, decltype(get()) want, double seconds) {
        const auto deadline = Clock::now() + std::chrono::duration<double>(seconds);
        auto v = get();
        while (v != want && Clock::now() < deadline) {
            std::this_thread::sleep_for(100ms);
            v = get();
        }
        return v;
    }

    TempDir home;
    std::unique_ptr<SimProcess> sim;

private:
    std::string m_Server, m_GetProp, m_SetProp, m_Eval;
    std::vector<std::string> m_Env;
    std::string m_Main = kMain;
    int m_Port = 0;
    pid_t m_ServerPid = -1;
};

}  // namespace velq3::test
