// Tests of the registry stand-in: values and keys, the .reg file format, damaged files and
// crash-safe saving.
#include "platform/Registry.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <random>
#include <signal.h>
#include <sstream>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace velq3 {
namespace {

namespace fs = std::filesystem;

constexpr const char* kSettingsKey = "Software\\ASCOM\\Settings\\OrnFocuserV3";

std::string ReadText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void WriteText(const fs::path& path, std::string_view text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

std::vector<std::string> Listing(const fs::path& dir) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

class RegistryTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/velq3-registry-test-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        file_ = dir_ / "user.reg";
    }
    void TearDown() override { fs::remove_all(dir_); }

    RegistryHive MakeHive(const fs::path& file, std::string_view root = kCurrentUserRoot) {
        HiveOptions options;
        options.diagnostics = [this](std::string_view line) { messages_.emplace_back(line); };
        options.clock = &clock_;
        return RegistryHive(file, root, options);
    }
    RegistryHive MakeHive() { return MakeHive(file_); }

    fs::path dir_;
    fs::path file_;
    std::vector<std::string> messages_;
    FixedCalendarClock clock_ = FixedCalendarClock::AtLocal(2024, 3, 15, 22, 15, 30);
};

TEST_F(RegistryTest, EveryTypeSurvivesSaveAndLoad) {
    const double step = 10.25;
    std::uint8_t stepBytes[8];
    std::memcpy(stepBytes, &step, 8);
    const std::string awkward = "C:\\logs\\\"night\" \\\\ \"\"end\\";
    const std::string unicode = "Küvette °C – Ω 望远镜";
    const std::string multiLine = "line one\nline two\r\n";

    auto hive = MakeHive();
    ASSERT_TRUE(hive.SetDword(kSettingsKey, "ComPort", 10));
    ASSERT_TRUE(hive.SetDword(kSettingsKey, "AscomPreferredTermometer", 0xFFFFFFFFu));
    ASSERT_TRUE(hive.SetBinary(kSettingsKey, "StepLenInMicrons", stepBytes));
    ASSERT_TRUE(hive.SetBinary(kSettingsKey, "Nothing", {}));
    ASSERT_TRUE(hive.SetString(kSettingsKey, "LogFile", awkward));
    ASSERT_TRUE(hive.SetString(kSettingsKey, "TermometerName0", unicode));
    ASSERT_TRUE(hive.SetString(kSettingsKey, "TermometerName1", ""));
    ASSERT_TRUE(hive.SetString(kSettingsKey, "Notes", multiLine));
    ASSERT_TRUE(hive.SetString(kSettingsKey, "", "default value"));
    ASSERT_TRUE(hive.SetString(kSettingsKey, "Quote\"And\\Slash", "name escapes"));
    const RegValue qword{static_cast<RegType>(11), {1, 2, 3, 4, 5, 6, 7, 8}};
    ASSERT_TRUE(hive.SetValue(kSettingsKey, "Other", qword));
    std::vector<std::uint8_t> big(300);
    for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<std::uint8_t>(i * 7);
    ASSERT_TRUE(hive.SetBinary("Software\\Big", "Table", big));
    ASSERT_TRUE(hive.Save());

    const std::string text = ReadText(file_);
    EXPECT_EQ(text.rfind("Windows Registry Editor Version 5.00\n", 0), 0u);
    EXPECT_NE(text.find("[HKEY_CURRENT_USER\\Software\\ASCOM\\Settings\\OrnFocuserV3]\n"),
              std::string::npos);
    EXPECT_NE(text.find("\"ComPort\"=dword:0000000a\n"), std::string::npos);
    EXPECT_NE(text.find("\"AscomPreferredTermometer\"=dword:ffffffff\n"), std::string::npos);
    EXPECT_NE(text.find("\"LogFile\"=\"C:\\\\logs\\\\\\\"night\\\" "), std::string::npos);
    EXPECT_NE(text.find("@=\"default value\"\n"), std::string::npos);
    EXPECT_NE(text.find("\"Other\"=hex(b):01,02,03,04,05,06,07,08\n"), std::string::npos);
    EXPECT_EQ(text.find('\r'), std::string::npos) << "a stored line break leaked into the file";

    auto loaded = MakeHive();
    ASSERT_EQ(loaded.Load(), RegistryHive::LoadResult::Loaded);
    EXPECT_EQ(loaded.GetDword(kSettingsKey, "ComPort"), 10u);
    EXPECT_EQ(loaded.GetDword(kSettingsKey, "AscomPreferredTermometer"), 0xFFFFFFFFu);
    const auto stepValue = loaded.Query(kSettingsKey, "StepLenInMicrons");
    ASSERT_TRUE(stepValue);
    EXPECT_EQ(stepValue->type, RegType::Binary);
    ASSERT_EQ(stepValue->data.size(), 8u);
    double stepBack = 0;
    std::memcpy(&stepBack, stepValue->data.data(), 8);
    EXPECT_EQ(stepBack, step);
    EXPECT_EQ(loaded.Query(kSettingsKey, "Nothing"), (RegValue{RegType::Binary, {}}));
    EXPECT_EQ(loaded.GetString(kSettingsKey, "LogFile"), awkward);
    EXPECT_EQ(loaded.GetString(kSettingsKey, "TermometerName0"), unicode);
    EXPECT_EQ(loaded.GetString(kSettingsKey, "TermometerName1"), "");
    EXPECT_EQ(loaded.GetString(kSettingsKey, "Notes"), multiLine);
    EXPECT_EQ(loaded.GetString(kSettingsKey, ""), "default value");
    EXPECT_EQ(loaded.GetString(kSettingsKey, "Quote\"And\\Slash"), "name escapes");
    EXPECT_EQ(loaded.Query(kSettingsKey, "Other"), qword);
    EXPECT_EQ(loaded.Query("Software\\Big", "Table"), (RegValue{RegType::Binary, big}));
    EXPECT_EQ(loaded.ToText(), hive.ToText());
    EXPECT_TRUE(messages_.empty());
}

TEST_F(RegistryTest, QueryGivesRawBytesWhateverTheType) {
    auto hive = MakeHive();
    hive.SetDword("K", "Number", 0x01020304);
    hive.SetString("K", "Text", "ab");
    EXPECT_EQ(hive.Query("K", "Number"), (RegValue{RegType::Dword, {4, 3, 2, 1}}));
    EXPECT_EQ(hive.Query("K", "Text"), (RegValue{RegType::Sz, {'a', 'b', 0}}));
    // Typed getters refuse the other types; Query does not.
    EXPECT_FALSE(hive.GetDword("K", "Text"));
    EXPECT_FALSE(hive.GetString("K", "Number"));
    hive.SetValue("K", "Short", RegValue{RegType::Dword, {1, 2}});
    EXPECT_FALSE(hive.GetDword("K", "Short"));
}

TEST_F(RegistryTest, NamesMatchWithoutCaseAndKeepTheirCase) {
    auto hive = MakeHive();
    ASSERT_TRUE(hive.SetDword(kSettingsKey, "ChangeFilterTimeoutMs", 1000));
    EXPECT_EQ(hive.GetDword("SOFTWARE\\ascom\\Settings\\ornfocuserv3", "changefiltertimeoutms"),
              1000u);
    EXPECT_TRUE(hive.KeyExists("software\\ASCOM"));

    // Setting through another spelling replaces the value and keeps the first spelling.
    ASSERT_TRUE(hive.SetDword("software\\ascom\\settings\\ornfocuserv3", "CHANGEFILTERTIMEOUTMS", 5));
    EXPECT_EQ(hive.ValueNames(kSettingsKey), std::vector<std::string>{"ChangeFilterTimeoutMs"});
    EXPECT_EQ(hive.SubKeys("Software"), std::vector<std::string>{"ASCOM"});

    ASSERT_TRUE(hive.Save());
    auto loaded = MakeHive();
    ASSERT_EQ(loaded.Load(), RegistryHive::LoadResult::Loaded);
    EXPECT_EQ(loaded.GetDword(kSettingsKey, "changeFILTERtimeoutms"), 5u);
    EXPECT_EQ(loaded.SubKeys("software\\ascom"), std::vector<std::string>{"Settings"});
}

TEST_F(RegistryTest, MissingThingsAndBadNames) {
    auto hive = MakeHive();
    EXPECT_EQ(hive.Load(), RegistryHive::LoadResult::Missing);
    EXPECT_TRUE(messages_.empty()) << "a first start is not a problem";
    EXPECT_FALSE(hive.Query(kSettingsKey, "ComPort"));
    EXPECT_FALSE(hive.KeyExists("Software"));
    EXPECT_TRUE(hive.SubKeys("Software").empty());

    hive.SetDword(kSettingsKey, "ComPort", 3);
    EXPECT_FALSE(hive.Query(kSettingsKey, "ComPort2"));
    EXPECT_FALSE(hive.Query("Software\\ASCOM\\Settings", "ComPort"));
    EXPECT_FALSE(hive.DeleteValue(kSettingsKey, "NotThere"));
    EXPECT_TRUE(hive.DeleteValue(kSettingsKey, "comport"));
    EXPECT_FALSE(hive.Query(kSettingsKey, "ComPort"));
    EXPECT_TRUE(hive.KeyExists(kSettingsKey)) << "deleting a value keeps its key";

    for (const char* bad : {"\\Software", "Software\\", "Software\\\\ASCOM", "A\nB"}) {
        EXPECT_FALSE(hive.SetDword(bad, "X", 1)) << bad;
        EXPECT_FALSE(hive.CreateKey(bad)) << bad;
        EXPECT_FALSE(hive.KeyExists(bad)) << bad;
    }
    EXPECT_FALSE(hive.SetString("K", "two\nlines", "x"));
    EXPECT_FALSE(hive.SetString("K", std::string_view("nul\0", 4), "x"));
    EXPECT_FALSE(hive.SetDword(std::string(256, 'k'), "X", 1)) << "key names stop at 255";
}

TEST_F(RegistryTest, KeysEnumerateAndDeleteAsTrees) {
    auto hive = MakeHive(dir_ / "classes.reg", kClassesRoot);
    const std::string clsid = "CLSID\\{C3E62667-A1F3-4064-8B64-45CDED7C718C}";
    hive.SetString("VELQ3.FilterWheel", "", "FilterWheel Class");
    hive.SetString("VELQ3.FilterWheel\\CLSID", "", "{C3E62667-A1F3-4064-8B64-45CDED7C718C}");
    hive.SetString(clsid, "", "FilterWheel Class");
    hive.SetString(clsid + "\\LocalServer32", "", "\"/usr/bin/velq3\"");
    hive.SetString(clsid + "\\LocalServer32", "ServerExecutable", "/usr/bin/velq3");
    ASSERT_TRUE(hive.CreateKey(clsid + "\\Programmable"));
    hive.SetString(clsid + "x", "", "a sibling sharing the name's start");
    hive.SetString("CLSID\\{0E8237AF-A456-4575-AC6C-EE91E0F1C5C6}", "", "RotatorImpl Class");
    hive.SetDword("clsid\\b", "Z", 1);
    hive.SetDword("clsid\\B2", "Z", 1);
    hive.SetDword("clsid\\a", "Z", 1);

    EXPECT_EQ(hive.SubKeys("CLSID"),
              (std::vector<std::string>{"a", "b", "B2", "{0E8237AF-A456-4575-AC6C-EE91E0F1C5C6}",
                                        "{C3E62667-A1F3-4064-8B64-45CDED7C718C}",
                                        "{C3E62667-A1F3-4064-8B64-45CDED7C718C}x"}));
    EXPECT_EQ(hive.SubKeys(clsid),
              (std::vector<std::string>{"LocalServer32", "Programmable"}));
    EXPECT_EQ(hive.ValueNames(clsid + "\\LocalServer32"),
              (std::vector<std::string>{"", "ServerExecutable"}));

    ASSERT_TRUE(hive.Save());
    auto loaded = MakeHive(dir_ / "classes.reg", kClassesRoot);
    ASSERT_EQ(loaded.Load(), RegistryHive::LoadResult::Loaded);
    EXPECT_TRUE(loaded.KeyExists(clsid + "\\Programmable")) << "an empty key is kept";
    EXPECT_EQ(ReadText(dir_ / "classes.reg").find("[HKEY_CURRENT_USER"), std::string::npos);

    EXPECT_TRUE(loaded.DeleteKeyTree("clsid\\{c3e62667-a1f3-4064-8b64-45cded7c718c}"));
    EXPECT_FALSE(loaded.KeyExists(clsid + "\\LocalServer32"));
    EXPECT_FALSE(loaded.KeyExists(clsid));
    EXPECT_TRUE(loaded.KeyExists(clsid + "x"));
    EXPECT_TRUE(loaded.KeyExists("CLSID"));
    EXPECT_EQ(loaded.GetString("VELQ3.FilterWheel\\CLSID", ""),
              "{C3E62667-A1F3-4064-8B64-45CDED7C718C}");
    EXPECT_FALSE(loaded.DeleteKeyTree(clsid)) << "already gone";
    EXPECT_FALSE(loaded.DeleteKeyTree("")) << "the root stays";

    ASSERT_TRUE(loaded.Save());
    auto again = MakeHive(dir_ / "classes.reg", kClassesRoot);
    ASSERT_EQ(again.Load(), RegistryHive::LoadResult::Loaded);
    EXPECT_FALSE(again.KeyExists(clsid));
    EXPECT_TRUE(again.KeyExists(clsid + "x"));
}

TEST_F(RegistryTest, ReadsHandWrittenFiles) {
    WriteText(file_,
              "\xEF\xBB\xBFWindows Registry Editor Version 5.00\r\n"
              "\r\n"
              "; written by hand\r\n"
              "[hkey_current_user\\Software\\Test]\r\n"
              "\"Spaced\" = dword:1f\r\n"
              "\"Wrapped\"=hex:00,01,02,\\\r\n"
              "  03,04,\\\n"
              "    05\n"
              "\"Expand\"=hex(2):41,00\n"
              "\"Gone\"=\"soon\"\n"
              "\"Gone\"=-\n"
              "\"Twice\"=\"first\"\n"
              "\"Twice\"=\"second\"\n"
              "\n"
              "[HKEY_CURRENT_USER\\Software\\Old\\Deep]\n"
              "\"X\"=dword:00000001\n"
              "[-HKEY_CURRENT_USER\\Software\\Old]\n"
              "[HKEY_CURRENT_USER\\SOFTWARE\\test]\n"
              "@=\"default\"");
    auto hive = MakeHive();
    ASSERT_EQ(hive.Load(), RegistryHive::LoadResult::Loaded) << ::testing::PrintToString(messages_);
    EXPECT_EQ(hive.GetDword("Software\\Test", "Spaced"), 0x1Fu);
    EXPECT_EQ(hive.Query("Software\\Test", "Wrapped"),
              (RegValue{RegType::Binary, {0, 1, 2, 3, 4, 5}}));
    EXPECT_EQ(hive.Query("Software\\Test", "Expand"), (RegValue{static_cast<RegType>(2), {'A', 0}}));
    EXPECT_FALSE(hive.Query("Software\\Test", "Gone"));
    EXPECT_EQ(hive.GetString("Software\\Test", "Twice"), "second");
    EXPECT_EQ(hive.GetString("Software\\Test", ""), "default");
    EXPECT_FALSE(hive.KeyExists("Software\\Old"));
    EXPECT_EQ(hive.SubKeys("Software"), std::vector<std::string>{"Test"});
}

// A file that cannot be trusted must give defaults, say so once, and never be lost.
TEST_F(RegistryTest, DamagedFileGivesDefaultsAndIsKept) {
    const std::vector<std::pair<std::string, std::string>> damaged = {
        {"empty", ""},
        {"no header", "[HKEY_CURRENT_USER\\Software]\n\"A\"=dword:00000001\n"},
        {"binary junk", std::string("\x00\x01\xff\xfe garbage", 12)},
        {"cut in a string", "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\S]\n"
                            "\"LogFile\"=\"/home/obs"},
        {"cut in hex data", "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\S]\n"
                            "\"T\"=hex:01,02,\\\n"},
        {"cut in a key", "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\Soft"},
        {"unknown escape", "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\S]\n"
                           "\"A\"=\"C:\\temp\"\n"},
        {"value before key", "Windows Registry Editor Version 5.00\n\n\"A\"=dword:00000001\n"},
        {"other hive", "Windows Registry Editor Version 5.00\n\n[HKEY_CLASSES_ROOT\\S]\n"},
        {"long dword", "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\S]\n"
                       "\"A\"=dword:100000000\n"},
        {"bad hex byte", "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\S]\n"
                         "\"A\"=hex:01,0g\n"},
        {"stray text", "Windows Registry Editor Version 5.00\n\nComPort=3\n"},
    };
    for (const auto& [what, content] : damaged) {
        SCOPED_TRACE(what);
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        messages_.clear();
        WriteText(file_, content);

        auto hive = MakeHive();
        hive.SetDword("Stale", "Value", 1);
        EXPECT_EQ(hive.Load(), RegistryHive::LoadResult::Damaged);
        EXPECT_FALSE(hive.KeyExists("Stale")) << "a damaged file gives an empty hive";
        EXPECT_FALSE(hive.KeyExists("S"));
        ASSERT_EQ(messages_.size(), 1u);
        const fs::path kept = dir_ / "user.reg.bad-20240315-221530";
        EXPECT_NE(messages_[0].find(file_.string()), std::string::npos) << messages_[0];
        EXPECT_NE(messages_[0].find(kept.string()), std::string::npos) << messages_[0];
        EXPECT_EQ(ReadText(kept), content);

        // Saving replaces the file; the damaged one stays beside it, kept once.
        hive.SetDword(kSettingsKey, "ComPort", 2);
        ASSERT_TRUE(hive.Save());
        EXPECT_EQ(ReadText(kept), content);
        EXPECT_EQ(messages_.size(), 1u);
        EXPECT_EQ(Listing(dir_), (std::vector<std::string>{"user.reg", "user.reg.bad-20240315-221530"}));
        auto loaded = MakeHive();
        EXPECT_EQ(loaded.Load(), RegistryHive::LoadResult::Loaded);
        EXPECT_EQ(loaded.GetDword(kSettingsKey, "ComPort"), 2u);
    }
}

TEST_F(RegistryTest, DamagedFileKeptTwiceGetsTwoNames) {
    WriteText(file_, "not a registry file");
    auto first = MakeHive();
    auto second = MakeHive();
    EXPECT_EQ(first.Load(), RegistryHive::LoadResult::Damaged);
    WriteText(file_, "another bad one");
    EXPECT_EQ(second.Load(), RegistryHive::LoadResult::Damaged);
    EXPECT_EQ(ReadText(dir_ / "user.reg.bad-20240315-221530"), "not a registry file");
    EXPECT_EQ(ReadText(dir_ / "user.reg.bad-20240315-221530-2"), "another bad one");
}

TEST_F(RegistryTest, UnreadableFileIsNotOverwrittenWhenItCannotBeKept) {
    fs::create_directories(file_);  // a folder where the file should be: unreadable, unlinkable
    auto hive = MakeHive();
    EXPECT_EQ(hive.Load(), RegistryHive::LoadResult::Damaged);
    ASSERT_EQ(messages_.size(), 1u);
    EXPECT_NE(messages_[0].find("will not be overwritten"), std::string::npos) << messages_[0];
    hive.SetDword("K", "V", 1);
    EXPECT_FALSE(hive.Save());
    EXPECT_EQ(messages_.size(), 2u);
    EXPECT_TRUE(fs::is_directory(file_));
}

TEST_F(RegistryTest, FailedSaveIsReportedAndLeavesNoLitter) {
    WriteText(dir_ / "blocker", "a file, not a folder");
    auto hive = MakeHive(dir_ / "blocker" / "user.reg");
    hive.SetDword("K", "V", 1);
    EXPECT_FALSE(hive.Save());
    ASSERT_EQ(messages_.size(), 1u);
    EXPECT_NE(messages_[0].find("cannot save"), std::string::npos) << messages_[0];

    auto nowhere = MakeHive(fs::path());
    EXPECT_EQ(nowhere.Load(), RegistryHive::LoadResult::Missing);
    EXPECT_FALSE(nowhere.Save());

    // A good save leaves exactly the file: its temporary file has been renamed.
    auto good = MakeHive();
    good.SetDword("K", "V", 1);
    ASSERT_TRUE(good.Save());
    ASSERT_TRUE(good.Save());
    EXPECT_EQ(Listing(dir_), (std::vector<std::string>{"blocker", "user.reg"}));
}

// A link in the file's place that leads to a regular file of this user (dotfile managers keep
// settings so) is read and written through: the file it leads to is replaced in its own folder
// and the link stays a link.
TEST_F(RegistryTest, ALinkToTheUsersOwnFileIsReadAndWrittenThrough) {
    const fs::path real = dir_ / "dotfiles" / "velq3" / "user.reg";
    fs::create_directories(real.parent_path());
    {
        auto seed = MakeHive(real);
        seed.SetDword(kSettingsKey, "ComPort", 3);
        ASSERT_TRUE(seed.Save());
    }
    const fs::path relative = fs::path("dotfiles") / "velq3" / "user.reg";
    fs::create_symlink(relative, file_);

    auto hive = MakeHive();
    ASSERT_EQ(hive.Load(), RegistryHive::LoadResult::Loaded);
    EXPECT_EQ(hive.GetDword(kSettingsKey, "ComPort"), 3u);
    hive.SetDword(kSettingsKey, "ComPort", 5);
    ASSERT_TRUE(hive.Save());
    EXPECT_TRUE(messages_.empty()) << messages_[0];
    ASSERT_TRUE(fs::is_symlink(file_));
    EXPECT_EQ(fs::read_symlink(file_), relative);
    auto loaded = MakeHive(real);
    ASSERT_EQ(loaded.Load(), RegistryHive::LoadResult::Loaded);
    EXPECT_EQ(loaded.GetDword(kSettingsKey, "ComPort"), 5u);
    // The temporary file was renamed over the file the link leads to; nothing is left behind.
    EXPECT_EQ(Listing(dir_), (std::vector<std::string>{"dotfiles", "user.reg"}));
    EXPECT_EQ(Listing(real.parent_path()), std::vector<std::string>{"user.reg"});

    // Through a chain of links, and with a link put in place while the program runs.
    const fs::path middle = dir_ / "middle.reg";
    fs::remove(file_);
    fs::create_symlink(real, middle);
    auto chained = MakeHive();
    EXPECT_EQ(chained.Load(), RegistryHive::LoadResult::Missing);
    fs::create_symlink(middle, file_);
    chained.SetDword(kSettingsKey, "OnTop", 1);
    ASSERT_TRUE(chained.Save());
    EXPECT_TRUE(messages_.empty());
    EXPECT_TRUE(fs::is_symlink(file_));
    EXPECT_TRUE(fs::is_symlink(middle));
    ASSERT_EQ(loaded.Load(), RegistryHive::LoadResult::Loaded);
    EXPECT_EQ(loaded.GetDword(kSettingsKey, "ComPort"), 5u) << "others' values survive";
    EXPECT_EQ(loaded.GetDword(kSettingsKey, "OnTop"), 1u);

    // A damaged file behind the link is kept beside it and replaced at the next save.
    WriteText(real, "not settings");
    auto again = MakeHive();
    EXPECT_EQ(again.Load(), RegistryHive::LoadResult::Damaged);
    ASSERT_EQ(messages_.size(), 1u);
    const fs::path kept = real.string() + ".bad-20240315-221530";
    EXPECT_EQ(ReadText(kept), "not settings");
    again.SetDword(kSettingsKey, "ComPort", 7);
    ASSERT_TRUE(again.Save());
    EXPECT_TRUE(fs::is_symlink(file_));
    ASSERT_EQ(loaded.Load(), RegistryHive::LoadResult::Loaded);
    EXPECT_EQ(loaded.GetDword(kSettingsKey, "ComPort"), 7u);

    // Temporary files a killed save left beside the file the link leads to go at the next start.
    const fs::path stale = real.parent_path() / ".user.reg.tmp-AbC123";
    WriteText(stale, "half a save");
    auto next = MakeHive();
    ASSERT_EQ(next.Load(), RegistryHive::LoadResult::Loaded);
    EXPECT_FALSE(fs::exists(stale));
}

// A link that leads anywhere but to a regular file of this user, a FIFO or a device where the
// file should be is moved aside under the damaged-file name (the thing itself, never what it
// points at) and a regular file is written in its place.
TEST_F(RegistryTest, OtherLinksFifosAndDevicesAreSetAsideNotFollowed) {
    const fs::path kept = dir_ / "user.reg.bad-20240315-221530";
    const fs::path elsewhere = dir_ / "elsewhere";
    fs::create_directories(elsewhere / "folder");
    ASSERT_EQ(mkfifo((elsewhere / "fifo").c_str(), 0600), 0);
    // Another user's file: one made here and given away when running as root, else a file of
    // the system's (never written: the test would fail before that).
    fs::path foreign = elsewhere / "foreign.txt";
    WriteText(foreign, "not settings");
    if (geteuid() == 0) {
        ASSERT_EQ(chown(foreign.c_str(), 65534, 65534), 0);
    } else {
        foreign = "/etc/passwd";
    }
    struct stat foreignBefore {};
    ASSERT_EQ(stat(foreign.c_str(), &foreignBefore), 0);
    ASSERT_NE(foreignBefore.st_uid, geteuid());

    const std::vector<std::pair<const char*, fs::path>> links = {
        {"leads nowhere", elsewhere / "missing.reg"},
        {"a FIFO", elsewhere / "fifo"},
        {"a device node", "/dev/null"},
        {"a folder", elsewhere / "folder"},
        {"another user's file", foreign},
    };
    for (bool atStart : {true, false}) {
        for (const auto& [what, target] : links) {
            SCOPED_TRACE(std::string(what) + (atStart ? ", present at start" : ", put in place while running"));
            messages_.clear();
            auto hive = MakeHive();
            if (atStart) {
                fs::create_symlink(target, file_);
                EXPECT_EQ(hive.Load(), RegistryHive::LoadResult::Damaged);
                EXPECT_FALSE(fs::exists(fs::symlink_status(file_)));
            } else {
                EXPECT_EQ(hive.Load(), RegistryHive::LoadResult::Missing);
                fs::create_symlink(target, file_);
            }
            hive.SetDword("K", "V", 7);
            ASSERT_TRUE(hive.Save());
            ASSERT_EQ(messages_.size(), 1u);
            EXPECT_NE(messages_[0].find("symbolic link"), std::string::npos) << messages_[0];
            EXPECT_TRUE(fs::is_symlink(kept)) << "the link itself is kept, not a copy of its target";
            EXPECT_EQ(fs::read_symlink(kept), target);
            EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(file_)));
            auto loaded = MakeHive();
            ASSERT_EQ(loaded.Load(), RegistryHive::LoadResult::Loaded);
            EXPECT_EQ(loaded.GetDword("K", "V"), 7u);
            fs::remove(file_);
            fs::remove(kept);
        }
    }
    // What the links led to is untouched.
    EXPECT_EQ(Listing(elsewhere), (std::vector<std::string>{"fifo", "folder", "foreign.txt"}));
    struct stat st {};
    ASSERT_EQ(lstat((elsewhere / "fifo").c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
    ASSERT_EQ(stat(foreign.c_str(), &st), 0);
    EXPECT_EQ(st.st_size, foreignBefore.st_size);
    EXPECT_EQ(st.st_mtim.tv_sec, foreignBefore.st_mtim.tv_sec);
    EXPECT_EQ(st.st_mtim.tv_nsec, foreignBefore.st_mtim.tv_nsec);
    if (geteuid() == 0) {
        EXPECT_EQ(ReadText(foreign), "not settings");
    }
    EXPECT_TRUE(fs::is_empty(elsewhere / "folder"));
    messages_.clear();

    {
        SCOPED_TRACE("a FIFO: loading must not wait for a writer");
        ASSERT_EQ(mkfifo(file_.c_str(), 0600), 0);
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            alarm(10);  // a blocked open ends the child with SIGALRM
            auto hive = MakeHive();
            const bool damaged = hive.Load() == RegistryHive::LoadResult::Damaged;
            hive.SetDword("K", "V", 9);
            _exit(damaged && hive.Save() ? 0 : 1);
        }
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
        struct stat st {};
        ASSERT_EQ(lstat(kept.c_str(), &st), 0);
        EXPECT_TRUE(S_ISFIFO(st.st_mode));
        EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(file_)));
        fs::remove(file_);
        fs::remove(kept);
    }
    // A device node can only be made with privileges; the part is skipped without them.
    if (mknod(file_.c_str(), S_IFCHR | 0600, makedev(1, 3)) == 0) {
        SCOPED_TRACE("a device node");
        auto hive = MakeHive();
        EXPECT_EQ(hive.Load(), RegistryHive::LoadResult::Damaged);
        struct stat st {};
        ASSERT_EQ(lstat(kept.c_str(), &st), 0);
        EXPECT_TRUE(S_ISCHR(st.st_mode));
        hive.SetDword("K", "V", 10);
        ASSERT_TRUE(hive.Save());
        EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(file_)));
    }
}

// Another program (or the user's editor) changes the file while the program runs: a save
// writes the program's own changes over the file as it is now.
TEST_F(RegistryTest, SaveKeepsWhatOthersChangedAndAppliesOnlyItsOwnChanges) {
    WriteText(file_,
              "Windows Registry Editor Version 5.00\n\n"
              "[HKEY_CURRENT_USER\\Software\\ASCOM\\Settings\\OrnFocuserV3]\n"
              "\"ComPort\"=dword:00000001\n"
              "\"Untouched\"=\"at start\"\n"
              "\"Dropped\"=\"by the program\"\n\n"
              "[HKEY_CURRENT_USER\\Software\\Old\\Stuff]\n"
              "\"A\"=dword:00000001\n");
    auto hive = MakeHive();
    ASSERT_EQ(hive.Load(), RegistryHive::LoadResult::Loaded);
    hive.SetDword(kSettingsKey, "ComPort", 3);
    EXPECT_TRUE(hive.DeleteValue(kSettingsKey, "Dropped"));
    EXPECT_TRUE(hive.DeleteKeyTree("Software\\Old"));
    ASSERT_TRUE(hive.CreateKey("Software\\Empty"));

    // Meanwhile: a hand-added port line and changes from another process.
    auto other = MakeHive();
    ASSERT_EQ(other.Load(), RegistryHive::LoadResult::Loaded);
    other.SetString(kSettingsKey, "SerialDevice2", "/dev/ttyUSB0");
    other.SetString(kSettingsKey, "Untouched", "changed meanwhile");
    other.SetDword(kSettingsKey, "ComPort", 9);
    other.SetString(kSettingsKey, "Dropped", "written back meanwhile");
    other.SetDword("Software\\Old\\Stuff\\Deeper", "B", 2);
    other.SetDword("Software\\Other", "C", 3);
    ASSERT_TRUE(other.Save());

    ASSERT_TRUE(hive.Save());
    auto loaded = MakeHive();
    ASSERT_EQ(loaded.Load(), RegistryHive::LoadResult::Loaded);
    EXPECT_EQ(loaded.GetString(kSettingsKey, "SerialDevice2"), "/dev/ttyUSB0");
    EXPECT_EQ(loaded.GetString(kSettingsKey, "Untouched"), "changed meanwhile");
    EXPECT_EQ(loaded.GetDword(kSettingsKey, "ComPort"), 3u) << "the program's own value wins";
    EXPECT_FALSE(loaded.Query(kSettingsKey, "Dropped")) << "deleted by the program stays deleted";
    EXPECT_FALSE(loaded.KeyExists("Software\\Old")) << "a deleted tree stays deleted";
    EXPECT_TRUE(loaded.KeyExists("Software\\Empty"));
    EXPECT_EQ(loaded.GetDword("Software\\Other", "C"), 3u);
    // The program now sees the file as saved.
    EXPECT_EQ(hive.ToText(), loaded.ToText());

    // A second save after another change keeps the program's values and the newcomer's.
    WriteText(file_, ReadText(file_) + "\n[HKEY_CURRENT_USER\\Software\\ASCOM\\Settings\\OrnFocuserV3]\n"
                                       "\"SerialDevice3\"=\"/dev/ttyACM0\"\n");
    hive.SetDword("Software\\Old", "Again", 1);
    ASSERT_TRUE(hive.Save());
    auto again = MakeHive();
    ASSERT_EQ(again.Load(), RegistryHive::LoadResult::Loaded);
    EXPECT_EQ(again.GetString(kSettingsKey, "SerialDevice3"), "/dev/ttyACM0");
    EXPECT_EQ(again.GetString(kSettingsKey, "SerialDevice2"), "/dev/ttyUSB0");
    EXPECT_EQ(again.GetDword(kSettingsKey, "ComPort"), 3u);
    EXPECT_EQ(again.GetDword("Software\\Old", "Again"), 1u);
    EXPECT_FALSE(again.KeyExists("Software\\Old\\Stuff"));

    // Clearing the hive owns everything.
    hive.Clear();
    hive.SetDword("K", "Only", 1);
    ASSERT_TRUE(hive.Save());
    auto cleared = MakeHive();
    ASSERT_EQ(cleared.Load(), RegistryHive::LoadResult::Loaded);
    EXPECT_EQ(cleared.SubKeys(""), std::vector<std::string>{"K"});
    EXPECT_TRUE(messages_.empty()) << ::testing::PrintToString(messages_);
}

// Two registrations saved by two processes into the classes hive both survive.
TEST_F(RegistryTest, ClassesHiveSaversKeepEachOthersKeys) {
    const fs::path classesFile = dir_ / "classes.reg";
    auto first = MakeHive(classesFile, kClassesRoot);
    auto second = MakeHive(classesFile, kClassesRoot);
    first.Load();
    second.Load();
    first.SetString("VELQ3.FilterWheel\\CLSID", "", "{C3E62667-A1F3-4064-8B64-45CDED7C718C}");
    second.SetString("Other.Driver\\CLSID", "", "{0E8237AF-A456-4575-AC6C-EE91E0F1C5C6}");
    ASSERT_TRUE(first.Save());
    ASSERT_TRUE(second.Save());
    auto loaded = MakeHive(classesFile, kClassesRoot);
    ASSERT_EQ(loaded.Load(), RegistryHive::LoadResult::Loaded);
    EXPECT_TRUE(loaded.KeyExists("VELQ3.FilterWheel\\CLSID"));
    EXPECT_TRUE(loaded.KeyExists("Other.Driver\\CLSID"));

    // Unregistering removes only the program's own keys.
    EXPECT_TRUE(first.DeleteKeyTree("VELQ3.FilterWheel"));
    ASSERT_TRUE(first.Save());
    ASSERT_EQ(loaded.Load(), RegistryHive::LoadResult::Loaded);
    EXPECT_FALSE(loaded.KeyExists("VELQ3.FilterWheel"));
    EXPECT_TRUE(loaded.KeyExists("Other.Driver\\CLSID"));
}

std::string DeepKeyFile(int depth) {
    std::string text = "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER";
    for (int i = 0; i < depth; ++i) text += "\\k";
    return text + "]\n\"V\"=dword:00000001\n";
}

// Key depth and line length are bounded when a file is read; the writer and the key
// functions keep to the same bounds, so whatever is saved loads again.
TEST_F(RegistryTest, KeyDepthAndLineLengthAreBounded) {
    {
        SCOPED_TRACE("a key 50000 levels deep");
        WriteText(file_, DeepKeyFile(50000));
        auto hive = MakeHive();
        EXPECT_EQ(hive.Load(), RegistryHive::LoadResult::Damaged);
        ASSERT_EQ(messages_.size(), 1u);
        EXPECT_NE(messages_[0].find("deeper than 512"), std::string::npos) << messages_[0];
        EXPECT_TRUE(fs::exists(dir_ / "user.reg.bad-20240315-221530"));
        hive.SetDword("K", "V", 1);
        ASSERT_TRUE(hive.Save());
        fs::remove(dir_ / "user.reg.bad-20240315-221530");
        messages_.clear();
    }
    {
        SCOPED_TRACE("the deepest key allowed");
        WriteText(file_, DeepKeyFile(512));
        auto hive = MakeHive();
        ASSERT_EQ(hive.Load(), RegistryHive::LoadResult::Loaded);
        std::string deepest = "k";
        for (int i = 1; i < 512; ++i) deepest += "\\k";
        EXPECT_EQ(hive.GetDword(deepest, "V"), 1u);
        EXPECT_FALSE(hive.CreateKey(deepest + "\\k")) << "one level more is refused";
        EXPECT_FALSE(hive.SetDword(deepest + "\\k", "V", 1));
        ASSERT_TRUE(hive.Save());
        auto loaded = MakeHive();
        EXPECT_EQ(loaded.Load(), RegistryHive::LoadResult::Loaded);
        EXPECT_EQ(loaded.ToText(), hive.ToText());
    }
    {
        SCOPED_TRACE("a line longer than the bound");
        WriteText(file_, "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\S]\n\"A\"=\"" +
                             std::string(300000, 'x') + "\"\n");
        auto hive = MakeHive();
        EXPECT_EQ(hive.Load(), RegistryHive::LoadResult::Damaged);
        ASSERT_EQ(messages_.size(), 1u);
        EXPECT_NE(messages_[0].find("longer than 262144"), std::string::npos) << messages_[0];
        fs::remove(dir_ / "user.reg.bad-20240315-221530");
        messages_.clear();
    }
    {
        SCOPED_TRACE("long values and names are written within the bound");
        auto hive = MakeHive();
        const std::string longText(300000, 'y');
        ASSERT_TRUE(hive.SetString("S", "Long", longText));
        ASSERT_TRUE(hive.SetString("S", std::string(16383, 'n'), "name at its limit"));
        EXPECT_FALSE(hive.SetString("S", std::string(16384, 'n'), "name too long"));
        ASSERT_TRUE(hive.Save());
        auto loaded = MakeHive();
        ASSERT_EQ(loaded.Load(), RegistryHive::LoadResult::Loaded) << ::testing::PrintToString(messages_);
        EXPECT_EQ(loaded.GetString("S", "Long"), longText);
        EXPECT_EQ(loaded.GetString("S", std::string(16383, 'n')), "name at its limit");
    }
}

// Many values under one key and many keys load as they were saved.
TEST_F(RegistryTest, EightyThousandValuesRoundTrip) {
    std::string text = "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\Software\\Many]\n";
    for (int i = 0; i < 80000; ++i) text += "\"V" + std::to_string(i) + "\"=dword:" + std::to_string(i % 10) + "\n";
    for (int i = 0; i < 80000; i += 2) text += "\"v" + std::to_string(i) + "\"=-\n";
    for (int i = 0; i < 20000; ++i) text += "[HKEY_CURRENT_USER\\Software\\Keys\\K" + std::to_string(i) + "]\n@=\"x\"\n";
    WriteText(file_, text);
    auto hive = MakeHive();
    ASSERT_EQ(hive.Load(), RegistryHive::LoadResult::Loaded);
    const auto names = hive.ValueNames("Software\\Many");
    ASSERT_EQ(names.size(), 40000u);
    EXPECT_EQ(names.front(), "V1");
    EXPECT_EQ(names.back(), "V79999");
    EXPECT_EQ(hive.GetDword("Software\\Many", "V12345"), 5u);
    EXPECT_FALSE(hive.GetDword("Software\\Many", "V12344"));
    EXPECT_EQ(hive.SubKeys("Software\\Keys").size(), 20000u);
    ASSERT_TRUE(hive.Save());
    auto loaded = MakeHive();
    ASSERT_EQ(loaded.Load(), RegistryHive::LoadResult::Loaded);
    EXPECT_EQ(loaded.ToText(), hive.ToText());
}

// A save killed between creating its temporary file and renaming it leaves that file behind;
// the next start removes it, but never the file of a save still in progress.
TEST_F(RegistryTest, TemporaryFilesOfAKilledSaveAreRemovedAtTheNextStart) {
    WriteText(dir_ / ".user.reg.tmp-AbC123", "half a save");
    WriteText(dir_ / ".user.reg.tmp-InProg", "a save in progress");
    WriteText(dir_ / ".classes.reg.tmp-Zz9999", "another hive's");
    WriteText(dir_ / "notes.tmp-1", "not ours");
    const int busy = open((dir_ / ".user.reg.tmp-InProg").c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(busy, 0);
    ASSERT_EQ(flock(busy, LOCK_EX), 0);  // as the saver holds it
    auto hive = MakeHive();
    EXPECT_EQ(hive.Load(), RegistryHive::LoadResult::Missing);
    EXPECT_EQ(Listing(dir_), (std::vector<std::string>{".classes.reg.tmp-Zz9999", ".user.reg.tmp-InProg",
                                                       "notes.tmp-1"}));
    close(busy);
    EXPECT_EQ(hive.Load(), RegistryHive::LoadResult::Missing);
    EXPECT_EQ(Listing(dir_), (std::vector<std::string>{".classes.reg.tmp-Zz9999", "notes.tmp-1"}));
}

TEST_F(RegistryTest, DefaultHivesLiveInTheSettingsFolder) {
    const fs::path home = dir_ / "home";
    const EnvLookup env = [&](const char* name) -> std::optional<std::string> {
        if (std::string_view(name) == "VELQ3_HOME") return home.string();
        return std::nullopt;
    };
    EXPECT_EQ(CurrentUserHivePath(env), home / "config" / "user.reg");
    EXPECT_EQ(ClassesRootHivePath(env), home / "config" / "classes.reg");

    HiveOptions options;
    options.diagnostics = [this](std::string_view line) { messages_.emplace_back(line); };
    auto user = OpenCurrentUserHive(env, options);
    user.SetDword(kSettingsKey, "OnTop", 1);
    ASSERT_TRUE(user.Save());
    auto classes = OpenClassesRootHive(env, options);
    classes.SetString("VELQ3.Dome", "", "Dome Class");
    ASSERT_TRUE(classes.Save());
    EXPECT_NE(ReadText(home / "config" / "user.reg").find("[HKEY_CURRENT_USER\\Software"),
              std::string::npos);
    EXPECT_NE(ReadText(home / "config" / "classes.reg").find("[HKEY_CLASSES_ROOT\\VELQ3.Dome]"),
              std::string::npos);
    EXPECT_EQ(OpenCurrentUserHive(env, options).GetDword(kSettingsKey, "OnTop"), 1u);
    EXPECT_TRUE(messages_.empty());

    // No usable settings folder: reported, empty, not savable, no exception.
    WriteText(dir_ / "file-home", "x");
    const EnvLookup blocked = [&](const char*) -> std::optional<std::string> {
        return (dir_ / "file-home").string();
    };
    auto orphan = OpenCurrentUserHive(blocked, options);
    EXPECT_EQ(messages_.size(), 1u);
    EXPECT_FALSE(orphan.Save());
}

// Builds a hive of about 6 kB per key whose values depend on `version`.
RegistryHive BigHive(const fs::path& file, int version, int keys) {
    RegistryHive hive(file, kCurrentUserRoot);
    for (int k = 0; k < keys; ++k) {
        const std::string key = "Software\\Big\\Key" + std::to_string(k);
        for (int v = 0; v < 40; ++v) {
            const std::string name = "Value" + std::to_string(v);
            hive.SetString(key, name, "version " + std::to_string(version) + " \"text\" \\ " +
                                          std::string(40, static_cast<char>('a' + v % 26)));
            std::vector<std::uint8_t> data(24, static_cast<std::uint8_t>(version * 31 + v));
            hive.SetBinary(key, name + "Bytes", data);
        }
    }
    return hive;
}

// A saver killed at any moment leaves the old file or the new one, complete.
TEST_F(RegistryTest, SaveKilledAtRandomMomentsLeavesAWholeFile) {
    auto versionA = BigHive(file_, 1, 24);
    auto versionB = BigHive(file_, 2, 24);
    const std::string textA = versionA.ToText();
    const std::string textB = versionB.ToText();
    ASSERT_GT(textA.size(), 150000u);
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(versionA.Save());
    // Kill moments spread over about three saves, whatever this machine's speed.
    const auto saveUs = std::chrono::duration_cast<std::chrono::microseconds>(
        std::chrono::steady_clock::now() - start);

    std::mt19937 random(12345);
    std::uniform_int_distribution<long> delayUs(0, 3 * saveUs.count());
    int completedSaves = 0;
    for (int round = 0; round < 30; ++round) {
        int pipeFds[2];
        ASSERT_EQ(pipe(pipeFds), 0);
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            close(pipeFds[0]);
            alarm(20);  // never outlive a parent that died
            const char mark = 1;
            [[maybe_unused]] ssize_t n = write(pipeFds[1], &mark, 1);  // about to save
            for (bool b = true;; b = !b) {
                (b ? versionB : versionA).Save();
                n = write(pipeFds[1], &mark, 1);  // one save done
            }
        }
        close(pipeFds[1]);
        char buffer[4096];
        ASSERT_EQ(read(pipeFds[0], buffer, 1), 1);
        std::this_thread::sleep_for(std::chrono::microseconds(delayUs(random)));
        kill(child, SIGKILL);
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        for (ssize_t n; (n = read(pipeFds[0], buffer, sizeof buffer)) > 0;) completedSaves += n;
        close(pipeFds[0]);

        const std::string text = ReadText(file_);
        ASSERT_TRUE(text == textA || text == textB) << "round " << round << ": " << text.size()
                                                    << " bytes of something else";
        auto loaded = MakeHive();
        ASSERT_EQ(loaded.Load(), RegistryHive::LoadResult::Loaded);
    }
    // Kills landed both during first saves and after some saves had completed.
    EXPECT_GT(completedSaves, 0);
    EXPECT_TRUE(messages_.empty());
    // The next start removes the temporary files that the kills left.
    auto next = MakeHive();
    ASSERT_EQ(next.Load(), RegistryHive::LoadResult::Loaded);
    EXPECT_EQ(Listing(dir_), std::vector<std::string>{"user.reg"});
}

// Two processes saving at once: the file is always one whole version.
TEST_F(RegistryTest, ConcurrentSaversNeverMixTheirFiles) {
    auto versionA = BigHive(file_, 1, 8);
    auto versionB = BigHive(file_, 2, 8);
    pid_t children[2];
    for (int i = 0; i < 2; ++i) {
        children[i] = fork();
        ASSERT_GE(children[i], 0);
        if (children[i] == 0) {
            alarm(20);
            bool ok = true;
            for (int n = 0; n < 20; ++n) ok = (i == 0 ? versionA : versionB).Save() && ok;
            _exit(ok ? 0 : 1);
        }
    }
    for (pid_t child : children) {
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    const std::string text = ReadText(file_);
    EXPECT_TRUE(text == versionA.ToText() || text == versionB.ToText());
    EXPECT_EQ(Listing(dir_), std::vector<std::string>{"user.reg"});
}

}  // namespace
}  // namespace velq3
