// VELQLib as declared, and its registration keys in the classes-root hive.
#include <fstream>

#include "automation/AutomationFixture.h"

namespace velq3::test {
namespace {

TEST(VelqTypeLibTest, LibraryIdentity) {
    const TypeLib& lib = VelqTypeLib();
    EXPECT_EQ(lib.name, "VELQLib");
    EXPECT_EQ(FormatGuid(lib.libid), "{181202A3-A1F3-4287-9D85-A166A769E015}");
    EXPECT_EQ(lib.majorVersion, 1);
    EXPECT_EQ(lib.minorVersion, 0);
    EXPECT_EQ(lib.lcid, 1033u);
    ASSERT_EQ(lib.coclasses.size(), 5u);
    const CoClassInfo* focuser2 = lib.FindCoClass(GuidLiteral("{8B73F205-A1F3-434E-97E0-EE6D2B7E8D16}"));
    ASSERT_TRUE(focuser2);
    EXPECT_EQ(focuser2->name, "Focuser2");
    EXPECT_EQ(focuser2->defaultInterface, IFocuser::kIid);
    EXPECT_EQ(lib.FindCoClass(GuidLiteral("{0E8237BF-A456-4575-AC6C-EE91E0F1C5C8}"))->defaultInterface, IDome::kIid);
}

// Dispatch ids count from 1 in declaration order, a property's get and put sharing one; each
// help string is the kind and the name.
TEST(VelqTypeLibTest, MembersInDispatchOrderWithHelpStrings) {
    const struct {
        IID iid;
        std::size_t members;
    } expected[] = {{IFilterWheel::kIid, 5}, {IFocuser::kIid, 13}, {IRotator::kIid, 17}, {IDome::kIid, 32}};
    for (const auto& e : expected) {
        const TypeInfo* info = VelqTypeLib().FindInterface(e.iid);
        ASSERT_TRUE(info);
        DISPID last = 0;
        std::string lastName;
        for (const FuncDesc& f : info->Funcs()) {
            if (f.name == lastName) {
                EXPECT_EQ(f.memid, last) << f.name;  // get and put of one property
            } else {
                EXPECT_EQ(f.memid, last + 1) << info->Name() << "." << f.name;
            }
            last = f.memid;
            lastName = f.name;
            const std::string kind = f.invkind == DISPATCH_METHOD ? "method " : "property ";
            EXPECT_EQ(f.helpString, kind + f.name);
            ASSERT_NE(f.thunk, nullptr);
        }
        EXPECT_EQ(static_cast<std::size_t>(last), e.members) << info->Name();
    }
    std::string name, help;
    const TypeInfo* rotator = VelqTypeLib().FindInterface(IRotator::kIid);
    ASSERT_EQ(rotator->GetDocumentation(16, &name, &help), S_OK);
    EXPECT_EQ(name, "MoveAbsolute");
    EXPECT_EQ(help, "method MoveAbsolute");
    EXPECT_EQ(rotator->GetDocumentation(18, &name, &help), TYPE_E_ELEMENTNOTFOUND);
    const FuncDesc* reverse = rotator->FindFunc(10, DISPATCH_PROPERTYPUT);
    ASSERT_TRUE(reverse);
    EXPECT_EQ(reverse->params.at(0).type, VT_BOOL);
    EXPECT_EQ(rotator->FindFunc(12, DISPATCH_PROPERTYGET)->resultType, VT_ARRAY | VT_BSTR);
    EXPECT_EQ(VelqTypeLib().FindInterface(IFilterWheel::kIid)->FindFunc(4, DISPATCH_PROPERTYGET)->resultType, VT_I2);
}

using RegistrationTest = AutomationTest;

TEST_F(RegistrationTest, WritesAndRemovesTheLibraryAndInterfaceKeys) {
    ASSERT_EQ(RegisterTypeLib(classes, VelqTypeLib(), "/opt/velq3/bin/velq3", ""), S_OK);
    const std::string lib = "TypeLib\\{181202A3-A1F3-4287-9D85-A166A769E015}\\1.0";
    EXPECT_EQ(classes.GetString(lib + "\\409\\win32", ""), "/opt/velq3/bin/velq3");
    EXPECT_EQ(classes.GetString(lib + "\\FLAGS", ""), "0");
    EXPECT_EQ(classes.GetString(lib + "\\HELPDIR", ""), "");
    const std::string itf = "Interface\\{135C30B1-A1F3-4787-BAF8-9BACF1C6DE3D}";
    EXPECT_EQ(classes.GetString(itf, ""), "IFocuser");
    EXPECT_EQ(classes.GetString(itf + "\\ProxyStubClsid32", ""), "{00020424-0000-0000-C000-000000000046}");
    EXPECT_EQ(classes.GetString(itf + "\\TypeLib", ""), "{181202A3-A1F3-4287-9D85-A166A769E015}");
    EXPECT_EQ(classes.GetString(itf + "\\TypeLib", "Version"), "1.0");

    // Another library's claim on an interface survives the unregistration.
    classes.SetString("Interface\\{66A6F8D6-A1F3-44A6-98A3-72B3C6CDA13E}\\TypeLib", "", "{00000000-0000-0000-0000-000000000001}");
    ASSERT_EQ(UnRegisterTypeLib(classes, VelqTypeLib()), S_OK);
    EXPECT_FALSE(classes.KeyExists("TypeLib\\{181202A3-A1F3-4287-9D85-A166A769E015}"));
    EXPECT_FALSE(classes.KeyExists(itf));
    EXPECT_TRUE(classes.KeyExists("Interface\\{66A6F8D6-A1F3-44A6-98A3-72B3C6CDA13E}"));
    EXPECT_EQ(UnRegisterTypeLib(classes, VelqTypeLib()), TYPE_E_LIBNOTREGISTERED);
}

TEST_F(RegistrationTest, LoadFindsVersionAndLocale) {
    const TypeLib* loaded = nullptr;
    EXPECT_EQ(LoadRegTypeLib(classes, VelqTypeLib(), 1, 0, 1033, &loaded), TYPE_E_LIBNOTREGISTERED);
    RegisterLibrary();
    EXPECT_EQ(LoadRegTypeLib(classes, VelqTypeLib(), 1, 0, 1033, &loaded), S_OK);
    EXPECT_EQ(loaded, &VelqTypeLib());
    EXPECT_EQ(LoadRegTypeLib(classes, VelqTypeLib(), 1, 0, 0x407, &loaded), TYPE_E_LIBNOTREGISTERED);
    EXPECT_EQ(LoadRegTypeLib(classes, VelqTypeLib(), 2, 0, 1033, &loaded), TYPE_E_LIBNOTREGISTERED);
    EXPECT_EQ(LoadRegTypeLib(classes, VelqTypeLib(), 1, 1, 1033, &loaded), TYPE_E_LIBNOTREGISTERED);
    EXPECT_EQ(loaded, nullptr);

    const TypeInfo* info = nullptr;
    EXPECT_EQ(loader.GetTypeInfoOfGuid(IDome::kIid, &info), S_OK);
    EXPECT_EQ(info->Name(), "IDome");
    EXPECT_EQ(loader.GetTypeInfoOfGuid(IID_IDispatch, &info), TYPE_E_ELEMENTNOTFOUND);
}

TEST_F(RegistrationTest, ARegistrationMadeByAnotherProcessIsFoundOnTheNextTry) {
    // The server's copy of the classes hive was read before the registration existed.
    const TypeInfo* info = nullptr;
    EXPECT_EQ(loader.GetTypeInfoOfGuid(IFocuser::kIid, &info), TYPE_E_LIBNOTREGISTERED);

    // Another process registers and saves the hive file.
    RegistryHive other(classes.File(), kClassesRoot);
    const std::string path = dir.file("velq3");
    std::ofstream(path) << "library";
    ASSERT_EQ(RegisterTypeLib(other, VelqTypeLib(), path), S_OK);
    ASSERT_TRUE(other.Save());

    ASSERT_EQ(loader.GetTypeInfoOfGuid(IFocuser::kIid, &info), S_OK);
    EXPECT_EQ(info->Name(), "IFocuser");
    EXPECT_TRUE(loader.IsLoaded());
    // Once loaded, the library stays loaded.
    other.Clear();
    ASSERT_TRUE(other.Save());
    EXPECT_EQ(loader.GetTypeInfoOfGuid(IDome::kIid, &info), S_OK);
}

} // namespace
} // namespace velq3::test
