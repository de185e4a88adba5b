// Self-registration: the keys and values each class's script writes, force-remove on
// registration, exactly what unregistration removes, and the type library's registration.
#include <gtest/gtest.h>

#include <fstream>

#include "automation/TypeLibRegistration.h"
#include "automation/VelqTypeLib.h"
#include "common/SimProcess.h"
#include "server/Registration.h"

namespace velq3::test {
namespace {

class RegistrationTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::filesystem::create_directories(dir.file("bin dir"));
        std::ofstream(exe) << "program";
    }

    TempDir dir;
    std::string exe = dir.file("bin dir/velq3");
    RegistryHive hive{dir.file("classes.reg"), kClassesRoot};
};

TEST_F(RegistrationTest, EachClassGetsItsProgIdAndClassKeys) {
    ASSERT_EQ(RegisterServer(hive, exe), S_OK);
    struct Expected {
        const char* progId;
        const char* clsid;
        const char* name;
        const char* clsidName;
    };
    const Expected all[] = {
        {"VELQ3.Focuser", "{8B73F203-A1F3-434E-97E0-EE6D2B7E8D16}", "Focuser Class", "Focuser Class"},
        {"VELQ3.FilterWheel", "{C3E62667-A1F3-4064-8B64-45CDED7C718C}", "FilterWheel Class", "FilterWheel Class"},
        {"VELQ3.Rotator", "{0E8237AF-A456-4575-AC6C-EE91E0F1C5C6}", "Rotator Class", "RotatorImpl Class"},
        {"VELQ3.Dome", "{0E8237BF-A456-4575-AC6C-EE91E0F1C5C8}", "Dome Class", "DomeImpl Class"},
        {"VELQ3.Focuser2", "{8B73F205-A1F3-434E-97E0-EE6D2B7E8D16}", "Focuser2 Class", "Focuser2 Class"},
    };
    for (const Expected& e : all) {
        const std::string p = e.progId, c = std::string("CLSID\\") + e.clsid;
        EXPECT_EQ(hive.GetString(p, ""), e.name) << p;
        EXPECT_EQ(hive.GetString(p + "\\CLSID", ""), e.clsid) << p;
        EXPECT_EQ(hive.SubKeys(p), std::vector<std::string>{"CLSID"}) << p;
        EXPECT_EQ(hive.GetString(c, ""), e.clsidName) << p;
        EXPECT_EQ(hive.GetString(c + "\\ProgID", ""), e.progId) << p;
        EXPECT_TRUE(hive.KeyExists(c + "\\Programmable")) << p;
        EXPECT_TRUE(hive.ValueNames(c + "\\Programmable").empty()) << p;
        EXPECT_EQ(hive.GetString(c + "\\LocalServer32", ""), "\"" + exe + "\"") << p;
        EXPECT_EQ(hive.GetString(c + "\\LocalServer32", "ServerExecutable"), exe) << p;
        EXPECT_EQ(hive.GetString(c + "\\TypeLib", ""), "{181202A3-A1F3-4287-9D85-A166A769E015}") << p;
        EXPECT_EQ(hive.GetString(c + "\\Version", ""), "1.0") << p;
        EXPECT_EQ(hive.SubKeys(c).size(), 5u) << p;
    }
    // The type library is registered under the program, without a help folder, and loads.
    EXPECT_EQ(hive.GetString("TypeLib\\{181202A3-A1F3-4287-9D85-A166A769E015}\\1.0\\409\\win32", ""), exe);
    EXPECT_EQ(hive.GetString("TypeLib\\{181202A3-A1F3-4287-9D85-A166A769E015}\\1.0\\HELPDIR", ""), "");
    const TypeLib* lib = nullptr;
    EXPECT_EQ(LoadRegTypeLib(hive, VelqTypeLib(), 1, 0, kLocaleEnglishUS, &lib), S_OK);
    // What was written is on disk.
    RegistryHive reread{dir.file("classes.reg"), kClassesRoot};
    ASSERT_EQ(reread.Load(), RegistryHive::LoadResult::Loaded);
    EXPECT_EQ(reread.ToText(), hive.ToText());
}

TEST_F(RegistrationTest, RegisteringReplacesForceRemoveKeysWhole) {
    const std::string c = "CLSID\\{C3E62667-A1F3-4064-8B64-45CDED7C718C}";
    hive.SetString(c + "\\InprocServer32", "", "stale.dll");
    hive.SetString(c + "\\Programmable\\Leftover", "", "x");
    hive.SetString(c, "Stale", "value");
    hive.SetString("VELQ3.FilterWheel\\CurVer", "", "VELQ3.FilterWheel.2");  // not force-remove: kept
    hive.SetString("CLSID\\{00000000-1111-2222-3333-444444444444}", "", "Another Class");
    ASSERT_EQ(RegisterServer(hive, exe), S_OK);
    EXPECT_FALSE(hive.KeyExists(c + "\\InprocServer32"));
    EXPECT_FALSE(hive.KeyExists(c + "\\Programmable\\Leftover"));
    EXPECT_FALSE(hive.GetString(c, "Stale"));
    EXPECT_EQ(hive.GetString("VELQ3.FilterWheel\\CurVer", ""), "VELQ3.FilterWheel.2");
    EXPECT_EQ(hive.GetString("CLSID\\{00000000-1111-2222-3333-444444444444}", ""), "Another Class");
}

TEST_F(RegistrationTest, UnregisteringRemovesWhatTheScriptsWroteAndKeepsTheClsidKey) {
    hive.SetString("CLSID\\{00000000-1111-2222-3333-444444444444}", "", "Another Class");
    hive.SetString("VELQ3.Dome\\Extra", "", "someone else's");
    hive.SetString("Interface\\{00000000-9999-2222-3333-444444444444}", "", "IOther");
    ASSERT_EQ(RegisterServer(hive, exe), S_OK);
    ASSERT_EQ(UnregisterServer(hive), S_OK);
    for (const DriverClass& c : DriverClasses()) {
        EXPECT_FALSE(hive.KeyExists("CLSID\\" + FormatGuid(c.clsid))) << c.progId;
        if (c.progId != "VELQ3.Dome") {
            EXPECT_FALSE(hive.KeyExists(std::string(c.progId))) << c.progId;
        }
    }
    // A ProgID key that holds a key of someone else's stays, without the script's subkey.
    EXPECT_TRUE(hive.KeyExists("VELQ3.Dome\\Extra"));
    EXPECT_FALSE(hive.KeyExists("VELQ3.Dome\\CLSID"));
    EXPECT_TRUE(hive.KeyExists("CLSID"));
    EXPECT_EQ(hive.GetString("CLSID\\{00000000-1111-2222-3333-444444444444}", ""), "Another Class");
    EXPECT_FALSE(hive.KeyExists("TypeLib\\{181202A3-A1F3-4287-9D85-A166A769E015}"));
    for (const TypeInfo& t : VelqTypeLib().interfaces) EXPECT_FALSE(hive.KeyExists("Interface\\" + FormatGuid(t.Guid())));
    EXPECT_TRUE(hive.KeyExists("Interface\\{00000000-9999-2222-3333-444444444444}"));

    // Nothing registered: unregistering again changes nothing and says the library was not there.
    const std::string before = hive.ToText();
    EXPECT_EQ(UnregisterServer(hive), TYPE_E_LIBNOTREGISTERED);
    EXPECT_EQ(hive.ToText(), before);
    // The CLSID key stays even when it was created by the registration and is empty now.
    RegistryHive fresh{dir.file("fresh.reg"), kClassesRoot};
    RegisterServer(fresh, exe);
    UnregisterServer(fresh);
    EXPECT_TRUE(fresh.KeyExists("CLSID"));
    EXPECT_TRUE(fresh.SubKeys("CLSID").empty());
}

TEST_F(RegistrationTest, ScriptPlaceholdersAreReplaced) {
    RegistryScript script{{"K%NAME%", "%MODULE%", {{"Raw", "%MODULE_RAW%"}, {"Percent", "100%%"}, {"Other", "%UNKNOWN%"}}, false, false, {}}};
    ASSERT_TRUE(RunRegistryScript(hive, script, true, {{"NAME", "1"}, {"MODULE", "\"a b\""}, {"MODULE_RAW", "a b"}}));
    EXPECT_EQ(hive.GetString("K1", ""), "\"a b\"");
    EXPECT_EQ(hive.GetString("K1", "Raw"), "a b");
    EXPECT_EQ(hive.GetString("K1", "Percent"), "100%");
    EXPECT_EQ(hive.GetString("K1", "Other"), "%UNKNOWN%");
    RunRegistryScript(hive, script, false, {{"NAME", "1"}});
    EXPECT_FALSE(hive.KeyExists("K1"));
}

} // namespace
} // namespace velq3::test
