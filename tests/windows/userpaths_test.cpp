// Per-user folders on Windows: %APPDATA% for settings, %LOCALAPPDATA% for data and runtime files,
// the profile's usual folders when those are not set, VELQ3_HOME above all.
#include "platform/UserPaths.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <filesystem>
#include <map>
#include <stdexcept>
#include <string>

namespace velq3 {
namespace {

namespace fs = std::filesystem;

class WindowsUserPathsTest : public ::testing::Test {
protected:
    void SetUp() override {
        root = fs::temp_directory_path() / ("velq3-paths-" + std::to_string(::GetCurrentProcessId()));
        fs::create_directories(root);
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(root, ec);
    }
    EnvLookup Env(std::map<std::string, std::string> values) {
        return [values](const char* name) -> std::optional<std::string> {
            auto found = values.find(name);
            if (found == values.end()) return std::nullopt;
            return found->second;
        };
    }
    std::string At(const char* sub) const { return (root / sub).string(); }
    fs::path root;
};

TEST_F(WindowsUserPathsTest, FoldersFollowTheEnvironment) {
    struct Case {
        const char* what;
        std::map<std::string, std::string> env;
        fs::path config, data, runtime;
    };
    const std::vector<Case> cases = {
        {"known folders", {{"APPDATA", At("roam")}, {"LOCALAPPDATA", At("local")}},
         root / "roam" / "velq3", root / "local" / "velq3", root / "local" / "velq3" / "run"},
        {"profile only", {{"USERPROFILE", At("me")}},
         root / "me" / "AppData" / "Roaming" / "velq3", root / "me" / "AppData" / "Local" / "velq3",
         root / "me" / "AppData" / "Local" / "velq3" / "run"},
        {"relocated", {{"VELQ3_HOME", At("home")}, {"APPDATA", At("roam")}},
         root / "home" / "config", root / "home" / "data", root / "home" / "run"},
        {"relative APPDATA is ignored", {{"APPDATA", "roam"}, {"USERPROFILE", At("me")}, {"LOCALAPPDATA", At("local")}},
         root / "me" / "AppData" / "Roaming" / "velq3", root / "local" / "velq3", root / "local" / "velq3" / "run"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const EnvLookup env = Env(c.env);
        EXPECT_EQ(ConfigDir(env), c.config);
        EXPECT_EQ(DataDir(env), c.data);
        EXPECT_EQ(RuntimeDir(env), c.runtime);
        EXPECT_TRUE(fs::is_directory(c.config));
        EXPECT_TRUE(fs::is_directory(c.runtime));
    }
}

TEST_F(WindowsUserPathsTest, NoFoldersKnownIsAClearError) {
    try {
        ConfigDir(Env({}));
        FAIL() << "no error";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find("APPDATA"), std::string::npos) << e.what();
    }
}

// The process environment is read wide and given as UTF-8, whatever the ANSI code page.
TEST_F(WindowsUserPathsTest, TheProcessEnvironmentIsUtf8) {
    ASSERT_EQ(::_wputenv(L"VELQ3_TEST_TEXT=Gr\u00FC\u00DFe \u2126"), 0);
    EXPECT_EQ(ProcessEnvironment()("VELQ3_TEST_TEXT"), "Gr\xC3\xBC\xC3\x9F" "e \xE2\x84\xA6");
    EXPECT_EQ(ProcessEnvironment()("VELQ3_TEST_SURELY_UNSET"), std::nullopt);
}

}  // namespace
}  // namespace velq3
