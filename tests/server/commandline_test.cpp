// The command-line rules: where the registration switches are found, which one wins, and the
// switch of a start by a client.
#include <gtest/gtest.h>

#include "server/CommandLine.h"

namespace velq3 {
namespace {

CommandLineInfo Parse(std::vector<std::string> args) { return ParseCommandLine(args); }

TEST(CommandLine, RegistrationSwitchesAreFoundAnywhereInAnyCase) {
    EXPECT_TRUE(Parse({"/regserver"}).registerServer);
    EXPECT_TRUE(Parse({"/REGSERVER"}).registerServer);
    EXPECT_TRUE(Parse({"--x", "/RegServer"}).registerServer);
    EXPECT_TRUE(Parse({"abc/regserverxyz"}).registerServer);  // a substring of the line is enough
    EXPECT_TRUE(Parse({"/UnRegServer"}).unregisterServer);
    EXPECT_FALSE(Parse({"/UnRegServer"}).registerServer);
    EXPECT_TRUE(Parse({"/UnRegServer"}).RegistrationRun());

    // Only the slash forms count; a minus is an ordinary argument.
    for (const char* other : {"-regserver", "-unregserver", "regserver", "/reg server", "\\regserver"}) {
        const CommandLineInfo info = Parse({other});
        EXPECT_FALSE(info.RegistrationRun()) << other;
        EXPECT_FALSE(info.embedding) << other;
    }
    EXPECT_FALSE(Parse({}).RegistrationRun());
}

TEST(CommandLine, BothSwitchesRegisterOnly) {
    for (auto args : {std::vector<std::string>{"/unregserver", "/regserver"}, {"/regserver", "/unregserver"}}) {
        const CommandLineInfo info = Parse(args);
        EXPECT_TRUE(info.registerServer);
        EXPECT_FALSE(info.unregisterServer);
    }
}

TEST(CommandLine, TheCopyIsCutAt1023CharactersAndLowerCased) {
    // A switch beyond the copied part is not seen; one that ends just inside it is.
    const std::string pad(1023 - 10, 'x');
    EXPECT_TRUE(Parse({pad + "/REGSERVER"}).registerServer);    // ends at character 1023
    EXPECT_FALSE(Parse({pad + "x/regserver"}).registerServer);  // ends at 1024
    const CommandLineInfo info = Parse({"A", "B/C"});
    EXPECT_EQ(info.copy, "a b/c");
    EXPECT_EQ(Parse({std::string(3000, 'Q')}).copy, std::string(1023, 'q'));
}

TEST(CommandLine, AClientStartIsAWholeEmbeddingOrAutomationSwitch) {
    for (const char* yes : {"-Embedding", "/Embedding", "-embedding", "/AUTOMATION", "-Automation"})
        EXPECT_TRUE(Parse({"x", yes}).embedding) << yes;
    for (const char* no : {"Embedding", "--Embedding", "-Embedding2", "-Embed", "/regserver-Embedding"})
        EXPECT_FALSE(Parse({no}).embedding) << no;
    // The embedding test reads the whole argument list, not the cut copy.
    EXPECT_TRUE(Parse({std::string(2000, 'y'), "-Embedding"}).embedding);
}

} // namespace
} // namespace velq3
