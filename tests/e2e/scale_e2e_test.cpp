// velq3 --scale: a value that is no step is refused before anything starts, and the scale of
// one run leaves the stored one as it was.
#include "e2e/E2eFixture.h"

namespace velq3::test {
namespace {

TEST_F(E2eTest, ScaleOptionTakesTheStepsOnly) {
    for (const std::vector<std::string>& args : {std::vector<std::string>{"--scale", "140"},
                                                 std::vector<std::string>{"--scale", "big"},
                                                 std::vector<std::string>{"--scale"}}) {
        const RunResult r = Run(Program("velq3"), args, 10s);
        EXPECT_EQ(r.status, 2) << args.back();
        EXPECT_NE(r.error.find("expected a percentage, 100, 125, 150, 175 or 200"), std::string::npos) << r.error;
        EXPECT_FALSE(SocketExists());  // nothing started
    }
    const RunResult help = Run(Program("velq3"), {"--help"}, 10s);
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.output.find("--scale P"), std::string::npos) << help.output;
}

TEST_F(E2eTest, ScaleForOneRunIsNotStored) {
    {
        RegistryHive user(CurrentUserHivePath(HomeLookup()), kCurrentUserRoot);
        user.Load();
        user.SetDword(kSettingsKey, "UiScale", 175);
        ASSERT_TRUE(user.Save());
    }
    auto velq3 = Start(Program("velq3"), {"--scale", "200", "--no-alpaca"},
                       {false, home.path() + "/out.txt", home.path() + "/err.txt"});
    ASSERT_TRUE(WaitListening(velq3->Pid()));
    velq3->Signal(SIGTERM);
    ASSERT_EQ(velq3->WaitExit(10s), 0);  // the orderly exit, which saves the window settings
    RegistryHive user(CurrentUserHivePath(HomeLookup()), kCurrentUserRoot);
    ASSERT_EQ(user.Load(), RegistryHive::LoadResult::Loaded);
    EXPECT_EQ(user.GetDword(kSettingsKey, "UiScale"), 175u);
    EXPECT_TRUE(user.GetDword(kSettingsKey, "OnTop").has_value());  // the settings were saved
}

}  // namespace
}  // namespace velq3::test
