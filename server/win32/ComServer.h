// The out-of-process server on Windows: the five class objects registered with COM for
// local-server activation and multiple use, the main thread's message loop in its
// single-threaded apartment, and the end of the process by the shutdown rule.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include <windows.h>

#include "drivers/DriverObject.h"
#include "server/CExeModule.h"

namespace velq3 {

class ComServer {
public:
    // `ctx` and `module` outlive this object, which lives on the main thread. `runMessageLoop`
    // runs the thread's message loop (the device's main loop) until a WM_QUIT arrives.
    ComServer(DriverContext& ctx, CExeModule& module, std::function<void()> runMessageLoop);
    ~ComServer();
    ComServer(const ComServer&) = delete;
    ComServer& operator=(const ComServer&) = delete;

    // CoRegisterClassObject(REGCLS_MULTIPLEUSE) for every class. S_OK or the first failure.
    HRESULT RegisterClassObjects();
    void RevokeClassObjects();

    // Runs the message loop until the shutdown rule ends it (`idleShutdown`) or Quit() is
    // called. At the end the class objects are revoked and messages are pumped a moment
    // longer, so that a client's last calls are answered; a client that created an object
    // meanwhile keeps the server: the classes are offered again and the loop goes on.
    void Run(bool idleShutdown);
    // Ends Run() from any thread (a WM_QUIT to the main thread).
    void Quit();

private:
    void PumpFor(DWORD milliseconds);

    DriverContext& m_Ctx;
    CExeModule& m_Module;
    std::function<void()> m_RunMessageLoop;
    const DWORD m_MainThread;
    std::vector<DWORD> m_Cookies;
};

} // namespace velq3
