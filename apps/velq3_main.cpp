// velq3: the device server's program: the operator's control window over the one device object
// and, in the same process, the automation server and the device service with its network
// faces; --service runs them without a window; --simulate puts the controller simulator on COM1
// for the run, --port chooses the port for the run.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QSocketNotifier>
#include <QTimer>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "alpaca/AlpacaFace.h"
#include "automation/TransportPaths.h"
#include "device/OrnFilterWheel.h"
#include "platform/DebugSink.h"
#include "platform/PortMap.h"
#include "platform/Registry.h"
#include "platform/TimeScale.h"
#include "platform/UserPaths.h"
#include "server/CMyApp.h"
#include "server/CommandLine.h"
#include "server/HeadlessService.h"
#include "service/DeviceService.h"
#include "service/Faces.h"
#include "ui/LookOptions.h"
#include "ui/qt/FilterWheelDlg.h"
#include "ui/qt/NightPalette.h"
#include "ui/qt/QtMainLoop.h"
#include "ui/qt/QtPlatform.h"
#include "ui/qt/UiScale.h"

#ifndef VELQ3_VERSION
#define VELQ3_VERSION "unknown"
#endif

namespace velq3::app {

namespace fs = std::filesystem;

struct Options {
    bool simulate = false;
    bool connect = false;
    bool service = false;
    bool listPorts = false;
    std::optional<int> port;     // --port COMn, or the port a --port path was put on
    std::string portPath;        // --port /dev/...: the path that port stands for in this run
    ui::LookOptions look;        // --night, --scale PERCENT: the windows' look for this run
    alpaca::AlpacaOptions alpaca;
    TimeScaleSetting time;       // --service: sped-up calendar clock and timers (soak runs)
};

// The network faces of this process; each face adds its start function here. `hive` and `loop`
// belong to the owner thread; a face that cannot start leaves its reason in `problem`.
void AddFaces(FaceRegistry& faces, const Options& options, RegistryHive& hive, MainLoop& loop, std::string& problem) {
    faces.Add("Alpaca", [&hive, &loop, &problem, alpacaOptions = options.alpaca](DeviceService& service) {
        auto face = std::make_shared<alpaca::AlpacaFace>(service, hive, loop, alpacaOptions);
        std::function<void()> stop;
        if (!face->Start()) problem = face->Problem();
        else if (face->Running()) stop = [face]() mutable { face.reset(); };
        return stop;
    });
}

void Usage() {
    std::printf("usage: velq3 [--service] [--list-ports] [--simulate] [--port COMn|PATH] [--connect] [--night]\n"
              "             [--scale PERCENT] [--help] [--version]\n"
              "Runs the control window of the filter wheel and focuser controller.\n\n"
              "  --service    run without a window until SIGTERM or SIGINT (no display needed)\n"
              "  --list-ports print the ports (COMn, device path, presence, whether another program\n"
              "               holds it, stable by-id name) and exit (no display needed)\n"
              "  --simulate   start the controller simulator (velq3-sim) and put it on COM1 for this run\n"
              "  --port P     use port COMn, or the device path P, for this run (not stored)\n"
              "  --connect    press Connect as soon as the window is up; with --service: hold the\n"
              "               link from start to end\n"
              "%s"
              "  --help       show this text\n"
              "  --version    show the version\n"
              "  /regserver   register the automation classes for this user and end (/unregserver: remove them)\n"
              "  -Embedding   started by an automation client: no window, ends 5 s after its last client\n"
              "%s"
              "Per-user settings live under $VELQ3_HOME when it is set.\n",
              ui::kLookOptionsUsage, alpaca::kAlpacaUsage);
}

// The controller simulator as a child process on a pseudo-terminal, reachable through a
// symbolic link; it ends with this process (also when this process dies).
class SimulatedController {
public:
    SimulatedController() = default;
    ~SimulatedController() { Stop(); }
    SimulatedController(const SimulatedController&) = delete;
    SimulatedController& operator=(const SimulatedController&) = delete;

    // Starts `program` with its memory in `eeprom` and its terminal linked at `link`. On
    // failure returns a message.
    std::optional<std::string> Start(const fs::path& program, const fs::path& eeprom, const fs::path& link) {
        std::vector<std::string> args = {program.string(), "--eeprom", eeprom.string(), "--link", link.string()};
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        int out[2];
        if (::pipe2(out, O_CLOEXEC) != 0) return std::string("pipe: ") + std::strerror(errno);
        const pid_t parent = ::getpid();
        m_Pid = ::fork();
        if (m_Pid < 0) return std::string("fork: ") + std::strerror(errno);
        if (m_Pid == 0) {
            // Only async-signal-safe calls until exec.
            ::prctl(PR_SET_PDEATHSIG, SIGTERM);
            if (::getppid() != parent) ::_exit(1);
            ::dup2(out[1], STDOUT_FILENO);
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
        ::close(out[1]);
        const std::string tty = ReadLine(out[0], 5000);
        ::close(out[0]);
        if (tty.empty()) {
            Stop();
            return "the simulator " + program.string() + " did not start";
        }
        m_Path = fs::exists(link) ? link.string() : tty;
        return std::nullopt;
    }

    const std::string& Path() const { return m_Path; }

    void Stop() {
        if (m_Pid <= 0) return;
        ::kill(m_Pid, SIGTERM);
        int status = 0;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
        while (::waitpid(m_Pid, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > deadline) {
                ::kill(m_Pid, SIGKILL);
                ::waitpid(m_Pid, &status, 0);
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        m_Pid = -1;
    }

private:
    static std::string ReadLine(int fd, int timeoutMs) {
        std::string line;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
            pollfd p{fd, POLLIN, 0};
            if (left <= 0 || ::poll(&p, 1, static_cast<int>(left)) <= 0) return {};
            char c = 0;
            if (::read(fd, &c, 1) != 1) return {};
            if (c == '\n') return line;
            line += c;
        }
    }

    pid_t m_Pid = -1;
    std::string m_Path;
};

// Standard error of a server started for a client is this file (see the activation); it is
// rotated at this size, keeping the previous one as server.log.1.
constexpr std::uint64_t kServerLogMaxBytes = 1u << 20;

// The main window object as the drivers see it: without a display (Qt's offscreen platform)
// no window can be shown, so that a client's setup dialog fails at once instead of waiting for
// an operator who cannot see it.
class DriverWindow final : public IClientWindow {
public:
    void Set(IClientWindow* window, bool display) {
        m_Window = window;
        m_Display = display;
    }
    void ShowForClient() override { if (m_Window) m_Window->ShowForClient(); }
    void HideForClient() override { if (m_Window) m_Window->HideForClient(); }
    void BringToFront() override { if (m_Window) m_Window->BringToFront(); }
    bool CanShowWindows() const override { return m_Display; }

private:
    IClientWindow* m_Window = nullptr;
    bool m_Display = true;
};

// SIGINT and SIGTERM close the window the orderly way, so that the settings are saved.
int g_SignalPipe[2] = {-1, -1};

void OnSignal(int) {
    const char c = 1;
    (void)!::write(g_SignalPipe[1], &c, 1);
}

// The start-up sequence of the program: platform, simulator, application, main loop, settings,
// device object, window. The automation server's start-up joins it between the device object
// and the window.
// Starts the simulator when asked; false (after a line on standard error) when it did not start.
bool StartSimulator(SimulatedController& sim, const Options& options) {
    if (!options.simulate) return true;
    try {
        const fs::path self = fs::read_symlink("/proc/self/exe");
        const fs::path link = RuntimeDir() / ("sim-tty-" + std::to_string(::getpid()));
        if (auto error = sim.Start(self.parent_path() / "velq3-sim", DataDir() / "sim-eeprom.bin", link)) {
            std::fprintf(stderr, "velq3: %s\n", error->c_str());
            return false;
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "velq3: %s\n", e.what());
        return false;
    }
    std::fprintf(stderr, "velq3: simulated controller on COM1 (%s)\n", sim.Path().c_str());
    return true;
}

// Device path of port n in this run: the simulator or a --port path on its port, else the
// per-user table.
std::function<std::string(int)> PortPaths(RegistryHive& hive, const SimulatedController& sim, const Options& options) {
    return [&hive, simPath = sim.Path(), options](int n) {
        if (!simPath.empty() && n == 1) return simPath;
        if (!options.portPath.empty() && options.port && n == *options.port) return options.portPath;
        return DevicePathForPort(n, [&hive](int k) { return hive.GetString(kSettingsKey, "SerialDevice" + std::to_string(k)); });
    };
}

// The folder of stable port names: $VELQ3_BY_ID_DIR when set (tests), else udev's.
fs::path ByIdDir() {
    const char* dir = std::getenv("VELQ3_BY_ID_DIR");
    return dir && *dir ? fs::path(dir) : kDefaultByIdDir;
}

// velq3 --list-ports: the port table, read without Qt and without a display.
int ListPorts(const Options& options) {
    RegistryHive hive = OpenCurrentUserHive();
    const SimulatedController noSimulator;
    const auto paths = PortPaths(hive, noSimulator, options);
    const fs::path byIdDir = ByIdDir();
    std::vector<PortInfo> ports;
    for (int n = kFirstPortNumber; n <= kLastPortNumber; ++n) ports.push_back(DescribePort(n, paths(n), byIdDir));
    std::fputs(FormatPortTable(ports).c_str(), stdout);
    for (const auto& port : ports)
        if (port.use == PortUse::NoPermission)
            std::fprintf(stderr, "velq3: %s: %s\n", port.name.c_str(), PermissionMessage(port.configured).c_str());
    return std::fflush(stdout) == 0 ? 0 : 1;
}

// The automation server's settings shared by every mode.
ServerSettings MakeServerSettings(const std::vector<std::string>& arguments, RegistryHive& classes) {
    ServerSettings settings;
    settings.arguments = arguments;
    settings.classesRoot = &classes;
    try {
        settings.executable = fs::read_symlink("/proc/self/exe");
    } catch (const std::exception& e) {
        std::fprintf(stderr, "velq3: %s\n", e.what());
    }
    // Without a runtime folder of its own the process serves no automation client (an empty
    // socket path leaves the transport off) rather than put its socket anywhere else.
    try {
        settings.socketPath = DefaultSocketPath();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "velq3: automation clients cannot be served: %s; set VELQ3_HOME or "
                             "XDG_RUNTIME_DIR to a folder of your own\n", e.what());
    }
    return settings;
}

// velq3 --service: no Qt at all; the poll loop on the main thread.
int StartService(int argc, char** argv, const Options& options) {
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    SimulatedController sim;
    if (!StartSimulator(sim, options)) return 1;
    // Sped-up time: the calendar clock and every timer period of the loop by the same factor,
    // so that the temperature log's five-second ticks keep their place in the calendar.
    PollMainLoop loop(options.time.factor);
    std::optional<ScaledCalendarClock> scaledClock;
    if (options.time.Active()) {
        scaledClock.emplace(options.time.start.value_or(std::time(nullptr)), options.time.factor);
        const std::tm start = scaledClock->LocalNow();
        char when[32];
        std::strftime(when, sizeof when, "%Y-%m-%d %H:%M:%S", &start);
        std::fprintf(stderr, "velq3: time runs %g times as fast; the calendar clock shows %s\n", options.time.factor, when);
    }
    RegistryHive hive = OpenCurrentUserHive();
    DeviceEnvironment env;
    env.userHive = &hive;
    env.loop = &loop;
    if (scaledClock) env.clock = &*scaledClock;
    env.portPath = PortPaths(hive, sim, options);
    env.byIdDir = ByIdDir();
    OrnFilterWheel device(env);

    RegistryHive classes = OpenClassesRootHive();
    HeadlessSettings settings;
    settings.server = MakeServerSettings(arguments, classes);
    settings.connect = options.connect;
    settings.portForRun = options.port;
    settings.onReady = [] { std::fprintf(stderr, "velq3: serving without a window; SIGTERM or SIGINT ends the service\n"); };
    FaceRegistry faces;
    std::string faceProblem;
    AddFaces(faces, options, hive, loop, faceProblem);
    HeadlessService service(device, loop, std::move(settings), faces);
    return service.Run();
}

int StartUp(int& argc, char** argv, const Options& options) {
    ui::UseOffscreenWithoutDisplay();
    const std::vector<std::string> arguments(argv + 1, argv + argc);  // before Qt takes its own

    SimulatedController sim;
    if (!StartSimulator(sim, options)) return 1;

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("velq3"));
    // The process ends by the shutdown rule or by the operator's window, never because some
    // window (one opened for a client, a setup dialog) was the last to close.
    QApplication::setQuitOnLastWindowClosed(false);
    const QString platform = QGuiApplication::platformName();
    const bool display = platform != QLatin1String("offscreen") && platform != QLatin1String("minimal");
    ui::QtMainLoop loop;
    RegistryHive hive = OpenCurrentUserHive();
    ui::ApplyUiScale(options.look.scale.value_or(ui::LoadUiScale(hive)));
    ui::NightMode night(&hive);
    night.Set(options.look.night || ui::NightMode::Stored(hive));

    DeviceEnvironment env;
    env.userHive = &hive;
    env.loop = &loop;
    env.portPath = PortPaths(hive, sim, options);
    env.byIdDir = ByIdDir();
    OrnFilterWheel device(env);
    const std::int32_t storedPort = device.ComPort;
    if (options.port) device.ComPort = *options.port;

    // The device service and the network faces, beside the window; its poll stays silent
    // while the window polls.
    DeviceService deviceService(device, loop);
    deviceService.StartPoll();
    FaceRegistry faces;
    std::string faceProblem;
    AddFaces(faces, options, hive, loop, faceProblem);
    // A registration run ends as soon as it has written the registration: it serves nothing.
    if (!ParseCommandLine(arguments).RegistrationRun()) faces.StartAll(deviceService);

    // The automation server's start-up: registration switches, class objects, the window
    // object, the shutdown monitor; then the window (operator) or the message loop (client).
    RegistryHive classes = OpenClassesRootHive();
    ServerSettings settings = MakeServerSettings(arguments, classes);
    std::optional<ui::CFilterWheelDlg> window;
    DriverWindow driverWindow;
    ServerHooks hooks;
    hooks.createMainWindow = [&]() -> IClientWindow* {
        window.emplace(device, loop);
        if (!faceProblem.empty()) window->SetTitleNote(QString::fromStdString(faceProblem));
        window->SetUiScaleStore([&hive](int percent) {
            if (!ui::SaveUiScale(hive, percent)) std::fprintf(stderr, "velq3: the scale could not be stored\n");
        });
        driverWindow.Set(&*window, display);
        return &driverWindow;
    };
    hooks.runModalWindow = [&] {
        if (options.connect) QTimer::singleShot(0, &*window, [&window] { window->OnConnect(); });
        window->RunModal();
    };
    hooks.runMessageLoop = [] { QApplication::exec(); };
    // Ends every event loop of the GUI thread, a modal window's included.
    hooks.postQuit = [&loop] { loop.PostTask([] { QCoreApplication::exit(0); }); };
    CMyApp server(device, loop, std::move(settings), std::move(hooks));

    std::unique_ptr<QSocketNotifier> signalNotifier;
    if (::pipe2(g_SignalPipe, O_CLOEXEC | O_NONBLOCK) == 0) {
        signalNotifier = std::make_unique<QSocketNotifier>(g_SignalPipe[0], QSocketNotifier::Read);
        QObject::connect(signalNotifier.get(), &QSocketNotifier::activated, &app, [&window, &server] {
            char c;
            while (::read(g_SignalPipe[0], &c, 1) > 0) {}
            // The operator's window closes the orderly way; any other process leaves its loop.
            if (window && window->WindowExists() && !server.StartedForClient()) window->OnExit();
            else QCoreApplication::exit(0);
        });
        struct sigaction sa {};
        sa.sa_handler = OnSignal;
        ::sigaction(SIGINT, &sa, nullptr);
        ::sigaction(SIGTERM, &sa, nullptr);
    }

    const int code = server.Run();
    faces.StopAll();
    // A port chosen for this run is not stored, unless the operator chose another meanwhile.
    if (options.port && device.ComPort == *options.port) device.ComPort = storedPort;
    return code;
}

}  // namespace velq3::app

int main(int argc, char** argv) {
    // A closed standard error (or output) must not end the server under its clients before
    // it saved its settings: writes there fail instead, and the debug channel never waits.
    ::signal(SIGPIPE, SIG_IGN);
    velq3::ProcessDebugChannel().MakeNonBlocking();
    try {
        velq3::ProcessDebugChannel().RotateAt(velq3::DefaultServerLogPath(), velq3::app::kServerLogMaxBytes);
    } catch (const std::exception&) {
        // No data folder: standard error is no log file of ours.
    }
    velq3::app::Options options;
    std::optional<std::string> portArg;
    const std::vector<std::string> args(argv, argv + argc);
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& a = args[i];
        std::string error;
        if (velq3::alpaca::ParseAlpacaOption(args, i, options.alpaca, error)) {
            if (!error.empty()) {
                std::fprintf(stderr, "velq3: %s\n", error.c_str());
                return 2;
            }
            continue;
        }
        if (velq3::ui::ParseLookOption(args, i, options.look, error)) {
            if (!error.empty()) {
                std::fprintf(stderr, "velq3: %s\n", error.c_str());
                return 2;
            }
            continue;
        }
        if (a == "--help" || a == "-h") {
            velq3::app::Usage();
            return 0;
        }
        if (a == "--version") {
            std::puts("velq3 " VELQ3_VERSION);
            return 0;
        }
        if (a == "--simulate") {
            options.simulate = true;
        } else if (a == "--connect") {
            options.connect = true;
        } else if (a == "--service") {
            options.service = true;
        } else if (a == "--list-ports") {
            options.listPorts = true;
        } else if (a == "--port") {
            if (i + 1 >= args.size()) {
                std::fprintf(stderr, "velq3: --port needs COMn or a device path\n");
                return 2;
            }
            portArg = args[++i];
        } else if (a.rfind("--", 0) == 0) {
            std::fprintf(stderr, "velq3: unknown option %s\n", a.c_str());
            velq3::app::Usage();
            return 2;
        }
    }
    if (portArg) {
        const std::string& port = *portArg;
        if (auto n = velq3::ParsePortName(port)) {
            options.port = n;
        } else if (!port.empty() && port[0] == '/') {
            // The path stands for the port whose table entry it is, else for COM1 (COM2 when
            // the simulator is on COM1).
            options.portPath = port;
            options.port = options.simulate ? 2 : 1;
            for (int n = velq3::kFirstPortNumber; n <= velq3::kLastPortNumber; ++n)
                if (velq3::DevicePathForPort(n) == port && !(options.simulate && n == 1)) options.port = n;
        } else {
            std::fprintf(stderr, "velq3: --port %s: expected COM1..COM16 or a device path\n", port.c_str());
            return 2;
        }
    } else if (options.service && options.simulate) {
        options.port = 1;  // the service has no window to choose the simulator's port in
    }
    if (options.listPorts) return velq3::app::ListPorts(options);
    if (options.service) {
        // Sped-up time for soak runs; the service's loop and clock are the only ones it scales.
        std::string error;
        const auto time = velq3::ReadTimeScale(velq3::ProcessEnvironment(), error);
        if (!time) {
            std::fprintf(stderr, "velq3: %s\n", error.c_str());
            return 2;
        }
        options.time = *time;
        return velq3::app::StartService(argc, argv, options);
    }
    return velq3::app::StartUp(argc, argv, options);
}
