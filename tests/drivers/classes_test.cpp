// The five driver classes as clients create them: identities, aggregation rules, the interfaces
// each object answers, the module lock, and late binding without the library's registration.
#include "drivers/DriverFixture.h"

namespace velq3::test {
namespace {

class ClassesTest : public DriverTest {
protected:
    void SetUp() override {
        DriverTest::SetUp();
        MakeFw();
    }
};

TEST_F(ClassesTest, ObjectMapNamesEveryClass) {
    const auto classes = DriverClasses();
    ASSERT_EQ(classes.size(), 5u);
    EXPECT_EQ(classes[0].progId, "VELQ3.Focuser");
    EXPECT_EQ(classes[4].progId, "VELQ3.Focuser2");
    const DriverClass* rotator = FindDriverClassByProgId("VELQ3.Rotator");
    ASSERT_TRUE(rotator);
    EXPECT_EQ(FormatGuid(rotator->clsid), "{0E8237AF-A456-4575-AC6C-EE91E0F1C5C6}");
    EXPECT_EQ(rotator->progIdName, "Rotator Class");
    EXPECT_EQ(rotator->clsidName, "RotatorImpl Class");
    EXPECT_EQ(rotator->scriptResource, 108);
    for (const DriverClass& c : classes) {
        const CoClassInfo* coclass = VelqTypeLib().FindCoClass(c.clsid);
        ASSERT_TRUE(coclass) << c.progId;
        EXPECT_EQ(coclass->name, c.coclass);
        EXPECT_EQ(coclass->defaultInterface, c.iid);
        EXPECT_EQ(FindDriverClass(c.clsid), &c);
    }
    EXPECT_FALSE(FindDriverClassByProgId("VELQ3.Telescope"));
    void* p = nullptr;
    EXPECT_EQ(CreateDriver(Ctx(), IID_IDispatch, nullptr, IID_IUnknown, &p), CLASS_E_CLASSNOTAVAILABLE);
}

TEST_F(ClassesTest, OnlyTheFocusersCanBeAggregated) {
    Outer outer;
    for (const DriverClass& c : DriverClasses()) {
        void* inner = reinterpret_cast<void*>(1);
        const HRESULT hr = CreateDriver(Ctx(), c.clsid, &outer, IID_IUnknown, &inner);
        EXPECT_EQ(hr, c.aggregatable ? S_OK : CLASS_E_NOAGGREGATION) << c.progId;
        EXPECT_EQ(inner != nullptr, c.aggregatable) << c.progId;
        void* refused = nullptr;
        EXPECT_EQ(CreateDriver(Ctx(), c.clsid, &outer, c.iid, &refused), CLASS_E_NOAGGREGATION) << c.progId;
        if (hr == S_OK) {
            outer.inner = static_cast<IUnknown*>(inner);
            ComPtr<IFocuser> focuser;
            ASSERT_EQ(outer.QueryInterface(IFocuser::kIid, focuser.PutVoid()), S_OK);
            EXPECT_EQ(focuser->SetupDialog(), S_OK);
            focuser.Reset();
            EXPECT_EQ(outer.inner->Release(), 0u);
            outer.inner = nullptr;
        }
    }
    EXPECT_EQ(window.fronts, 2);
    EXPECT_EQ(module.Count(), 0);
}

// Without a display there is no window to bring up: a plain failure (E_FAIL, as every device
// failure) whose error information names the object's ProgID; nothing waits for a window.
TEST_F(ClassesTest, SetupDialogWithoutADisplayFailsWithTheProgIdAsSource) {
    window.display = false;
    for (const DriverClass& c : DriverClasses()) {
        SCOPED_TRACE(c.progId);
        ComPtr<IDispatch> object;
        ASSERT_EQ(CreateDriver(Ctx(), c.clsid, nullptr, IID_IDispatch, object.PutVoid()), S_OK);
        const LateCall late = LateCallMethod(object.Get(), "SetupDialog");
        EXPECT_EQ(late.hr, DISP_E_EXCEPTION);
        EXPECT_EQ(late.excep.scode, E_FAIL);
        EXPECT_EQ(late.excep.source, c.progId);
        EXPECT_NE(late.excep.description.str().find("no display"), std::string::npos) << late.excep.description.str();
        EXPECT_EQ(CountLines(std::string(c.implementation) + "::SetupDialog()\n"), 1);
    }
    EXPECT_EQ(window.fronts, 0);
}

TEST_F(ClassesTest, EachObjectAnswersItsFourInterfaces) {
    int zeroes = 0;
    module.SetZeroHook([&] { ++zeroes; });
    std::vector<ComPtr<IUnknown>> objects;
    for (const DriverClass& c : DriverClasses()) {
        ComPtr<IUnknown> object;
        ASSERT_EQ(CreateDriver(Ctx(), c.clsid, nullptr, IID_IUnknown, object.PutVoid()), S_OK);
        for (const IID& iid : {IID_IUnknown, IID_IDispatch, IID_ISupportErrorInfo, c.iid}) {
            ComPtr<IUnknown> other;
            EXPECT_EQ(object->QueryInterface(iid, other.PutVoid()), S_OK) << c.progId << FormatGuid(iid);
        }
        for (const IID& iid : {IID_IClassFactory, IFilterWheel::kIid, IRotator::kIid, IDome::kIid, IFocuser::kIid}) {
            if (iid == c.iid) continue;
            void* p = reinterpret_cast<void*>(1);
            EXPECT_EQ(object->QueryInterface(iid, &p), E_NOINTERFACE) << c.progId << FormatGuid(iid);
            EXPECT_EQ(p, nullptr);
        }
        ComPtr<ISupportErrorInfo> sei;
        ASSERT_EQ(object.As(sei), S_OK);
        EXPECT_EQ(sei->InterfaceSupportsErrorInfo(c.iid), S_OK) << c.progId;
        EXPECT_EQ(sei->InterfaceSupportsErrorInfo(IID_IDispatch), S_FALSE) << c.progId;
        objects.push_back(object);
    }
    EXPECT_EQ(module.Count(), 5);
    objects.clear();
    EXPECT_EQ(module.Count(), 0);
    EXPECT_EQ(zeroes, 1);
}

TEST_F(ClassesTest, LateBindingFailsWithoutTheRegisteredLibraryWhileTheTableWorks) {
    RegistryHive empty{dir.file("empty.reg"), kClassesRoot};
    TypeLibLoader unregistered{VelqTypeLib(), empty};
    DriverContext bare{*fw, window, unregistered, module};
    ComPtr<IRotator> rotator;
    ASSERT_EQ(CreateDriver(bare, CLSID_Rotator, nullptr, IRotator::kIid, rotator.PutVoid()), S_OK);
    EXPECT_EQ(CallByName(rotator.Get(), "InterfaceVersion", DISPATCH_PROPERTYGET).hr, TYPE_E_LIBNOTREGISTERED);
    const TypeInfo* info = nullptr;
    EXPECT_EQ(rotator->GetTypeInfo(0, 0, &info), TYPE_E_LIBNOTREGISTERED);
    EXPECT_EQ(rotator->GetTypeInfo(1, 0, &info), DISP_E_BADINDEX);
    std::int16_t version = 0;
    EXPECT_EQ(rotator->get_InterfaceVersion(&version), S_OK);
    EXPECT_EQ(version, 1);
}

TEST_F(ClassesTest, AReleasedHolderKeepsTheLinkOpen) {
    StartSim({});
    auto wheel = Create<IFilterWheel>(CLSID_FilterWheel);
    ASSERT_EQ(wheel->put_Connected(VARIANT_TRUE), S_OK);
    wheel.Reset();
    EXPECT_TRUE(fw->IsOpen());
    EXPECT_EQ(fw->ClientSet.size(), 1u);
}

} // namespace
} // namespace velq3::test
