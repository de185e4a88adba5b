// Transport benchmarks: the round trip of a property get through the socket to a driver object
// on the server's loop thread and back, and the time from a client's start to its first answer
// when the activation has to start the server first (and, for comparison, when it runs).
#include <signal.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <future>
#include <thread>
#include <vector>

#include "automation/ClassTable.h"
#include "automation/RemoteClient.h"
#include "automation/TransportServer.h"
#include "common/SimProcess.h"
#include "drivers/DriverClasses.h"
#include "server/Registration.h"

#ifndef VELQ3_APPS_DIR
#error "VELQ3_APPS_DIR must name the folder of the programs"
#endif

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
using namespace velq3;

double Percentile(std::vector<double> v, double p) {
    std::sort(v.begin(), v.end());
    return v[static_cast<std::size_t>(p * static_cast<double>(v.size() - 1))];
}

int PropertyGetRoundTrip(int rounds) {
    test::TempDir dir;
    RegistryHive classes(dir.file("classes.reg"), kClassesRoot);
    std::ofstream(dir.file("velq3")) << "program";
    RegisterServer(classes, dir.file("velq3"));
    TypeLibLoader loader(VelqTypeLib(), classes);
    ModuleLock module;
    IClientWindow window;
    OrnFilterWheel fw(DeviceEnvironment{nullptr, nullptr, nullptr, [&](int) { return dir.file("none"); }});
    fw.SetSink([](std::string_view) {});
    DriverContext ctx{fw, window, loader, module};
    ClassTable table;
    PollMainLoop loop;
    std::thread mainThread([&] { loop.Run(); });
    const auto onLoop = [&](auto work) {
        std::packaged_task<void()> task(work);
        auto done = task.get_future();
        loop.PostTask([&] { task(); });
        done.get();
    };
    TransportServer server(table, loop, VelqTypeLib());
    onLoop([&] {
        ComPtr<IUnknown> factory;
        GetDriverClassObject(ctx, CLSID_Focuser, IID_IUnknown, factory.PutVoid());
        ClassTable::Cookie cookie;
        table.Register(CLSID_Focuser, factory.Get(), &cookie);
    });
    if (server.Start(dir.file("automation.sock")) != TransportServer::StartResult::Started) return 1;

    int status = 0;
    {
        std::shared_ptr<RemoteConnection> connection;
        ComPtr<IDispatch> focuser;
        if (Failed(RemoteConnection::Connect(dir.file("automation.sock"), &connection)) ||
            Failed(connection->CreateInstance(CLSID_Focuser, IID_IDispatch, focuser.PutVoid())))
            return 1;
        const char* name = "MaxIncrement";
        DISPID id = 0;
        focuser->GetIDsOfNames(IID_NULL, &name, 1, kLocaleEnglishUS, &id);
        const DispParams none;
        std::vector<double> us;
        for (int i = 0; i < rounds + 1000; ++i) {
            Variant value;
            const auto t0 = Clock::now();
            const HRESULT hr = focuser->Invoke(id, IID_NULL, kLocaleEnglishUS, DISPATCH_PROPERTYGET, &none, &value, nullptr, nullptr);
            const auto t1 = Clock::now();
            if (hr != S_OK || value != Variant(std::int32_t{5000})) {
                std::fprintf(stderr, "property get failed\n");
                status = 1;
                break;
            }
            if (i >= 1000) us.push_back(std::chrono::duration<double, std::micro>(t1 - t0).count());
        }
        if (status == 0) {
            const double median = Percentile(us, 0.5);
            std::printf("property get through the transport (%d rounds): median %.1f us, p90 %.1f us, p99 %.1f us "
                        "(target: median <= 100 us) %s\n",
                        rounds, median, Percentile(us, 0.9), Percentile(us, 0.99), median <= 100.0 ? "ok" : "MISSED");
        }
    }
    onLoop([&] {
        server.Stop();
        table.RevokeAll();
    });
    loop.Quit();
    mainThread.join();
    return status;
}

// Runs velq3-ctl once; returns the time to its first line of output, in ms (negative on failure).
double FirstAnswerMs(const std::vector<std::string>& env) {
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) return -1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    std::string program = std::string(VELQ3_APPS_DIR) + "/velq3-ctl";
    std::vector<std::string> args{program, "VELQ3.Rotator", "Name"};
    std::vector<char*> argv, envp;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<std::string> envCopy = env;
    for (auto& e : envCopy) envp.push_back(e.data());
    envp.push_back(nullptr);
    pid_t pid = -1;
    const auto t0 = Clock::now();
    const int rc = ::posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    double ms = -1;
    if (rc == 0) {
        char c = 0;
        while (::read(out[0], &c, 1) == 1)
            if (c == '\n') {
                ms = std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
                break;
            }
        ::waitpid(pid, nullptr, 0);
    }
    ::close(out[0]);
    return ms;
}

pid_t ServerPid(const std::string& home) {
    std::ifstream in(home + "/run/automation.sock.lock");
    pid_t pid = 0;
    in >> pid;
    return pid;
}

int ActivationStart(int rounds) {
    ::prctl(PR_SET_CHILD_SUBREAPER, 1);  // the servers the clients start become ours to end
    test::TempDir home;
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) env.emplace_back(*e);
    env.push_back("VELQ3_HOME=" + home.path());
    env.push_back("QT_QPA_PLATFORM=offscreen");
    {
        RegistryHive classes(home.path() + "/config/classes.reg", kClassesRoot);
        std::filesystem::create_directories(home.path() + "/config");
        RegisterServer(classes, std::string(VELQ3_APPS_DIR) + "/velq3");
    }
    std::vector<double> cold, warm;
    for (int i = 0; i < rounds; ++i) {
        const double c = FirstAnswerMs(env);
        const double w = FirstAnswerMs(env);
        const pid_t server = ServerPid(home.path());
        if (c < 0 || w < 0 || server <= 0) {
            std::fprintf(stderr, "activation failed\n");
            return 1;
        }
        cold.push_back(c);
        warm.push_back(w);
        ::kill(server, SIGTERM);
        ::waitpid(server, nullptr, 0);
    }
    std::printf("client start to first answer, server started by the activation (%d runs): median %.1f ms, max %.1f ms\n",
                rounds, Percentile(cold, 0.5), Percentile(cold, 1.0));
    std::printf("client start to first answer, server already running (%d runs): median %.1f ms, max %.1f ms\n",
                rounds, Percentile(warm, 0.5), Percentile(warm, 1.0));
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::atoi(argv[1]) : 20000;
    int status = PropertyGetRoundTrip(rounds);
    status |= ActivationStart(10);
    return status;
}
