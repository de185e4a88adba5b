// Late-bound calls through IDispatch driven by VELQLib: name lookup, get, put and method calls,
// argument checks and conversions, failures with error information, and the registration.
#include "automation/AutomationFixture.h"

namespace velq3::test {
namespace {

class DispatchTest : public AutomationTest {
protected:
    void SetUp() override {
        RegisterLibrary();
        focuser = NewFocuser(&impl);
    }
    ComPtr<IFocuser> focuser;
    FakeFocuser* impl = nullptr;
};

TEST_F(DispatchTest, TypeInfoIsTheInterfacesOwnAndOnlyAtIndexZero) {
    UINT count = 0;
    EXPECT_EQ(focuser->GetTypeInfoCount(&count), S_OK);
    EXPECT_EQ(count, 1u);
    EXPECT_EQ(focuser->GetTypeInfoCount(nullptr), E_POINTER);

    const TypeInfo* info = nullptr;
    ASSERT_EQ(focuser->GetTypeInfo(0, kLocaleEnglishUS, &info), S_OK);
    EXPECT_EQ(info->Name(), "IFocuser");
    EXPECT_EQ(info->Guid(), IFocuser::kIid);
    EXPECT_EQ(focuser->GetTypeInfo(1, kLocaleEnglishUS, &info), DISP_E_BADINDEX);
    EXPECT_EQ(info, nullptr);
    EXPECT_EQ(focuser->GetTypeInfo(0, kLocaleEnglishUS, nullptr), E_POINTER);
}

TEST_F(DispatchTest, NamesAreFoundWhateverTheirCase) {
    for (const char* name : {"Position", "position", "POSITION", "pOsItIoN"}) {
        DISPID id = 0;
        EXPECT_EQ(focuser->GetIDsOfNames(IID_NULL, &name, 1, 0, &id), S_OK) << name;
        EXPECT_EQ(id, 6) << name;
    }
    const char* move[] = {"move", "POSITION"};  // member, then its parameter
    DISPID ids[2] = {};
    EXPECT_EQ(focuser->GetIDsOfNames(IID_NULL, move, 2, 0, ids), S_OK);
    EXPECT_EQ(ids[0], 12);
    EXPECT_EQ(ids[1], 0);

    const char* unknown[] = {"Rotate", "Speed"};
    EXPECT_EQ(focuser->GetIDsOfNames(IID_NULL, unknown, 2, 0, ids), DISP_E_UNKNOWNNAME);
    EXPECT_EQ(ids[0], DISPID_UNKNOWN);
    const char* badParam[] = {"Move", "Speed"};
    EXPECT_EQ(focuser->GetIDsOfNames(IID_NULL, badParam, 2, 0, ids), DISP_E_UNKNOWNNAME);
    EXPECT_EQ(ids[0], 12);
    EXPECT_EQ(ids[1], DISPID_UNKNOWN);
    EXPECT_EQ(focuser->GetIDsOfNames(IID_IDispatch, unknown, 1, 0, ids), DISP_E_UNKNOWNINTERFACE);
}

TEST_F(DispatchTest, GetPutAndMethodCallsReachTheObject) {
    auto get = CallByName(focuser.Get(), "Position", DISPATCH_PROPERTYGET);
    EXPECT_EQ(get.hr, S_OK);
    EXPECT_EQ(get.result, Variant(std::int32_t{1234}));
    // Scripts ask for properties as method-or-get.
    get = CallByName(focuser.Get(), "stepsize", DISPATCH_METHOD | DISPATCH_PROPERTYGET);
    EXPECT_EQ(get.result, Variant(2.5));

    EXPECT_EQ(CallByName(focuser.Get(), "Link", DISPATCH_PROPERTYPUT, {Variant(VARIANT_TRUE)}).hr, S_OK);
    EXPECT_EQ(impl->link, VARIANT_TRUE);
    EXPECT_EQ(CallByName(focuser.Get(), "Link", DISPATCH_PROPERTYGET).result, Variant(VARIANT_TRUE));

    auto call = CallByName(focuser.Get(), "Move", DISPATCH_METHOD, {Variant(std::int32_t{10500})});
    EXPECT_EQ(call.hr, S_OK);
    EXPECT_TRUE(call.result.IsEmpty());
    EXPECT_EQ(CallByName(focuser.Get(), "SetupDialog", DISPATCH_METHOD).hr, S_OK);
    EXPECT_EQ(impl->setups, 1);

    // A result slot is optional.
    const DispParams none;
    EXPECT_EQ(focuser->Invoke(6, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, nullptr, nullptr, nullptr), S_OK);
}

TEST_F(DispatchTest, ArgumentsAreConvertedToTheDeclaredTypes) {
    EXPECT_EQ(CallByName(focuser.Get(), "Move", DISPATCH_METHOD, {Variant(Bstr("12000"))}).hr, S_OK);
    EXPECT_EQ(CallByName(focuser.Get(), "Move", DISPATCH_METHOD, {Variant(499.5)}).hr, S_OK);
    EXPECT_EQ(CallByName(focuser.Get(), "Move", DISPATCH_METHOD, {Variant(std::int16_t{-3})}).hr, S_OK);
    EXPECT_EQ(impl->moves, (std::vector<std::int32_t>{12000, 500, -3}));
    // An integer becomes a proper boolean; a boolean passes as it is.
    EXPECT_EQ(CallByName(focuser.Get(), "TempComp", DISPATCH_PROPERTYPUT, {Variant(std::int32_t{1})}).hr, S_OK);
    EXPECT_EQ(impl->tempComp, VARIANT_TRUE);
    EXPECT_EQ(CallByName(focuser.Get(), "TempComp", DISPATCH_PROPERTYPUT, {Variant(VariantBool(1))}).hr, S_OK);
    EXPECT_EQ(RawValue(impl->tempComp), 1);
}

TEST_F(DispatchTest, BadCallsGiveTheUsualDispatchErrors) {
    auto c = CallByName(focuser.Get(), "Move", DISPATCH_METHOD, {Variant(Bstr("far"))});
    EXPECT_EQ(c.hr, DISP_E_TYPEMISMATCH);
    EXPECT_EQ(c.argErr, 0u);
    EXPECT_EQ(CallByName(focuser.Get(), "Move", DISPATCH_METHOD, {Variant(1e12)}).hr, DISP_E_OVERFLOW);
    EXPECT_EQ(CallByName(focuser.Get(), "Move", DISPATCH_METHOD).hr, DISP_E_PARAMNOTOPTIONAL);
    EXPECT_EQ(CallByName(focuser.Get(), "Move", DISPATCH_METHOD, {Variant::Missing()}).hr, DISP_E_PARAMNOTOPTIONAL);
    EXPECT_EQ(CallByName(focuser.Get(), "Move", DISPATCH_METHOD, {Variant(1), Variant(2)}).hr, DISP_E_BADPARAMCOUNT);
    EXPECT_EQ(CallByName(focuser.Get(), "Halt", DISPATCH_METHOD, {Variant(1)}).hr, DISP_E_BADPARAMCOUNT);
    EXPECT_EQ(CallByName(focuser.Get(), "Position", DISPATCH_PROPERTYGET, {Variant(1)}).hr, DISP_E_BADPARAMCOUNT);
    EXPECT_EQ(CallByName(focuser.Get(), "Link", DISPATCH_PROPERTYPUT, {Variant(1), Variant(2)}).hr, DISP_E_BADPARAMCOUNT);
    // Read-only property put, a property called as a method only, a method read as a property.
    EXPECT_EQ(CallByName(focuser.Get(), "Position", DISPATCH_PROPERTYPUT, {Variant(1)}).hr, DISP_E_MEMBERNOTFOUND);
    EXPECT_EQ(CallByName(focuser.Get(), "Position", DISPATCH_METHOD).hr, DISP_E_MEMBERNOTFOUND);
    EXPECT_EQ(CallByName(focuser.Get(), "Halt", DISPATCH_PROPERTYGET).hr, DISP_E_MEMBERNOTFOUND);
    EXPECT_EQ(CallByName(focuser.Get(), "Link", DISPATCH_PROPERTYPUTREF, {Variant(VARIANT_TRUE)}).hr,
              DISP_E_MEMBERNOTFOUND);
    EXPECT_EQ(CallByName(focuser.Get(), "Nothing", DISPATCH_METHOD).hr, DISP_E_UNKNOWNNAME);
    const DispParams none;
    for (DISPID id : {0, 16, 99, -5})
        EXPECT_EQ(focuser->Invoke(id, IID_NULL, 0, DISPATCH_METHOD | DISPATCH_PROPERTYGET, &none, nullptr, nullptr,
                                  nullptr),
                  DISP_E_MEMBERNOTFOUND)
            << id;
    EXPECT_EQ(focuser->Invoke(6, IID_IUnknown, 0, DISPATCH_PROPERTYGET, &none, nullptr, nullptr, nullptr),
              DISP_E_UNKNOWNINTERFACE);
    EXPECT_TRUE(impl->moves.empty());
}

TEST_F(DispatchTest, NamedArguments) {
    EXPECT_EQ(CallByName(focuser.Get(), "Move", DISPATCH_METHOD, {Variant(77)}, {0}).hr, S_OK);
    EXPECT_EQ(impl->moves, std::vector<std::int32_t>{77});
    EXPECT_EQ(CallByName(focuser.Get(), "Move", DISPATCH_METHOD, {Variant(77)}, {3}).hr, DISP_E_PARAMNOTFOUND);
    EXPECT_EQ(CallByName(focuser.Get(), "Link", DISPATCH_PROPERTYPUT, {Variant(VARIANT_TRUE)}, {0}).hr,
              DISP_E_PARAMNOTFOUND);
    // A put without the named value is accepted.
    const DispParams plain{{Variant(VARIANT_TRUE)}, {}};
    EXPECT_EQ(focuser->Invoke(1, IID_NULL, 0, DISPATCH_PROPERTYPUT, &plain, nullptr, nullptr, nullptr), S_OK);
}

TEST_F(DispatchTest, AFailingMemberReportsAnExceptionWithItsErrorInfo) {
    auto halt = CallByName(focuser.Get(), "Halt", DISPATCH_METHOD);
    EXPECT_EQ(halt.hr, DISP_E_EXCEPTION);
    EXPECT_EQ(halt.excep.scode, DISP_E_EXCEPTION);
    EXPECT_EQ(halt.excep.description, "Not Supported");
    EXPECT_EQ(halt.excep.source, "Test.Focuser");
    EXPECT_FALSE(GetErrorInfo());  // taken into the exception

    // A plain failure carries its code and no description, even after an earlier error.
    ReportError(IID_IDispatch, "Stale", "Old news", E_FAIL);
    auto temp = CallByName(focuser.Get(), "Temperature", DISPATCH_PROPERTYGET);
    EXPECT_EQ(temp.hr, DISP_E_EXCEPTION);
    EXPECT_EQ(temp.excep.scode, E_FAIL);
    EXPECT_TRUE(temp.excep.description.empty());
    EXPECT_TRUE(temp.excep.source.empty());
}

TEST_F(AutomationTest, LateBindingNeedsTheRegisteredLibrary) {
    FakeFocuser* impl = nullptr;
    ComPtr<IFocuser> focuser = NewFocuser(&impl);
    const char* name = "Position";
    DISPID id = 0;
    EXPECT_EQ(focuser->GetIDsOfNames(IID_NULL, &name, 1, 0, &id), TYPE_E_LIBNOTREGISTERED);
    const DispParams none;
    EXPECT_EQ(focuser->Invoke(6, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, nullptr, nullptr, nullptr),
              TYPE_E_LIBNOTREGISTERED);
    const TypeInfo* info = nullptr;
    EXPECT_EQ(focuser->GetTypeInfo(0, 0, &info), TYPE_E_LIBNOTREGISTERED);
    // The interface's own table works all the same.
    std::int32_t pos = 0;
    EXPECT_EQ(focuser->get_Position(&pos), S_OK);
    EXPECT_EQ(pos, 1234);
    EXPECT_EQ(focuser->Move(5), S_OK);

    // Registered under a file that is gone: the library cannot be loaded.
    ASSERT_EQ(RegisterTypeLib(classes, VelqTypeLib(), dir.file("missing")), S_OK);
    EXPECT_EQ(focuser->GetIDsOfNames(IID_NULL, &name, 1, 0, &id), TYPE_E_CANTLOADLIBRARY);
    EXPECT_FALSE(loader.IsLoaded());

    RegisterLibrary();
    EXPECT_EQ(focuser->GetIDsOfNames(IID_NULL, &name, 1, 0, &id), S_OK);
    EXPECT_TRUE(loader.IsLoaded());
    // Once loaded, the library is kept for the life of the process.
    ASSERT_EQ(UnRegisterTypeLib(classes, VelqTypeLib()), S_OK);
    EXPECT_EQ(focuser->GetIDsOfNames(IID_NULL, &name, 1, 0, &id), S_OK);
}

} // namespace
} // namespace velq3::test
