// The registry on Windows, in the test prefix's real registry: typed round trips through the
// hive, read back with the Win32 calls themselves, under HKEY_CURRENT_USER (relocated below a key
// of this test, and at the settings key the program uses) and under HKEY_CLASSES_ROOT.
#include "platform/Registry.h"

#include "device/OrnFilterWheel.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

namespace velq3 {
namespace {

const std::string kTestRoot = "HKEY_CURRENT_USER\\Software\\velq3-tests\\" + std::to_string(::GetCurrentProcessId());

// The value as the registry holds it, read without the hive.
struct RawValue {
    DWORD type = 0;
    std::vector<BYTE> bytes;
};
std::optional<RawValue> ReadRaw(HKEY root, const std::wstring& key, const std::wstring& name) {
    RawValue v;
    DWORD size = 0;
    if (::RegGetValueW(root, key.c_str(), name.c_str(), RRF_RT_ANY | RRF_NOEXPAND, &v.type, nullptr, &size) != ERROR_SUCCESS)
        return std::nullopt;
    v.bytes.resize(size);
    if (::RegGetValueW(root, key.c_str(), name.c_str(), RRF_RT_ANY | RRF_NOEXPAND, &v.type, v.bytes.data(), &size) != ERROR_SUCCESS)
        return std::nullopt;
    v.bytes.resize(size);
    return v;
}

std::vector<BYTE> Utf16Bytes(const std::wstring& text) {
    const auto* p = reinterpret_cast<const BYTE*>(text.c_str());
    return std::vector<BYTE>(p, p + (text.size() + 1) * sizeof(wchar_t));
}

class WindowsRegistryTest : public ::testing::Test {
protected:
    void TearDown() override {
        ::RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\velq3-tests");
        ::RegDeleteKeyW(HKEY_CURRENT_USER, L"Software\\velq3-tests");
    }
    RegistryHive hive{{}, kTestRoot};
};

TEST_F(WindowsRegistryTest, TypedValuesRoundTripThroughTheRealRegistry) {
    struct Case {
        const char* name;
        RegValue value;
        DWORD rawType;
        std::vector<BYTE> raw;  // as RegGetValueW returns it
    };
    // Added one by one: GCC 12 warns wrongly about an initializer list of these.
    std::vector<Case> cases;
    const auto add = [&](const char* name, RegValue value, DWORD rawType, std::vector<BYTE> raw) {
        cases.push_back(Case{name, std::move(value), rawType, std::move(raw)});
    };
    add("Zero", {RegType::Dword, {0, 0, 0, 0}}, REG_DWORD, {0, 0, 0, 0});
    add("AllOnes", {RegType::Dword, {0xFF, 0xFF, 0xFF, 0xFF}}, REG_DWORD, {0xFF, 0xFF, 0xFF, 0xFF});
    add("Little", {RegType::Dword, {0x78, 0x56, 0x34, 0x12}}, REG_DWORD, {0x78, 0x56, 0x34, 0x12});
    add("Bytes", {RegType::Binary, {0, 1, 0xFE, 0, 0xFF}}, REG_BINARY, {0, 1, 0xFE, 0, 0xFF});
    add("NoBytes", {RegType::Binary, {}}, REG_BINARY, {});
    add("Text", {RegType::Sz, {'C', 'O', 'M', '3', 0}}, REG_SZ, Utf16Bytes(L"COM3"));
    add("Empty", {RegType::Sz, {0}}, REG_SZ, Utf16Bytes(L""));
    // UTF-8 in the hive, UTF-16 in the registry.
    add("Accents", {RegType::Sz, {'H', 0xC3, 0xA9, 0xE2, 0x84, 0xA6, 0}}, REG_SZ, Utf16Bytes(L"H\u00E9\u2126"));
    add("", {RegType::Sz, {'d', 'e', 'f', 0}}, REG_SZ, Utf16Bytes(L"def"));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(hive.SetValue("Values", c.name, c.value));
        EXPECT_EQ(hive.Query("Values", c.name), c.value);
        const std::wstring key = L"Software\\velq3-tests\\" + std::to_wstring(::GetCurrentProcessId()) + L"\\Values";
        const std::wstring name(c.name, c.name + std::char_traits<char>::length(c.name));
        const auto raw = ReadRaw(HKEY_CURRENT_USER, key, name);
        ASSERT_TRUE(raw.has_value());
        EXPECT_EQ(raw->type, c.rawType);
        EXPECT_EQ(raw->bytes, c.raw);
    }
    EXPECT_EQ(hive.GetDword("Values", "Little"), 0x12345678u);
    EXPECT_EQ(hive.GetString("Values", "Accents"), "H\xC3\xA9\xE2\x84\xA6");
    EXPECT_EQ(hive.GetString("Values", ""), "def");
    // Typed getters refuse the other types.
    EXPECT_FALSE(hive.GetDword("Values", "Text"));
    EXPECT_FALSE(hive.GetString("Values", "Zero"));
    EXPECT_FALSE(hive.GetDword("Values", "Missing"));
    EXPECT_FALSE(hive.Query("NoSuchKey", "Zero"));
}

TEST_F(WindowsRegistryTest, ValuesWrittenByOtherProgramsAreReadAndKeysAreListed) {
    ASSERT_TRUE(hive.SetDword("a\\b", "n", 5));
    ASSERT_TRUE(hive.CreateKey("a\\Zeta"));
    ASSERT_TRUE(hive.CreateKey("a\\alpha"));
    // Another writer: the Win32 call directly.
    const std::wstring key = L"Software\\velq3-tests\\" + std::to_wstring(::GetCurrentProcessId()) + L"\\a\\b";
    const DWORD seven = 7;
    ASSERT_EQ(::RegSetKeyValueW(HKEY_CURRENT_USER, key.c_str(), L"other", REG_DWORD, &seven, sizeof seven), ERROR_SUCCESS);
    EXPECT_EQ(hive.GetDword("a\\b", "other"), 7u);
    EXPECT_EQ(hive.ValueNames("a\\b"), (std::vector<std::string>{"n", "other"}));
    EXPECT_EQ(hive.SubKeys("a"), (std::vector<std::string>{"alpha", "b", "Zeta"}));
    // Another hive object over the same place sees the same values: nothing is cached.
    RegistryHive again({}, kTestRoot);
    EXPECT_EQ(again.Load(), RegistryHive::LoadResult::Loaded);
    EXPECT_EQ(again.GetDword("A\\B", "N"), 5u);  // names compare without case
    EXPECT_TRUE(again.Save());

    EXPECT_TRUE(hive.DeleteValue("a\\b", "n"));
    EXPECT_FALSE(hive.DeleteValue("a\\b", "n"));
    EXPECT_TRUE(hive.DeleteKeyTree("a"));
    EXPECT_FALSE(hive.KeyExists("a\\b"));
    EXPECT_FALSE(hive.DeleteKeyTree("a"));
    EXPECT_FALSE(hive.DeleteKeyTree(""));  // never the hive's root
}

TEST_F(WindowsRegistryTest, InvalidNamesAreRefused) {
    for (const char* key : {"a\\\\b", "\\a", "a\\", "bad\x01name"}) {
        SCOPED_TRACE(key);
        EXPECT_FALSE(hive.CreateKey(key));
        EXPECT_FALSE(hive.SetDword(key, "v", 1));
    }
    EXPECT_FALSE(hive.CreateKey(std::string(256, 'k')));
    EXPECT_FALSE(hive.SetString("k", std::string("line\nbreak"), "x"));
}

TEST_F(WindowsRegistryTest, TextExportListsTheValues) {
    ASSERT_TRUE(hive.SetDword("k", "d", 0x2A));
    ASSERT_TRUE(hive.SetString("k", "s", "a\"b"));
    ASSERT_TRUE(hive.SetBinary("k\\sub", "b", std::vector<std::uint8_t>{1, 0xAB}));
    EXPECT_EQ(hive.ToText(), "Windows Registry Editor Version 5.00\n\n[" + kTestRoot + "\\k]\n\"d\"=dword:0000002a\n"
                             "\"s\"=\"a\\\"b\"\n\n[" + kTestRoot + "\\k\\sub]\n\"b\"=hex:01,ab\n\n");
}

TEST_F(WindowsRegistryTest, ClearEmptiesARelocatedHiveButNeverAWholeRoot) {
    ASSERT_TRUE(hive.SetDword("k", "d", 1));
    hive.Clear();
    EXPECT_FALSE(hive.KeyExists("k"));

    std::vector<std::string> lines;
    RegistryHive user({}, kCurrentUserRoot, HiveOptions{[&](std::string_view l) { lines.emplace_back(l); }});
    user.Clear();
    EXPECT_TRUE(user.KeyExists("Software"));
    ASSERT_EQ(lines.size(), 1u);
}

// The per-user hive the program opens is HKEY_CURRENT_USER itself: its settings land at
// HKEY_CURRENT_USER\Software\ASCOM\Settings\OrnFocuserV3.
TEST_F(WindowsRegistryTest, ProgramSettingsLandUnderTheAscomSettingsKey) {
    RegistryHive user = OpenCurrentUserHive();
    ASSERT_TRUE(user.SetDword(kSettingsKey, "velq3-test-ComPort", 4));
    ASSERT_TRUE(user.SetString(kSettingsKey, "velq3-test-Name", "Filter \xE2\x80\x93 L"));
    const auto raw = ReadRaw(HKEY_CURRENT_USER, L"Software\\ASCOM\\Settings\\OrnFocuserV3", L"velq3-test-ComPort");
    ASSERT_TRUE(raw.has_value());
    EXPECT_EQ(raw->type, static_cast<DWORD>(REG_DWORD));
    EXPECT_EQ(raw->bytes, (std::vector<BYTE>{4, 0, 0, 0}));
    const auto text = ReadRaw(HKEY_CURRENT_USER, L"Software\\ASCOM\\Settings\\OrnFocuserV3", L"velq3-test-Name");
    ASSERT_TRUE(text.has_value());
    EXPECT_EQ(text->bytes, Utf16Bytes(L"Filter \u2013 L"));
    EXPECT_TRUE(user.DeleteValue(kSettingsKey, "velq3-test-ComPort"));
    EXPECT_TRUE(user.DeleteValue(kSettingsKey, "velq3-test-Name"));
    EXPECT_FALSE(ReadRaw(HKEY_CURRENT_USER, L"Software\\ASCOM\\Settings\\OrnFocuserV3", L"velq3-test-ComPort"));
}

// The classes root as registration writes it: a ProgID key with its CLSID.
TEST_F(WindowsRegistryTest, ClassesRootRoundTrip) {
    RegistryHive classes = OpenClassesRootHive();
    const std::string progId = "velq3-test." + std::to_string(::GetCurrentProcessId());
    ASSERT_TRUE(classes.SetString(progId, "", "Test class"));
    ASSERT_TRUE(classes.SetString(progId + "\\CLSID", "", "{01234567-89AB-CDEF-0123-456789ABCDEF}"));
    const std::wstring wideKey(progId.begin(), progId.end());
    const auto raw = ReadRaw(HKEY_CLASSES_ROOT, wideKey + L"\\CLSID", L"");
    ASSERT_TRUE(raw.has_value());
    EXPECT_EQ(raw->bytes, Utf16Bytes(L"{01234567-89AB-CDEF-0123-456789ABCDEF}"));
    EXPECT_EQ(classes.SubKeys(progId), std::vector<std::string>{"CLSID"});
    EXPECT_TRUE(classes.DeleteKeyTree(progId));
    HKEY gone = nullptr;
    EXPECT_NE(::RegOpenKeyExW(HKEY_CLASSES_ROOT, wideKey.c_str(), 0, KEY_READ, &gone), ERROR_SUCCESS);
}

}  // namespace
}  // namespace velq3
