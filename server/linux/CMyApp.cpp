// The server's start-up and exit.
#include "server/CMyApp.h"

#include <cstdio>
#include <stdexcept>
#include <thread>

#include "automation/VelqTypeLib.h"
#include "drivers/DriverClasses.h"
#include "server/Registration.h"

namespace velq3 {

namespace {

const RegistryHive& RequireHive(const RegistryHive* hive) {
    if (!hive) throw std::invalid_argument("the server needs the classes-root hive");
    return *hive;
}

} // namespace

CMyApp::CMyApp(OrnFilterWheel& device, MainLoop& loop, ServerSettings settings, ServerHooks hooks)
    : m_Device(device),
      m_Loop(loop),
      m_Settings(std::move(settings)),
      m_Hooks(std::move(hooks)),
      m_Module(m_Settings.idleTimeout),
      m_TypeLib(VelqTypeLib(), RequireHive(m_Settings.classesRoot)),
      m_Context{m_Device, m_Window, m_TypeLib, m_Module.LockCount()},
      m_Transport(m_Classes, m_Loop, VelqTypeLib()) {}

CMyApp::~CMyApp() { ExitInstance(); }

void CMyApp::Report(const std::string& line) const {
    if (m_Settings.diagnostics) m_Settings.diagnostics(line);
    else std::fprintf(stderr, "velq3: %s\n", line.c_str());
}

bool CMyApp::InitInstance() {
    m_Started = true;
    // 1. The device object exists already and has loaded its settings.
    // 2, 3. The automation stand-in needs no initialisation of its own.
    // 4. The command line and the registration switches.
    m_CommandLine = ParseCommandLine(m_Settings.arguments);
    if (m_CommandLine.registerServer) {
        if (Failed(RegisterServer(*m_Settings.classesRoot, m_Settings.executable)))
            Report("the registration was not complete");
    } else if (m_CommandLine.unregisterServer) {
        UnregisterServer(*m_Settings.classesRoot);
    }
    // 5. The class objects, offered to clients (a registration run serves nobody).
    RegisterClassObjects();
    if (!m_CommandLine.RegistrationRun() && !StartTransport() && StartedForClient()) {
        // Nobody could ever reach this process, and it would never end by itself.
        m_ExitCode = 1;
        return false;
    }
    // 6. The main window object, without its window.
    if (m_Hooks.createMainWindow) m_Window.Set(m_Hooks.createMainWindow());
    // 7. The shutdown event and the monitor.
    m_Module.StartMonitor(m_Hooks.postQuit);
    // 8. Started for a client, or registering: only the message loop (which a registration
    // run ends at once).
    if (m_CommandLine.embedding || m_CommandLine.RegistrationRun()) return true;
    // 9. Started by the operator: the window, modally; its end is the end of the process.
    if (!m_Hooks.runModalWindow) return true;
    m_Hooks.runModalWindow();
    return false;
}

void CMyApp::RegisterClassObjects() {
    for (const DriverClass& c : DriverClasses()) {
        ComPtr<IUnknown> factory;
        if (Failed(GetDriverClassObject(m_Context, c.clsid, IID_IUnknown, factory.PutVoid()))) continue;
        ClassTable::Cookie cookie = 0;
        m_Classes.Register(c.clsid, factory.Get(), &cookie);
    }
}

bool CMyApp::StartTransport() {
    std::string error;
    const auto deadline = std::chrono::steady_clock::now() + m_Settings.socketWait;
    for (;;) {
        const auto result = m_Transport.Start(m_Settings.socketPath, &error);
        if (result == TransportServer::StartResult::Started) return true;
        // A server that is ending holds the socket a moment longer: a process started for a
        // client waits for it; the operator's process goes on without serving.
        if (result != TransportServer::StartResult::Busy || !StartedForClient() ||
            std::chrono::steady_clock::now() >= deadline)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    Report("automation clients cannot be served: " + error);
    return false;
}

int CMyApp::ExitInstance() {
    if (m_Exited || !m_Started) return m_ExitCode;
    m_Exited = true;
    m_Classes.RevokeAll();
    m_Transport.Stop();
    m_Module.StopMonitor();
    m_Window.Set(nullptr);
    return m_ExitCode;
}

int CMyApp::Run() {
    if (InitInstance() && !m_CommandLine.RegistrationRun() && m_Hooks.runMessageLoop) m_Hooks.runMessageLoop();
    return ExitInstance();
}

} // namespace velq3
