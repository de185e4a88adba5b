// The rig of the fault matrix: one simulated controller behind a symbolic link (the way a USB
// adapter's stable name points at its current device), one `velq3 --service` that serves the
// automation transport and the Alpaca face, and the two kinds of client: velq3-ctl fed one
// operation a line, and an HTTP client. It measures the CPU time of the server and of the
// client over each call.
#pragma once

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>

#include "common/AnnouncedPort.h"
#include "alpaca/AlpacaClient.h"
#include "e2e/E2eFixture.h"

namespace velq3::test {

// User plus system CPU time of process `pid` so far, in milliseconds (from /proc: the server is
// not a child this process waits for). A process that is gone counts 0; its file is read with
// read(2), since a stream's read error on a vanishing /proc file throws from deep in the library.
inline double ProcessCpuMs(pid_t pid) {
    std::string text;
    const int fd = ::open(("/proc/" + std::to_string(pid) + "/stat").c_str(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
        char buf[1024];
        ssize_t n;
        while ((n = ::read(fd, buf, sizeof buf)) > 0) text.append(buf, static_cast<std::size_t>(n));
        ::close(fd);
    }
    const auto close = text.rfind(')');
    if (close == std::string::npos) return 0.0;
    std::istringstream rest(text.substr(close + 2));
    std::string field;
    unsigned long long utime = 0, stime = 0;
    // Fields 3..13 come before utime (14) and stime (15).
    for (int i = 3; i <= 13 && rest >> field; ++i) {
    }
    rest >> utime >> stime;
    return static_cast<double>(utime + stime) * 1000.0 / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

inline double SelfCpuMs() {
    rusage u{};
    ::getrusage(RUSAGE_SELF, &u);
    return (u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1e3 + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e3;
}

// Wall and CPU time of one call: the server's, and the client's (velq3-ctl or this process).
struct CallCost {
    double wallMs = 0;
    double serverCpuMs = 0;
    double clientCpuMs = 0;
};

class CostMeter {
public:
    CostMeter(pid_t server, pid_t client)
        : m_Server(server), m_Client(client), m_Start(Clock::now()), m_ServerCpu(ProcessCpuMs(server)),
          m_ClientCpu(ClientCpu()) {}
    CallCost Stop() const {
        CallCost c;
        c.wallMs = std::chrono::duration<double, std::milli>(Clock::now() - m_Start).count();
        c.serverCpuMs = ProcessCpuMs(m_Server) - m_ServerCpu;
        c.clientCpuMs = ClientCpu() - m_ClientCpu;
        return c;
    }

private:
    double ClientCpu() const { return m_Client > 0 ? ProcessCpuMs(m_Client) : SelfCpuMs(); }

    pid_t m_Server;
    pid_t m_Client;
    Clock::time_point m_Start;
    double m_ServerCpu;
    double m_ClientCpu;
};

class FaultRig : public E2eTest {
protected:
    // Starts the controller in device mode `mode` behind the link, writes the settings (the link
    // as COM1, short filter time-outs) and starts the service with the Alpaca face on a free port.
    // `automation`: register the server's classes for velq3-ctl.
    void StartRig(int mode, int filterTimeoutMs, std::vector<std::string> simArgs, bool automation) {
        link = home.file("velq3-usb");
        for (const char* a : {"--mode", "", "--link", "", "--replug-ms", "300", "--seed", "7"}) simArgs.push_back(a);
        simArgs[simArgs.size() - 7] = std::to_string(mode);
        simArgs[simArgs.size() - 5] = link;
        StartController(simArgs);
        RegistryHive user(CurrentUserHivePath(HomeLookup()), kCurrentUserRoot);
        user.Load();
        user.SetString(kSettingsKey, "SerialDevice1", link);
        user.SetDword(kSettingsKey, "ChangeFilterTimeoutMs", static_cast<std::uint32_t>(filterTimeoutMs));
        user.SetDword(kSettingsKey, "AscomPreferredTermometer", 0);
        ASSERT_TRUE(user.Save());
        // Fixed readings, so that a wrong one shows.
        sim->control("set temp 0 1234");
        sim->control("set temp 1 1234");
        if (automation) Register();
        outFile = home.file("velq3.out");
        server = Start(Program("velq3"), {"--service", "--alpaca-port", "0"},
                       {.pipeInput = false, .outputFile = outFile, .errorFile = home.file("velq3.err")});
        const auto deadline = Clock::now() + 15s;
        while (Clock::now() < deadline && AnnouncedPort() == 0) std::this_thread::sleep_for(10ms);
        ASSERT_NE(AnnouncedPort(), 0) << Text(outFile) << Text(home.file("velq3.err"));
        ASSERT_TRUE(WaitListening(server->Pid()));
        http = std::make_unique<AlpacaClient>(AnnouncedPort());
    }

    static std::string Text(const std::string& file) { return FileText(file); }
    std::uint16_t AnnouncedPort() const { return AnnouncedAlpacaPort(outFile); }

    // velq3-ctl on `progId`, fed one operation per line.
    void StartCtl(const std::string& progId) {
        ctl = Start(Program("velq3-ctl"), {progId, "-"}, {.pipeInput = true, .outputFile = "", .errorFile = home.file("ctl.err")});
    }
    // One operation through velq3-ctl: its output line ("" when none came within `timeout`).
    std::string Ctl(const std::string& op, std::chrono::milliseconds timeout) {
        ctl->Write(op + "\n");
        return ctl->ReadLine(timeout);
    }

    std::string link;
    std::string outFile;
    std::unique_ptr<Process> server;
    std::unique_ptr<Process> ctl;
    std::unique_ptr<AlpacaClient> http;
};

}  // namespace velq3::test
