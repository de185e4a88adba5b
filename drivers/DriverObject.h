// The base of every driver object: the injected device object and main window, its identity as
// a link holder, and the steps all five drivers share (connection property, setup dialog).
#pragma once

#include <cstdint>

#include "automation/ComObject.h"
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
    DriverObject(DriverContext& ctx, const char* className)
        : DispatchObject<Itf>(ctx.typeLib), m_FW(ctx.fw), m_Window(ctx.window), m_ClassName(className) {}
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
        m_Window.BringToFront();
        return S_OK;
    }

    static HRESULT ReturnText(Bstr* value, const char* text) {
        if (!value) return E_POINTER;
        *value = Bstr(text);
        return S_OK;
    }

    OrnFilterWheel& m_FW;
    IClientWindow& m_Window;
    const char* m_ClassName;

private:
    const ClientId m_Id = NewClientId();
};

} // namespace velq3
