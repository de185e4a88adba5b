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

        // Saving replaces the file; the damaged one stays beside it.
        hive.SetDword(kSettingsKey, "ComPort", 2);
        ASSERT_TRUE(hive.Save());
        EXPECT_EQ(ReadText(kept), content);
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

TEST_F(RegistryTest, SavesThroughASymbolicLink) {
    fs::create_directories(dir_ / "dotfiles");
    fs::create_symlink(dir_ / "dotfiles" / "velq3.reg", file_);
    auto hive = MakeHive();
    EXPECT_EQ(hive.Load(), RegistryHive::LoadResult::Missing);
    hive.SetDword("K", "V", 7);
    ASSERT_TRUE(hive.Save());
    EXPECT_TRUE(fs::is_symlink(file_));
    auto loaded = MakeHive(dir_ / "dotfiles" / "velq3.reg");
    ASSERT_EQ(loaded.Load(), RegistryHive::LoadResult::Loaded);
    EXPECT_EQ(loaded.GetDword("K", "V"), 7u);
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
