// The start-up sequence and exit of the server process with test hooks for the window and the
// loop: registration runs, operator and client starts, the shutdown rule ending both, and a
// client start that finds the socket taken.
#include <fstream>

#include "automation/Activation.h"
#include "server/CMyApp.h"
#include "server/Registration.h"
#include "server/ServerFixture.h"

namespace velq3::test {
namespace {

using namespace std::chrono_literals;

class AppTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::ofstream(exe) << "program";
        device.SetSink([](std::string_view) {});
    }

    // Runs the application with `args` on this thread; the hooks note what ran.
    int Run(std::vector<std::string> args, std::function<void()> duringLoop = {}) {
        ServerSettings settings;
        settings.arguments = std::move(args);
        settings.executable = exe;
        settings.classesRoot = &classes;
        settings.socketPath = socketPath;
        settings.idleTimeout = 200ms;
        settings.socketWait = 200ms;
        settings.diagnostics = [this](std::string_view line) { diagnostics.emplace_back(line); };
        ServerHooks hooks;
        hooks.createMainWindow = [this]() -> IClientWindow* {
            ++windowsCreated;
            return &window;
        };
        hooks.runModalWindow = [&] {
            ++modalRuns;
            RunLoop(duringLoop);
        };
        hooks.runMessageLoop = [&] {
            ++loopRuns;
            RunLoop(duringLoop);
        };
        hooks.postQuit = [this] { loop.Quit(); };
        app = std::make_unique<CMyApp>(device, loop, std::move(settings), std::move(hooks));
        return app->Run();
    }

    // The loop runs while `client` works on another thread and until the shutdown rule ends
    // it (at most 3 s); without a client it ends at once.
    void RunLoop(const std::function<void()>& client) {
        socketExisted = std::filesystem::exists(socketPath);
        std::thread worker([&] {
            if (client) client();
            if (!client || !WaitFor([this] { return app->Module().QuitPosted(); }, 3s)) loop.Quit();
        });
        loop.Run();
        worker.join();
    }

    // A client that creates `clsid`, calls `member` and lets the object go.
    void UseOnce(const CLSID& clsid, const char* member = "Connected") {
        RegistryHive registrations{dir.file("registrations.reg"), kClassesRoot};
        RegisterServer(registrations, "/nonexistent/velq3");
        ActivationOptions options{&registrations, socketPath, 1s, {}};
        ComPtr<IDispatch> object;
        ASSERT_EQ(CoCreateInstance(clsid, nullptr, options, IID_IDispatch, object.PutVoid()), S_OK);
        CallByName(object.Get(), member, DISPATCH_METHOD | DISPATCH_PROPERTYGET);
    }

    TempDir dir;
    std::string exe = dir.file("velq3");
    std::filesystem::path socketPath = dir.file("automation.sock");
    RegistryHive classes{dir.file("classes.reg"), kClassesRoot};
    PollMainLoop loop;
    OrnFilterWheel device{DeviceEnvironment{}};
    RecordingWindow window;
    std::unique_ptr<CMyApp> app;
    int windowsCreated = 0, modalRuns = 0, loopRuns = 0;
    bool socketExisted = false;
    std::vector<std::string> diagnostics;
};

TEST_F(AppTest, ARegistrationRunRegistersAndEndsWithoutWindowOrLoop) {
    EXPECT_EQ(Run({"/REGSERVER"}), 0);
    RegistryHive saved{dir.file("classes.reg"), kClassesRoot};
    ASSERT_EQ(saved.Load(), RegistryHive::LoadResult::Loaded);
    EXPECT_EQ(saved.GetString("CLSID\\{C3E62667-A1F3-4064-8B64-45CDED7C718C}\\LocalServer32", "ServerExecutable"), exe);
    EXPECT_EQ(windowsCreated, 1);  // the window object, never its window
    EXPECT_EQ(modalRuns + loopRuns, 0);
    EXPECT_FALSE(std::filesystem::exists(socketPath));  // nobody was served
    EXPECT_EQ(app->Classes().Count(), 0u);

    app.reset();
    EXPECT_EQ(Run({"/unregserver", "/regserver"}), 0);  // registers only
    EXPECT_TRUE(classes.KeyExists("VELQ3.Rotator"));
    app.reset();
    EXPECT_EQ(Run({"/UnRegServer"}), 0);
    EXPECT_FALSE(classes.KeyExists("VELQ3.Rotator"));
    EXPECT_TRUE(classes.KeyExists("CLSID"));
    EXPECT_EQ(modalRuns + loopRuns, 0);
}

TEST_F(AppTest, AMinusSwitchIsAnOperatorStartWithTheWindow) {
    EXPECT_EQ(Run({"-regserver"}), 0);
    EXPECT_EQ(modalRuns, 1);
    EXPECT_EQ(loopRuns, 0);
    EXPECT_TRUE(socketExisted);
    EXPECT_FALSE(classes.KeyExists("VELQ3.Rotator"));
    EXPECT_FALSE(app->Module().QuitPosted());  // never served a client: never ended that way
}

TEST_F(AppTest, AClientStartRunsTheLoopAndEndsAfterTheLastRelease) {
    RegisterServer(classes, exe);  // late binding needs the type library's registration
    EXPECT_EQ(Run({"-Embedding"}, [this] { UseOnce(CLSID_FilterWheel, "SetupDialog"); }), 0);
    EXPECT_EQ(loopRuns, 1);
    EXPECT_EQ(modalRuns, 0);
    EXPECT_TRUE(app->Module().QuitPosted());
    EXPECT_EQ(window.fronts, 1);  // the drivers reach the window object
    EXPECT_EQ(app->Classes().Count(), 0u);  // revoked at exit
    EXPECT_FALSE(std::filesystem::exists(socketPath));
    EXPECT_EQ(app->Module().LockCount().Count(), 0);
}

TEST_F(AppTest, AnOperatorStartEndsAfterItsLastClientToo) {
    EXPECT_EQ(Run({}, [this] { UseOnce(CLSID_Rotator); }), 0);
    EXPECT_EQ(modalRuns, 1);
    EXPECT_TRUE(app->Module().QuitPosted());
}

TEST_F(AppTest, AClientStartThatCannotServeEndsAtOnce) {
    ClassTable other;
    LoopThread otherLoop;
    TransportServer running(other, otherLoop.Loop(), VelqTypeLib());
    ASSERT_EQ(running.Start(socketPath), TransportServer::StartResult::Started);
    EXPECT_EQ(Run({"/Embedding"}), 1);
    EXPECT_EQ(loopRuns + modalRuns, 0);
    ASSERT_EQ(diagnostics.size(), 1u);
    EXPECT_NE(diagnostics[0].find("another server is running"), std::string::npos) << diagnostics[0];
    // The operator's process goes on with its window.
    app.reset();
    diagnostics.clear();
    EXPECT_EQ(Run({}), 0);
    EXPECT_EQ(modalRuns, 1);
    EXPECT_EQ(diagnostics.size(), 1u);
    EXPECT_TRUE(std::filesystem::exists(socketPath));  // still the other server's
    otherLoop.Run([&] { running.Stop(); });
}

} // namespace
} // namespace velq3::test
