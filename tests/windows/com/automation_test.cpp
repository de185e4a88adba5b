// The automation layer on real COM and OLE, in process under Wine: the class objects' aggregation
// rules, the interfaces each object answers, IDispatch over the registered type library (and
// what fails without it), error information, and strings and arrays as the system's own types.
#include <gtest/gtest.h>

#include <windows.h>
#include <objbase.h>
#include <oleauto.h>

#include <string>
#include <vector>

#include "automation/Bstr.h"
#include "automation/SafeArray.h"
#include "automation/TypeLibRegistration.h"
#include "automation/VelqTypeLib.h"
#include "device/ClientWindow.h"
#include "device/OrnFilterWheel.h"
#include "drivers/DriverClasses.h"
#include "server/CExeModule.h"

namespace velq3 {
namespace {

class NoWindow final : public IClientWindow {
public:
    bool CanShowWindows() const override { return false; }
};

// An outer object for the aggregation cases: it only counts references.
class Outer final : public IUnknown {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** object) override {
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++m_Refs; }
    ULONG STDMETHODCALLTYPE Release() override { return --m_Refs; }

private:
    ULONG m_Refs = 1;
};

std::wstring ModulePath() {
    wchar_t path[MAX_PATH];
    const DWORD n = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    return std::wstring(path, n);
}

class AutomationTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_TRUE(SUCCEEDED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))); }

    // VELQLib from this program's own resource, registered for this user for the test.
    static void RegisterLibrary() {
        ITypeLib* lib = nullptr;
        ASSERT_EQ(::LoadTypeLibEx(ModulePath().c_str(), REGKIND_NONE, &lib), S_OK);
        std::wstring path = ModulePath();
        ASSERT_EQ(::RegisterTypeLib(lib, path.data(), nullptr), S_OK);
        lib->Release();
    }
    static void UnregisterLibrary() { ::UnRegisterTypeLib(LIBID_VELQLib, 1, 0, 0x409, SYS_WIN64); }

    ComPtr<IUnknown> Create(const CLSID& clsid, IUnknown* outer = nullptr, const IID& iid = IID_IUnknown) {
        ComPtr<IUnknown> object;
        m_LastResult = CreateDriver(m_Ctx, clsid, outer, iid, object.PutVoid());
        return object;
    }

    OrnFilterWheel m_Device;
    NoWindow m_Window;
    CExeModule m_Module;
    TypeLibLoader m_TypeLib{LIBID_VELQLib, 1, 0};
    DriverContext m_Ctx{m_Device, m_Window, m_TypeLib, m_Module.LockCount()};
    HRESULT m_LastResult = S_OK;
};

TEST_F(AutomationTest, ClassObjectsApplyTheAggregationRules) {
    struct Case {
        CLSID clsid;
        bool aggregatable;
    };
    const Case cases[] = {{CLSID_Focuser, true}, {CLSID_Focuser2, true}, {CLSID_FilterWheel, false},
                          {CLSID_Rotator, false}, {CLSID_Dome, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(FormatGuid(c.clsid));
        Outer outer;
        ComPtr<IUnknown> inner = Create(c.clsid, &outer, IID_IUnknown);
        EXPECT_EQ(m_LastResult, c.aggregatable ? S_OK : CLASS_E_NOAGGREGATION);
        EXPECT_EQ(static_cast<bool>(inner), c.aggregatable);
        inner.Reset();
        Create(c.clsid, &outer, IID_IDispatch);
        EXPECT_EQ(m_LastResult, CLASS_E_NOAGGREGATION);
    }
    EXPECT_EQ(m_Module.LockCount().Count(), 0) << "every object was released";
}

TEST_F(AutomationTest, ObjectsAnswerExactlyTheirFourInterfaces) {
    for (const DriverClass& c : DriverClasses()) {
        SCOPED_TRACE(std::string(c.progId));
        ComPtr<IUnknown> object = Create(c.clsid);
        ASSERT_EQ(m_LastResult, S_OK);
        for (const IID* iid : {&IID_IUnknown, &c.iid, &IID_IDispatch, &IID_ISupportErrorInfo}) {
            ComPtr<IUnknown> other;
            EXPECT_EQ(object->QueryInterface(*iid, other.PutVoid()), S_OK);
        }
        for (const IID* iid : {&IID_IClassFactory, &IID_IErrorInfo, &IID_IPersist}) {
            void* other = reinterpret_cast<void*>(1);
            EXPECT_EQ(object->QueryInterface(*iid, &other), E_NOINTERFACE);
            EXPECT_EQ(other, nullptr);
        }
        ComPtr<ISupportErrorInfo> sei;
        ASSERT_EQ(object.As(sei), S_OK);
        EXPECT_EQ(sei->InterfaceSupportsErrorInfo(c.iid), S_OK);
        EXPECT_EQ(sei->InterfaceSupportsErrorInfo(IID_IDispatch), S_FALSE);
    }
}

// Late binding needs the registered library; the interface's own table does not.
TEST_F(AutomationTest, LateBindingWorksOnlyWithTheRegisteredLibrary) {
    UnregisterLibrary();
    ComPtr<IUnknown> object = Create(CLSID_Rotator);
    ComPtr<IRotator> rotator;
    ASSERT_EQ(object.As(rotator), S_OK);
    Bstr name;
    EXPECT_EQ(rotator->get_Name(&name), S_OK);
    EXPECT_EQ(name.str(), "Orn Rotator");
    std::wstring wide = L"Name";
    LPOLESTR names[] = {wide.data()};
    DISPID id = 0;
    EXPECT_EQ(rotator->GetIDsOfNames(IID_NULL, names, 1, 0, &id), TYPE_E_LIBNOTREGISTERED);

    RegisterLibrary();
    ASSERT_EQ(rotator->GetIDsOfNames(IID_NULL, names, 1, 0, &id), S_OK);
    EXPECT_EQ(id, 8);
    DISPPARAMS none{};
    VARIANT result;
    ::VariantInit(&result);
    ASSERT_EQ(rotator->Invoke(id, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &result, nullptr, nullptr), S_OK);
    ASSERT_EQ(result.vt, VT_BSTR);
    EXPECT_STREQ(result.bstrVal, L"Orn Rotator");
    ::VariantClear(&result);

    UINT count = 0;
    EXPECT_EQ(rotator->GetTypeInfoCount(&count), S_OK);
    EXPECT_EQ(count, 1u);
    ITypeInfo* info = reinterpret_cast<ITypeInfo*>(1);
    EXPECT_EQ(rotator->GetTypeInfo(1, 0, &info), DISP_E_BADINDEX);
    EXPECT_EQ(info, nullptr);
    ASSERT_EQ(rotator->GetTypeInfo(0, 0, &info), S_OK);
    TYPEATTR* attr = nullptr;
    ASSERT_EQ(info->GetTypeAttr(&attr), S_OK);
    EXPECT_TRUE(attr->guid == IRotator::kIid);
    info->ReleaseTypeAttr(attr);
    info->Release();
    UnregisterLibrary();
}

// A failing member: DISP_E_EXCEPTION from Invoke with the member's error information.
TEST_F(AutomationTest, HaltFailsWithItsErrorInformation) {
    RegisterLibrary();
    ComPtr<IUnknown> object = Create(CLSID_Focuser);
    ComPtr<IDispatch> dispatch;
    ASSERT_EQ(object.As(dispatch), S_OK);
    DISPPARAMS none{};
    EXCEPINFO excep{};
    ASSERT_EQ(dispatch->Invoke(11, IID_NULL, 0, DISPATCH_METHOD, &none, nullptr, &excep, nullptr), DISP_E_EXCEPTION);
    if (excep.pfnDeferredFillIn) excep.pfnDeferredFillIn(&excep);
    EXPECT_STREQ(excep.bstrDescription, L"Not Supported");
    EXPECT_STREQ(excep.bstrSource, L"VELQ3.Focuser");
    ::SysFreeString(excep.bstrDescription);
    ::SysFreeString(excep.bstrSource);
    ::SysFreeString(excep.bstrHelpFile);
    UnregisterLibrary();
}

// Strings and arrays are the system's own: a BSTR of UTF-16 and SAFEARRAYs of BSTR and of
// 32-bit integers with lower bound 0, as .NET clients cast them.
TEST_F(AutomationTest, StringsAndArraysAreSystemTypes) {
    struct Case {
        const char* bytes;
        const wchar_t* text;
    };
    const Case texts[] = {{"Ha", L"Ha"}, {"\xB5m", L"\u00B5m"}, {"\xC2\xB5m", L"\u00B5m"}, {"OIII\0xx", L"OIII"}};
    for (const Case& c : texts) {
        const Bstr b = Bstr::FromDeviceText(std::string_view(c.bytes, std::char_traits<char>::length(c.bytes) + 3));
        EXPECT_STREQ(b.Get(), c.text);
        EXPECT_EQ(::SysStringLen(b.Get()), std::wcslen(c.text));
    }
    SafeArray<Bstr> names(std::vector<Bstr>{Bstr("L"), Bstr("R")});
    VARTYPE vt = VT_EMPTY;
    ASSERT_EQ(::SafeArrayGetVartype(names.Get(), &vt), S_OK);
    EXPECT_EQ(vt, VT_BSTR);
    LONG lo = -1, hi = -1;
    ::SafeArrayGetLBound(names.Get(), 1, &lo);
    ::SafeArrayGetUBound(names.Get(), 1, &hi);
    EXPECT_EQ(lo, 0);
    EXPECT_EQ(hi, 1);
    EXPECT_EQ(::SafeArrayGetDim(names.Get()), 1u);
    SafeArray<std::int32_t> none;
    ASSERT_NE(none.Get(), nullptr) << "an empty array, never a null one";
    ::SafeArrayGetVartype(none.Get(), &vt);
    EXPECT_EQ(vt, VT_I4);
    ::SafeArrayGetUBound(none.Get(), 1, &hi);
    EXPECT_EQ(hi, -1);
}

} // namespace
} // namespace velq3
