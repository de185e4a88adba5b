// Class-object registration, the message loop and the exit of the server process.
#include "server/win32/ComServer.h"

#include <objbase.h>

#include "drivers/DriverClasses.h"

namespace velq3 {

namespace {

// How long messages are pumped after the class objects are revoked: a client's release that
// was on its way is answered before the process ends.
constexpr DWORD kFinalPumpMs = 200;

} // namespace

ComServer::ComServer(DriverContext& ctx, CExeModule& module, std::function<void()> runMessageLoop)
    : m_Ctx(ctx), m_Module(module), m_RunMessageLoop(std::move(runMessageLoop)), m_MainThread(::GetCurrentThreadId()) {}

ComServer::~ComServer() { RevokeClassObjects(); }

HRESULT ComServer::RegisterClassObjects() {
    HRESULT first = S_OK;
    for (const DriverClass& c : DriverClasses()) {
        IUnknown* factory = nullptr;
        HRESULT hr = GetDriverClassObject(m_Ctx, c.clsid, IID_IUnknown, reinterpret_cast<void**>(&factory));
        DWORD cookie = 0;
        if (Succeeded(hr)) {
            hr = ::CoRegisterClassObject(c.clsid, factory, CLSCTX_LOCAL_SERVER, REGCLS_MULTIPLEUSE, &cookie);
            factory->Release();  // COM holds its own reference while the class is registered
        }
        if (Succeeded(hr)) m_Cookies.push_back(cookie);
        else if (Succeeded(first)) first = hr;
    }
    return first;
}

void ComServer::RevokeClassObjects() {
    for (DWORD cookie : m_Cookies) ::CoRevokeClassObject(cookie);
    m_Cookies.clear();
}

void ComServer::Quit() { ::PostThreadMessageW(m_MainThread, WM_QUIT, 0, 0); }

void ComServer::PumpFor(DWORD milliseconds) {
    const ULONGLONG end = ::GetTickCount64() + milliseconds;
    for (;;) {
        MSG msg;
        while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) continue;
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        }
        const ULONGLONG now = ::GetTickCount64();
        if (now >= end) return;
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(end - now), QS_ALLINPUT);
    }
}

void ComServer::Run(bool idleShutdown) {
    for (;;) {
        if (idleShutdown) m_Module.StartMonitor([this] { Quit(); });
        m_RunMessageLoop();
        m_Module.StopMonitor();
        RevokeClassObjects();
        PumpFor(kFinalPumpMs);
        // Ended by the operator, or nobody came back meanwhile: the process ends.
        if (!idleShutdown || !m_Module.QuitPosted() || m_Module.LockCount().Count() == 0) return;
        RegisterClassObjects();
    }
}

} // namespace velq3
