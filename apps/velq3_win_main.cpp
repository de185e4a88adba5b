// velq3.exe: the device server on Windows. "/regserver" and "/unregserver" register and
// remove the classes, the type library and the ASCOM Chooser entries; started by COM for a
// client ("-Embedding") it offers the five class objects and runs the message loop until 5 s
// after its last client, showing the main window when a client's connection opens the port
// (ShowWindowOnConnect) or a client asks for the setup dialog; started by the operator it runs
// the main window and ends when the window closes. Both serve the Alpaca face beside the
// automation objects, as the Linux program does.
#include <windows.h>
#include <objbase.h>

#include <cstdio>
#include <cwchar>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "alpaca/AlpacaFace.h"
#include "automation/Bstr.h"
#include "automation/TypeLibRegistration.h"
#include "automation/VelqTypeLib.h"
#include "device/ClientWindow.h"
#include "device/OrnFilterWheel.h"
#include "platform/MainLoop.h"
#include "platform/Registry.h"
#include "server/CExeModule.h"
#include "server/CommandLine.h"
#include "server/win32/ComRegistration.h"
#include "server/win32/ComServer.h"
#include "service/DeviceService.h"
#include "service/Faces.h"
#include "ui/LookOptions.h"
#include "ui/win32/FilterWheelWindow.h"
#include "ui/win32/Win32Look.h"

#ifndef VELQ3_VERSION
#define VELQ3_VERSION "unknown"
#endif

namespace velq3::app {

namespace {

// Standard error of a program linked for the windows subsystem: the parent's console when it
// has one (a command prompt), else whatever handle the process inherited.
void AttachStandardError() {
    if (::GetStdHandle(STD_ERROR_HANDLE) != nullptr && ::GetStdHandle(STD_ERROR_HANDLE) != INVALID_HANDLE_VALUE) return;
    if (::AttachConsole(ATTACH_PARENT_PROCESS)) {
        std::FILE* f = nullptr;
        ::freopen_s(&f, "CONOUT$", "w", stderr);
        ::freopen_s(&f, "CONOUT$", "w", stdout);
    }
}

std::wstring ExecutablePath() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (n < path.size()) {
            path.resize(n);
            return path;
        }
        path.resize(path.size() * 2);
    }
}

void Usage() {
    std::printf("usage: velq3.exe [/regserver | /unregserver | /regserverperuser | -Embedding] [--night]\n"
               "                 [--scale PERCENT] [--help] [--version]\n"
               "  The filter wheel and focuser controller's automation server.\n"
               "  /regserver        register the classes, the type library and (as administrator) the\n"
               "                    ASCOM Chooser entries; without administrator rights: for this user\n"
               "  /regserverperuser register for this user only\n"
               "  /unregserver      remove the registration\n"
               "  -Embedding        started by an automation client: ends 5 s after its last client\n"
               "  Otherwise it runs the control window, serving automation and Alpaca clients beside\n"
               "  it, and ends when the window is closed.\n"
               "%s"
               "%s",
               ui::kLookOptionsUsage, alpaca::kAlpacaUsage);
}

int Registration(const CommandLineInfo& line) {
    RegistrationOptions options;
    options.executable = ExecutablePath();
    options.perUser = line.copy.find("/regserverperuser") != std::string::npos ||
                      line.copy.find("/unregserverperuser") != std::string::npos;
    const RegistrationResult result =
        line.registerServer ? RegisterComServer(options) : UnregisterComServer(options);
    for (const std::string& note : result.notes) std::fprintf(stderr, "velq3: %s\n", note.c_str());
    std::fflush(stderr);
    if (Failed(result.hr))
        std::fprintf(stderr, "velq3: the %s was not complete: error 0x%08X\n",
                     line.registerServer ? "registration" : "removal", static_cast<unsigned>(result.hr));
    // A registration run reports, but ends as a successful one (the platform's behaviour).
    return 0;
}

ComServer* g_Server = nullptr;

BOOL WINAPI OnConsoleEvent(DWORD) {
    if (g_Server) g_Server->Quit();
    return TRUE;
}

} // namespace

int Main(const std::vector<std::string>& args) {
    alpaca::AlpacaOptions alpacaOptions;
    ui::LookOptions lookOptions;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        std::string error;
        if (alpaca::ParseAlpacaOption(args, i, alpacaOptions, error)) {
            if (!error.empty()) {
                std::fprintf(stderr, "velq3: %s\n", error.c_str());
                return 2;
            }
            continue;
        }
        if (ui::ParseLookOption(args, i, lookOptions, error)) {
            if (!error.empty()) {
                std::fprintf(stderr, "velq3: %s\n", error.c_str());
                return 2;
            }
            continue;
        }
        if (a == "--help" || a == "-h") {
            Usage();
            return 0;
        }
        if (a == "--version") {
            std::puts("velq3 " VELQ3_VERSION);
            return 0;
        }
    }
    if (FAILED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {
        ::MessageBoxW(nullptr, L"OLE Initialization Failed!", L"velq3", MB_OK | MB_ICONERROR);
        return 1;
    }
    const CommandLineInfo line = ParseCommandLine(args);
    if (line.RegistrationRun()) return Registration(line);

    const bool forClient = line.embedding;

    int code = 0;
    {
        PollMainLoop loop;
        RegistryHive user = OpenCurrentUserHive();
        DeviceEnvironment env;
        env.userHive = &user;
        env.loop = &loop;
        OrnFilterWheel device(env);
        // The device service's headless poll keeps the status fresh (once a second) while no
        // window polls, as beside the Linux window.
        DeviceService deviceService(device, loop);
        deviceService.StartPoll();
        FaceRegistry faces;
        faces.Add("Alpaca", [&user, &loop, alpacaOptions](DeviceService& service) {
            auto face = std::make_shared<alpaca::AlpacaFace>(service, user, loop, alpacaOptions);
            std::function<void()> stop;
            if (face->Start() && face->Running()) stop = [face]() mutable { face.reset(); };
            return stop;
        });
        faces.StartAll(deviceService);

        CExeModule module;
        // The main window object lives as long as the device object's clients; its window
        // exists while the operator's run or a client's connection shows it.
        ui::CWin32FilterWheelDlg window(device, loop);
        // The night palette and the scale the operator chose last (per user), or this run's.
        ui::Win32Look look(&user);
        if (lookOptions.night) look.SetNight(true);
        if (lookOptions.scale) look.SetScale(*lookOptions.scale);
        window.SetLook(&look);
        TypeLibLoader typeLib(LIBID_VELQLib, 1, 0);
        DriverContext ctx{device, window, typeLib, module.LockCount()};
        ComServer server(ctx, module, [&loop] { loop.Run(); });
        if (HRESULT hr = server.RegisterClassObjects(); Failed(hr))
            std::fprintf(stderr, "velq3: the classes could not be offered to clients: error 0x%08X\n",
                         static_cast<unsigned>(hr));
        g_Server = &server;
        ::SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
        // The window's keyboard (Tab, Enter, Esc, the window keys) within the device's loop, which
        // also serves the automation and Alpaca clients while the window is up.
        loop.SetMessageFilter([&window](void* m) {
            HWND w = window.Window();
            return w && ::IsDialogMessageW(w, static_cast<MSG*>(m));
        });
        if (!forClient) {
            // The operator's process is its window: closing it ends the process.
            window.OnWindowGone = [&server] { server.Quit(); };
            if (!window.CreateModeless(nullptr)) {
                std::fputs("velq3: the window could not be created\n", stderr);
                code = 1;
                server.Quit();
            }
        }
        // Started by COM: the shutdown rule ends the process; the operator's process ends with
        // its window (or Ctrl+C).
        server.Run(forClient);
        window.OnWindowGone = nullptr;
        g_Server = nullptr;
        faces.StopAll();
        // The device object is destroyed here: it closes the port and saves the settings.
    }
    // No CoUninitialize: under Wine it can wait forever for a client's release that arrives
    // after the loop ended; the process ends, and COM's state with it.
    std::fflush(stdout);
    std::fflush(stderr);
    ::ExitProcess(static_cast<UINT>(code));
}

} // namespace velq3::app

int wmain(int argc, wchar_t** argv) {
    velq3::app::AttachStandardError();
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) args.push_back(velq3::Utf8FromWide(argv[i], std::wcslen(argv[i])));
    try {
        return velq3::app::Main(args);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "velq3: %s\n", e.what());
        std::fflush(stderr);
        return 1;
    }
}
