// Tests of the per-user folders: where they go, how they are created, and the runtime
// folder's safety checks.
#include "platform/UserPaths.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <sys/stat.h>
#include <unistd.h>

namespace velq3 {
namespace {

namespace fs = std::filesystem;

mode_t ModeOf(const fs::path& path) {
    struct stat st {};
    EXPECT_EQ(lstat(path.c_str(), &st), 0) << path;
    return st.st_mode & 07777;
}

class UserPathsTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/velq3-paths-test-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
    }
    void TearDown() override { fs::remove_all(dir_); }

    // An environment holding exactly `vars_`.
    EnvLookup Env() const {
        return [this](const char* name) -> std::optional<std::string> {
            auto it = vars_.find(name);
            if (it == vars_.end()) return std::nullopt;
            return it->second;
        };
    }

    fs::path dir_;
    std::map<std::string, std::string> vars_;
};

TEST_F(UserPathsTest, Velq3HomeHoldsEverything) {
    vars_ = {{"VELQ3_HOME", (dir_ / "home").string()},
             {"XDG_CONFIG_HOME", (dir_ / "xdg-config").string()},
             {"XDG_RUNTIME_DIR", (dir_ / "xdg-run").string()},
             {"HOME", (dir_ / "user").string()}};
    EXPECT_EQ(ConfigDir(Env()), dir_ / "home" / "config");
    EXPECT_EQ(RuntimeDir(Env()), dir_ / "home" / "run");
    EXPECT_EQ(DataDir(Env()), dir_ / "home" / "data");
    for (const char* sub : {"config", "run", "data"}) {
        EXPECT_TRUE(fs::is_directory(dir_ / "home" / sub)) << sub;
        EXPECT_EQ(ModeOf(dir_ / "home" / sub), 0700u) << sub;
    }
    EXPECT_FALSE(fs::exists(dir_ / "xdg-config"));
    EXPECT_FALSE(fs::exists(dir_ / "user"));
}

TEST_F(UserPathsTest, XdgFoldersAndHomeFallbacks) {
    vars_ = {{"VELQ3_HOME", ""},
             {"XDG_CONFIG_HOME", (dir_ / "xc").string()},
             {"XDG_DATA_HOME", "relative/is/ignored"},
             {"XDG_RUNTIME_DIR", (dir_ / "xr").string()},
             {"HOME", (dir_ / "user").string()}};
    EXPECT_EQ(ConfigDir(Env()), dir_ / "xc" / "velq3");
    EXPECT_EQ(DataDir(Env()), dir_ / "user" / ".local" / "share" / "velq3");
    EXPECT_EQ(RuntimeDir(Env()), dir_ / "xr" / "velq3");
    EXPECT_EQ(ModeOf(dir_ / "xr" / "velq3"), 0700u);

    vars_.erase("XDG_CONFIG_HOME");
    vars_["XDG_DATA_HOME"] = (dir_ / "xd").string();
    EXPECT_EQ(ConfigDir(Env()), dir_ / "user" / ".config" / "velq3");
    EXPECT_EQ(DataDir(Env()), dir_ / "xd" / "velq3");
    EXPECT_TRUE(fs::is_directory(dir_ / "user" / ".config" / "velq3"));
}

TEST_F(UserPathsTest, RuntimeFallbackIsAPrivateTmpFolder) {
    vars_ = {{"HOME", (dir_ / "user").string()}};
    const fs::path expected = "/tmp/velq3-" + std::to_string(getuid());
    EXPECT_EQ(RuntimeDir(Env()), expected);
    struct stat st {};
    ASSERT_EQ(lstat(expected.c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(st.st_mode & 07777, 0700u);
    EXPECT_EQ(st.st_uid, geteuid());
}

TEST_F(UserPathsTest, RuntimeFolderMustBeTrustworthy) {
    vars_ = {{"VELQ3_HOME", dir_.string()}};
    const fs::path run = dir_ / "run";

    fs::create_directories(run);
    chmod(run.c_str(), 0755);
    EXPECT_EQ(RuntimeDir(Env()), run);
    EXPECT_EQ(ModeOf(run), 0700u) << "an open folder is closed again";

    fs::remove(run);
    fs::create_directories(dir_ / "elsewhere");
    fs::create_directory_symlink(dir_ / "elsewhere", run);
    EXPECT_THROW(RuntimeDir(Env()), std::runtime_error) << "a link could point anywhere";

    fs::remove(run);
    std::ofstream(run) << "file";
    EXPECT_THROW(RuntimeDir(Env()), std::runtime_error);

    fs::remove(run);
    if (geteuid() == 0) {
        fs::create_directories(run);
        ASSERT_EQ(chown(run.c_str(), 65534, 65534), 0);
        EXPECT_THROW(RuntimeDir(Env()), std::runtime_error) << "someone else's folder";
    }
}

TEST_F(UserPathsTest, UncreatableFolderThrowsWithItsName) {
    std::ofstream(dir_ / "blocker") << "file";
    vars_ = {{"VELQ3_HOME", (dir_ / "blocker").string()}};
    try {
        ConfigDir(Env());
        ADD_FAILURE() << "no exception";
    } catch (const std::system_error& e) {
        EXPECT_NE(std::string(e.what()).find("blocker"), std::string::npos) << e.what();
    }
}

// Under the XDG variables every folder is made with mode 0700, whatever the umask; a runtime
// folder that cannot be made gives a message naming it and the reason.
TEST_F(UserPathsTest, XdgFoldersArePrivateAndAnUnusableRuntimeBaseIsNamed) {
    vars_ = {{"XDG_CONFIG_HOME", (dir_ / "c").string()},
             {"XDG_DATA_HOME", (dir_ / "d").string()},
             {"XDG_RUNTIME_DIR", (dir_ / "r").string()}};
    const mode_t old = umask(0777);
    const fs::path config = ConfigDir(Env()), data = DataDir(Env()), run = RuntimeDir(Env());
    umask(old);
    EXPECT_EQ(config, dir_ / "c" / "velq3");
    EXPECT_EQ(data, dir_ / "d" / "velq3");
    EXPECT_EQ(run, dir_ / "r" / "velq3");
    for (const fs::path& p : {config, data, run}) EXPECT_EQ(ModeOf(p), 0700u) << p;

    std::ofstream(dir_ / "not-a-folder") << "file";
    vars_["XDG_RUNTIME_DIR"] = (dir_ / "not-a-folder").string();
    try {
        RuntimeDir(Env());
        ADD_FAILURE() << "no exception";
    } catch (const std::system_error& e) {
        EXPECT_NE(std::string(e.what()).find("cannot create folder " + (dir_ / "not-a-folder").string()),
                  std::string::npos) << e.what();
    }

    if (geteuid() != 0) {  // root writes anywhere
        fs::create_directory(dir_ / "closed");
        chmod((dir_ / "closed").c_str(), 0500);
        vars_["XDG_RUNTIME_DIR"] = (dir_ / "closed").string();
        try {
            RuntimeDir(Env());
            ADD_FAILURE() << "no exception";
        } catch (const std::system_error& e) {
            EXPECT_EQ(std::string(e.what()), "cannot create runtime folder " + (dir_ / "closed" / "velq3").string() +
                                                 ": " + std::strerror(EACCES));
        }
        chmod((dir_ / "closed").c_str(), 0700);
    }
}

// The default lookup reads the process environment at each call, and a relative VELQ3_HOME is
// taken from the current directory.
TEST_F(UserPathsTest, ProcessEnvironmentIsReadAtEachCall) {
    const char* old = std::getenv("VELQ3_HOME");
    const std::optional<std::string> saved = old ? std::optional<std::string>(old) : std::nullopt;
    const fs::path oldCwd = fs::current_path();

    setenv("VELQ3_HOME", (dir_ / "first").c_str(), 1);
    EXPECT_EQ(ConfigDir(), dir_ / "first" / "config");
    setenv("VELQ3_HOME", (dir_ / "second").c_str(), 1);
    EXPECT_EQ(ConfigDir(), dir_ / "second" / "config");
    fs::current_path(dir_);
    setenv("VELQ3_HOME", "third", 1);
    EXPECT_EQ(DataDir(), dir_ / "third" / "data");

    fs::current_path(oldCwd);
    if (saved) {
        setenv("VELQ3_HOME", saved->c_str(), 1);
    } else {
        unsetenv("VELQ3_HOME");
    }
}

}  // namespace
}  // namespace velq3
