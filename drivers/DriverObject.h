// The base of every driver object: the injected device object and main window, its identity as
// a link holder, and the steps all five drivers share (connection property, setup dialog).
#pragma once

#include <cstdint>

#include "automation/ComObject.h"
#include "automation/ErrorInfo.h"
#include "automation/ModuleLock.h"
#include "automation/TypeLibRegistration.h"
#include "device/ClientWindow.h"
#include "device/ConnectionSequence.h"
#include "device/OrnFilterWheel.h"

namespace velq3 {

// The surroundings of the driver objects, owned by the server and injected at creation.
struct DriverContext {
    OrnFilterWheel& fw;
    IClientWindow& window;
    TypeLibLoader& typeLib;
    ModuleLock& module;
};

inline HRESULT ResultOf(bool ok) { return ok ? S_OK : E_FAIL; }

template <class Itf>
class DriverObject : public DispatchObject<Itf> {
protected:
    DriverObject(DriverContext& ctx, const char* className, const char* progId)
        : DispatchObject<Itf>(ctx.typeLib), m_FW(ctx.fw), m_Window(ctx.window), m_ClassName(className),
          m_ProgId(progId) {}
    ~DriverObject() = default;

    // This object's identity in the device's set of link holders.
    ClientId Id() const { return m_Id; }

    // `Connected` / `Link` get: whether this object holds the link.
    HRESULT GetConnection(const char* member, VariantBool* value) {
        if (!value) return E_POINTER;
        *value = ToVariantBool(ConnectionState(m_FW, Id(), m_ClassName, member));
        return S_OK;
    }

    // `Connected` / `Link` put: the shared connection sequence with this class's mode test.
    HRESULT PutConnection(const char* member, VariantBool value, const ModeCondition& modeOk) {
        return ResultOf(RunConnectSequence(m_FW, Id(), RawValue(value), m_ClassName, member, modeOk, m_Window));
    }

    HRESULT ShowSetupDialog() {
        m_FW.Log("%s::SetupDialog()\n", m_ClassName);
        // A device failure like any other: E_FAIL, with the reason for the client to show.
        if (!m_Window.CanShowWindows())
            return ReportError(Itf::kIid, m_ProgId, "There is no display to show the setup dialog on", E_FAIL);
        m_Window.BringToFront();
        return S_OK;
    }

    // A reading `member` refused because the controller has not answered for too long: its
    // log line, and the error with its message.
    HRESULT NoAnswer(const char* member) const {
        m_FW.Log("%s::%s() no answer\n", m_ClassName, member);
        return ReportError(Itf::kIid, m_ProgId, kNoAnswerMessage, E_FAIL);
    }

    static HRESULT ReturnText(Bstr* value, const char* text) {
        if (!value) return E_POINTER;
        *value = Bstr(text);
        return S_OK;
    }

    OrnFilterWheel& m_FW;
    IClientWindow& m_Window;
    const char* m_ClassName;
    const char* m_ProgId;  // the source of the error information

private:
    const ClientId m_Id = NewClientId();
};

} // namespace velq3
