// The server program end to end: the registration switches, activation by ProgID with the
// simulated controller, the end of the server after its last client (and not before), one
// serial connection shared by two client processes, a killed client's objects, and the
// command-line client's output and exit codes.
#include "e2e/E2eFixture.h"

namespace velq3::test {
namespace {

constexpr const char* kWheelClsidKey = "CLSID\\{C3E62667-A1F3-4064-8B64-45CDED7C718C}";

TEST_F(E2eTest, RegistrationSwitchesInAnyCaseRegisterAndEndWithoutAWindow) {
    const auto start = Clock::now();
    RunResult r = Run(Program("velq3"), {"/REGSERVER"}, 10s);
    ASSERT_EQ(r.status, 0) << r.error;
    EXPECT_LT(Seconds(Clock::now() - start), 5.0);  // ended by itself, nothing was shown
    RegistryHive classes = Classes();
    const std::string exe = std::filesystem::canonical(Program("velq3")).string();
    EXPECT_EQ(classes.GetString("VELQ3.FilterWheel\\CLSID", ""), "{C3E62667-A1F3-4064-8B64-45CDED7C718C}");
    EXPECT_EQ(classes.GetString(std::string(kWheelClsidKey) + "\\LocalServer32", ""), "\"" + exe + "\"");
    EXPECT_TRUE(classes.KeyExists("TypeLib\\{181202A3-A1F3-4287-9D85-A166A769E015}\\1.0"));
    EXPECT_FALSE(SocketExists());

    // Both switches: registration only, whichever comes first.
    r = Run(Program("velq3"), {"/regserver", "/UNREGSERVER"}, 10s);
    ASSERT_EQ(r.status, 0) << r.error;
    EXPECT_TRUE(Classes().KeyExists(kWheelClsidKey));

    r = Run(Program("velq3"), {"/UnRegServer"}, 10s);
    ASSERT_EQ(r.status, 0) << r.error;
    classes = Classes();
    EXPECT_FALSE(classes.KeyExists("VELQ3.FilterWheel"));
    EXPECT_FALSE(classes.KeyExists(kWheelClsidKey));
    EXPECT_TRUE(classes.KeyExists("CLSID"));

    r = Run(Program("velq3"), {"/unregserver", "/regserver"}, 10s);
    ASSERT_EQ(r.status, 0) << r.error;
    EXPECT_TRUE(Classes().KeyExists(kWheelClsidKey));
}

TEST_F(E2eTest, AMinusRegserverIsNotRecognisedAndStartsTheProgram) {
    auto velq3 = Start(Program("velq3"), {"-regserver"}, {false, home.path() + "/out.txt", home.path() + "/err.txt"});
    std::this_thread::sleep_for(1500ms);
    EXPECT_FALSE(velq3->WaitExit(0ms)) << "the operator's window should be running";
    EXPECT_FALSE(Classes().KeyExists(kWheelClsidKey));
    EXPECT_EQ(ServerPid(), velq3->Pid());  // it serves clients beside its window
    velq3->Signal(SIGTERM);
    EXPECT_EQ(velq3->WaitExit(10s), 0);  // the orderly exit
    EXPECT_FALSE(SocketExists());
}

TEST_F(E2eTest, AClientActivatesTheServerByProgIdAndDrivesTheWheel) {
    Register();
    StartController();
    const RunResult r = Run(Program("velq3-ctl"),
                            {"VELQ3.FilterWheel", "Connected=true", "Position=2", "Position", "Names", "FocusOffsets"});
    const auto released = Clock::now();
    ASSERT_EQ(r.status, 0) << r.output << r.error;
    EXPECT_EQ(r.Lines(), (std::vector<std::string>{
                             "Connected = true",
                             "Position = 2",
                             "Position = 2",
                             R"(Names = ["L", "R", "G", "B", "Ha", "OIII", "SII"])",
                             "FocusOffsets = [0, 35, 20, 45, 60, 55, 65]",
                         }));
    const pid_t server = ServerPid();
    ASSERT_GT(server, 0);
    EXPECT_TRUE(Alive(server));
    EXPECT_NE(ServerLog().find("CFilterWheelImpl::put_Position(2)"), std::string::npos) << ServerLog();

    // About 5 s after the last release the server ends by itself.
    ASSERT_TRUE(WaitServerExit(server, 15s));
    const double after = Seconds(Clock::now() - released);
    EXPECT_GE(after, 4.5);
    EXPECT_LE(after, 9.0);
    EXPECT_FALSE(SocketExists());
}

TEST_F(E2eTest, TheServerStaysWhenANewObjectComesWithinFiveSeconds) {
    Register();
    RunResult r = Run(Program("velq3-ctl"), {"VELQ3.Rotator", "Name"});
    ASSERT_EQ(r.status, 0) << r.error;
    const auto first = Clock::now();
    const pid_t server = ServerPid();
    std::this_thread::sleep_for(3s);
    r = Run(Program("velq3-ctl"), {"VELQ3.Rotator", "DriverVersion"});
    const auto second = Clock::now();
    ASSERT_EQ(r.status, 0) << r.error;
    EXPECT_EQ(r.output, "DriverVersion = 3.4\n");
    EXPECT_EQ(ServerPid(), server);  // the same server answered
    std::this_thread::sleep_until(first + 6500ms);
    EXPECT_TRUE(Alive(server)) << "ended 5 s after the first release although a new object came";
    ASSERT_TRUE(WaitServerExit(server, 10s));
    EXPECT_GE(Seconds(Clock::now() - second), 4.5);
}

TEST_F(E2eTest, TwoClientProcessesShareOneSerialConnectionAndAKilledClientReleasesItsObjects) {
    Register();
    StartController();
    auto holder = Start(Program("velq3-ctl"), {"VELQ3.FilterWheel", "-"}, {true, "", home.path() + "/holder.err"});
    holder->Write("Connected=true\n");
    ASSERT_EQ(holder->ReadLine(), "Connected = true");
    const pid_t server = ServerPid();

    const RunResult other = Run(Program("velq3-ctl"), {"VELQ3.Focuser", "Link=true", "Link", "Position", "Link=false"});
    ASSERT_EQ(other.status, 0) << other.output << other.error;
    EXPECT_EQ(other.Lines()[0], "Link = true");
    EXPECT_EQ(other.Lines()[1], "Link = true");
    const std::string log = ServerLog();
    // The port opened once: one "= connect"; the second client's connection and
    // disconnection are both skips, and the port stays open.
    EXPECT_EQ(CountLines(log, "ConnectMulti(0x"), 2) << log;
    EXPECT_EQ(CountLines(log, "= connect"), 1) << log;
    EXPECT_EQ(CountLines(log, "DisconnectMulti(0x"), 1) << log;
    EXPECT_EQ(CountLines(log, ") = skip"), 2) << log;
    EXPECT_EQ(CountLines(log, "= Disconnect"), 0) << log;

    // The first client still drives the wheel on the shared connection.
    holder->Write("Position=4\n");
    EXPECT_EQ(holder->ReadLine(), "Position = 4");
    const auto otherGone = Clock::now();
    std::this_thread::sleep_until(otherGone + 5500ms);
    EXPECT_TRUE(Alive(server)) << "the first client's object should keep the server";

    holder->Signal(SIGKILL);
    const auto killed = Clock::now();
    ASSERT_TRUE(WaitServerExit(server, 15s)) << "the killed client's object was not released";
    EXPECT_GE(Seconds(Clock::now() - killed), 4.5);
}

TEST_F(E2eTest, AnOperatorStartedServerEndsAfterItsLastClientWithTheWindowOpen) {
    Register();
    auto velq3 = Start(Program("velq3"), {}, {false, home.path() + "/out.txt", home.path() + "/err.txt"});
    const auto deadline = Clock::now() + 10s;
    while (!(SocketExists() && ServerPid() == velq3->Pid()) && Clock::now() < deadline) std::this_thread::sleep_for(10ms);
    ASSERT_EQ(ServerPid(), velq3->Pid());
    const RunResult r = Run(Program("velq3-ctl"), {"VELQ3.Dome", "Name", "ShutterStatus"});
    const auto released = Clock::now();
    ASSERT_EQ(r.status, 0) << r.error;
    EXPECT_EQ(r.Lines()[0], "Name = Orn Dome");
    EXPECT_EQ(velq3->WaitExit(15s), 0);
    EXPECT_GE(Seconds(Clock::now() - released), 4.5);
}

TEST_F(E2eTest, TheClientPrintsOneLinePerOperationAndTellsFailuresByItsExitStatus) {
    Register();
    RunResult r = Run(Program("velq3-ctl"), {"VELQ3.Focuser", "MaxIncrement", "Halt()", "StepSize", "Absolute",
                                             "Move(1, 2)", "Nonsense", "Move(", "TempComp=maybe"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.Lines(), (std::vector<std::string>{
                             "MaxIncrement = 5000",
                             "Halt: error 0x80020009 Not Supported",
                             "StepSize = 10",
                             "Absolute = true",
                             "Move: error 0x8002000E Invalid number of parameters.",
                             "Nonsense: error 0x80020006 Unknown name.",
                             "Move(: error 0x80070057 The parameter is incorrect.",
                             "TempComp: error 0x80020005 Type mismatch.",
                         }));
    r = Run(Program("velq3-ctl"), {"{0E8237AF-A456-4575-AC6C-EE91E0F1C5C6}", "CanReverse", "Reverse=-1", "Reverse",
                                   "Move(10.5)"});
    EXPECT_EQ(r.status, 1);  // the move fails: no controller
    EXPECT_EQ(r.Lines()[2], "Reverse = true");
    EXPECT_EQ(r.Lines()[3], "Move: error 0x80004005 Unspecified error");
    r = Run(Program("velq3-ctl"), {"VELQ3.Rotator", "Name", "SupportedActions"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.output, "Name = Orn Rotator\nSupportedActions = []\n");

    r = Run(Program("velq3-ctl"), {"VELQ3.Telescope", "Name"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.output, "");
    EXPECT_NE(r.error.find("VELQ3.Telescope: error 0x800401F3"), std::string::npos) << r.error;
    EXPECT_EQ(Run(Program("velq3-ctl"), {}).status, 2);
    r = Run(Program("velq3-ctl"), {"--help"});
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.output.find("velq3-ctl PROGID OP..."), std::string::npos);
}

TEST_F(E2eTest, AClosedStandardErrorNeitherKillsTheServerNorLosesItsSettings) {
    Register();
    // Without a display the first thing the server does is say so on standard error.
    auto velq3 = StartWithout({"QT_QPA_PLATFORM=", "DISPLAY=", "WAYLAND_DISPLAY="}, Program("velq3"), {"-Embedding"},
                              {false, "/dev/null", "", true});
    ASSERT_TRUE(WaitListening(velq3->Pid()));
    const RunResult r = Run(Program("velq3-ctl"), {"VELQ3.Focuser", "Absolute"});
    EXPECT_EQ(r.status, 0) << r.error;
    EXPECT_EQ(velq3->WaitExit(15s), 0);  // the idle end, not SIGPIPE
    EXPECT_TRUE(std::filesystem::exists(CurrentUserHivePath(HomeLookup())));
}

TEST_F(E2eTest, AStandardErrorNobodyReadsNeverHoldsUpTheServer) {
    Register();
    // Every call writes its log line to standard error; a pipe holds 64 KiB.
    auto velq3 = Start(Program("velq3"), {"-Embedding"}, {false, "/dev/null", ""});
    ASSERT_TRUE(WaitListening(velq3->Pid()));
    std::vector<std::string> ops(3000, "MaxStep");
    const RunResult r = Run(Program("velq3-ctl"), [&] {
        std::vector<std::string> args{"VELQ3.Focuser"};
        args.insert(args.end(), ops.begin(), ops.end());
        return args;
    }(), 30s);
    ASSERT_EQ(r.status, 0) << r.error;
    EXPECT_EQ(r.Lines().size(), ops.size());
    EXPECT_EQ(velq3->WaitExit(15s), 0);
}

TEST_F(E2eTest, AServerStartedBeforeTheRegistrationServesLateBoundCalls) {
    auto velq3 = Start(Program("velq3"), {"-Embedding"}, {false, "/dev/null", home.path() + "/err.txt"});
    ASSERT_TRUE(WaitListening(velq3->Pid()));
    Register();  // another process writes the classes hive while the server runs
    const RunResult r = Run(Program("velq3-ctl"), {"VELQ3.Focuser", "Absolute", "MaxIncrement"});
    EXPECT_EQ(r.status, 0) << r.output << r.error;
    EXPECT_EQ(r.output, "Absolute = true\nMaxIncrement = 5000\n");
    EXPECT_EQ(ServerPid(), velq3->Pid());  // served by the server that was running
}

TEST_F(E2eTest, SetupDialogWithoutADisplayReturnsAtOnceWithAnError) {
    Register();
    const auto start = Clock::now();
    const RunResult r = Run(Program("velq3-ctl"), {"VELQ3.Focuser", "SetupDialog()", "Absolute"}, 10s);
    ASSERT_TRUE(r.status) << "SetupDialog did not return";
    EXPECT_EQ(r.status, 1);
    ASSERT_EQ(r.Lines().size(), 2u) << r.output;
    EXPECT_NE(r.Lines()[0].find("no display"), std::string::npos) << r.Lines()[0];
    EXPECT_NE(r.Lines()[0].find("error 0x80004005"), std::string::npos) << r.Lines()[0];  // E_FAIL
    EXPECT_EQ(r.Lines()[1], "Absolute = true");
    EXPECT_LT(Seconds(Clock::now() - start), 8.0);
}

TEST_F(E2eTest, TheOperatorClosingAClientsSetupDialogDoesNotEndTheServerUnderAnother) {
    if (!std::filesystem::exists("/usr/bin/Xvfb") || !std::filesystem::exists("/usr/bin/xdotool"))
        GTEST_SKIP() << "needs Xvfb and xdotool (scripts/setup.sh installs them)";
    Register();
    // A display of its own for this test.
    Process xvfb("/usr/bin/Xvfb", {"-displayfd", "1", "-nolisten", "tcp", "-screen", "0", "800x600x24"}, Env(), {});
    const std::string display = xvfb.ReadLine(15s);
    if (display.empty()) GTEST_SKIP() << "Xvfb did not start";
    std::vector<std::string> env;
    for (const std::string& v : Env())
        if (v.rfind("QT_QPA_PLATFORM=", 0) != 0 && v.rfind("DISPLAY=", 0) != 0) env.push_back(v);
    env.push_back("DISPLAY=:" + display);

    // Client A holds a Focuser; client B asks for the setup dialog, which the operator sees
    // and dismisses with Esc.
    Process holder(Program("velq3-ctl"), {"VELQ3.Focuser", "-"}, env, {true, "", home.path() + "/holder.err"});
    holder.Write("Absolute\n");
    ASSERT_EQ(holder.ReadLine(20s), "Absolute = true");
    const pid_t server = ServerPid();
    Process setup(Program("velq3-ctl"), {"VELQ3.FilterWheel", "SetupDialog()"}, env, {});
    RunResult found;
    Process search("/usr/bin/xdotool", {"search", "--sync", "--onlyvisible", "--class", "velq3"}, env, {});
    found.status = search.Finish(&found.output, &found.error, 15s);
    ASSERT_EQ(found.status, 0) << "no window appeared: " << found.error;
    Process esc("/usr/bin/xdotool", {"windowfocus", "--sync", found.Lines().at(0), "key", "Escape"}, env, {});
    ASSERT_EQ(esc.Finish(nullptr, nullptr, 10s), 0);
    std::string out, err;
    EXPECT_EQ(setup.Finish(&out, &err, 15s), 0) << out << err;

    std::this_thread::sleep_for(500ms);
    EXPECT_TRUE(Alive(server)) << "the server ended under client A";
    holder.Write("Absolute\n");
    EXPECT_EQ(holder.ReadLine(), "Absolute = true");
}

} // namespace
} // namespace velq3::test
