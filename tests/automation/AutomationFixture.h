// Test helpers for the automation stand-in: a classes-root hive with its type-library loader, a
// module lock, a device-less focuser that records what reaches it, and late-bound call helpers.
#pragma once

#include <fstream>
#include <gtest/gtest.h>

#include "automation/ComObject.h"
#include "automation/ErrorInfo.h"
#include "automation/VelqTypeLib.h"
#include "common/SimProcess.h"

namespace velq3::test {

class FakeFocuser : public DispatchObject<IFocuser> {
public:
    explicit FakeFocuser(TypeLibLoader& typeLib) : DispatchObject(typeLib) {}

    HRESULT get_Link(VariantBool* v) override { *v = link; return S_OK; }
    HRESULT put_Link(VariantBool v) override { link = v; return S_OK; }
    HRESULT get_Absolute(VariantBool* v) override { *v = VARIANT_TRUE; return S_OK; }
    HRESULT get_IsMoving(VariantBool* v) override { *v = VARIANT_FALSE; return S_OK; }
    HRESULT get_MaxIncrement(std::int32_t* v) override { *v = 5000; return S_OK; }
    HRESULT get_MaxStep(std::int32_t* v) override { *v = 30000; return S_OK; }
    HRESULT get_Position(std::int32_t* v) override { *v = position; return S_OK; }
    HRESULT get_StepSize(double* v) override { *v = 2.5; return S_OK; }
    HRESULT get_TempComp(VariantBool* v) override { *v = VARIANT_FALSE; return S_OK; }
    HRESULT put_TempComp(VariantBool v) override { tempComp = v; return S_OK; }
    HRESULT get_TempCompAvailable(VariantBool* v) override { *v = VARIANT_TRUE; return S_OK; }
    HRESULT get_Temperature(double* v) override { *v = -3.5; return E_FAIL; }  // fails without error info
    HRESULT Halt() override { return ReportError(IFocuser::kIid, "Test.Focuser", "Not Supported", DISP_E_EXCEPTION); }
    HRESULT Move(std::int32_t p) override {
        moves.push_back(p);
        return S_OK;
    }
    HRESULT SetupDialog() override {
        ++setups;
        return S_OK;
    }

    VariantBool link = VARIANT_FALSE;
    VariantBool tempComp = VARIANT_FALSE;
    std::int32_t position = 1234;
    std::vector<std::int32_t> moves;
    int setups = 0;
};

// An outer object that aggregates an inner one, as a client building on a focuser would.
class Outer final : public IUnknown {
public:
    HRESULT QueryInterface(const IID& iid, void** object) override {
        if (iid == IID_IUnknown) {
            *object = static_cast<IUnknown*>(this);
            AddRef();
            return S_OK;
        }
        return inner ? inner->QueryInterface(iid, object) : E_NOINTERFACE;
    }
    ULONG AddRef() override { return ++refs; }
    ULONG Release() override { return --refs; }

    IUnknown* inner = nullptr;  // the inner object's own IUnknown
    ULONG refs = 1;
};

class AutomationTest : public ::testing::Test {
protected:
    // Registers VELQLib under a file that exists.
    void RegisterLibrary() {
        const std::string path = dir.file("velq3");
        std::ofstream(path) << "library";
        ASSERT_EQ(RegisterTypeLib(classes, VelqTypeLib(), path), S_OK);
    }

    // A new stand-alone fake focuser holding one reference.
    ComPtr<IFocuser> NewFocuser(FakeFocuser** impl = nullptr) {
        auto* obj = new ComObject<FakeFocuser>(module, loader);
        if (impl) *impl = obj;
        ComPtr<IFocuser> p;
        EXPECT_EQ(obj->QueryInterface(IFocuser::kIid, p.PutVoid()), S_OK);
        return p;
    }

    TempDir dir;
    RegistryHive classes{dir.file("classes.reg"), kClassesRoot};
    TypeLibLoader loader{VelqTypeLib(), classes};
    ModuleLock module;
};

// One late-bound call by name, as a script makes it.
struct LateCall {
    HRESULT hr = E_UNEXPECTED;
    Variant result;
    ExcepInfo excep;
    UINT argErr = 999;
};

inline LateCall CallByName(IDispatch* d, const char* name, WORD flags, std::vector<Variant> args = {},
                           std::vector<DISPID> named = {}) {
    LateCall c;
    DISPID id = DISPID_UNKNOWN;
    c.hr = d->GetIDsOfNames(IID_NULL, &name, 1, kLocaleEnglishUS, &id);
    if (Failed(c.hr)) return c;
    if ((flags & DISPATCH_PROPERTYPUT) && named.empty()) named = {DISPID_PROPERTYPUT};
    const DispParams params{std::move(args), std::move(named)};
    c.hr = d->Invoke(id, IID_NULL, kLocaleEnglishUS, flags, &params, &c.result, &c.excep, &c.argErr);
    return c;
}

} // namespace velq3::test
