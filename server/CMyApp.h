// The application object: the start-up sequence of the server process (command line,
// registration, class objects, main window object, shutdown monitor, then the window or the
// message loop) and its exit (class objects revoked, clients' objects released).
#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "automation/ClassTable.h"
#include "automation/TransportServer.h"
#include "automation/TypeLibRegistration.h"
#include "device/ClientWindow.h"
#include "device/OrnFilterWheel.h"
#include "drivers/DriverObject.h"
#include "server/CExeModule.h"
#include "server/CommandLine.h"

namespace velq3 {

// What the program around the server provides: its window and its loop.
struct ServerHooks {
    // Creates the main window object bound to the device object (not its window). It must
    // live until the CMyApp is gone. Empty or null: the drivers' window calls do nothing.
    std::function<IClientWindow*()> createMainWindow;
    // Runs the main window modally for the operator; returns when it is closed. Empty: the
    // process has no window and runs its message loop instead (until the quit or a signal).
    std::function<void()> runModalWindow;
    // Runs the main thread's message loop until a quit is posted.
    std::function<void()> runMessageLoop;
    // Ends the message loop and a modal window that runs; called from any thread.
    std::function<void()> postQuit;
};

struct ServerSettings {
    std::vector<std::string> arguments;  // the command line after the program name
    std::filesystem::path executable;    // full path, for the registration
    RegistryHive* classesRoot = nullptr; // registrations and the type library's; required
    std::filesystem::path socketPath;    // the transport's socket
    std::chrono::milliseconds idleTimeout = kIdleTimeout;
    // How long a process started for a client waits for a server that is ending to free the
    // socket before it gives up.
    std::chrono::milliseconds socketWait{3000};
    // Receives one line per problem; default: standard error with the program's name.
    std::function<void(std::string_view)> diagnostics;
};

class CMyApp {
public:
    // `device` exists before start-up and outlives this object; `loop` is the main thread's.
    // Throws std::invalid_argument without a classes-root hive.
    CMyApp(OrnFilterWheel& device, MainLoop& loop, ServerSettings settings, ServerHooks hooks);
    ~CMyApp();
    CMyApp(const CMyApp&) = delete;
    CMyApp& operator=(const CMyApp&) = delete;

    // The start-up sequence. True when the message loop is to run: started for a client,
    // a registration run (whose loop ends at once) or an operator start without a window.
    // False when the operator's window has been closed, or when a process started for a
    // client cannot serve.
    bool InitInstance();
    // Revokes the class objects, stops the transport (releasing what clients held) and the
    // monitor. Returns the exit code; idempotent.
    int ExitInstance();
    // InitInstance, the message loop when it asks for one, ExitInstance.
    int Run();

    const CommandLineInfo& CommandLine() const { return m_CommandLine; }
    bool StartedForClient() const { return m_CommandLine.embedding && !m_CommandLine.RegistrationRun(); }
    CExeModule& Module() { return m_Module; }
    ClassTable& Classes() { return m_Classes; }
    TransportServer& Transport() { return m_Transport; }
    DriverContext& Context() { return m_Context; }

private:
    // The drivers' window: the main window object once it exists, nothing before.
    class MainWindowSlot final : public IClientWindow {
    public:
        void Set(IClientWindow* window) { m_Window = window; }
        void ShowForClient() override { if (m_Window) m_Window->ShowForClient(); }
        void HideForClient() override { if (m_Window) m_Window->HideForClient(); }
        void BringToFront() override { if (m_Window) m_Window->BringToFront(); }
        bool CanShowWindows() const override { return !m_Window || m_Window->CanShowWindows(); }

    private:
        IClientWindow* m_Window = nullptr;
    };

    void RegisterClassObjects();
    bool StartTransport();
    void Report(const std::string& line) const;

    OrnFilterWheel& m_Device;
    MainLoop& m_Loop;
    ServerSettings m_Settings;
    ServerHooks m_Hooks;
    CommandLineInfo m_CommandLine;
    CExeModule m_Module;
    MainWindowSlot m_Window;
    TypeLibLoader m_TypeLib;
    DriverContext m_Context;
    ClassTable m_Classes;
    TransportServer m_Transport;  // last: stopped before the class objects and the module go
    bool m_Started = false;
    bool m_Exited = false;
    int m_ExitCode = 0;
};

} // namespace velq3
