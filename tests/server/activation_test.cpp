// Activation: ProgID and command-line look-ups, the refusals, connecting to a running server,
// and starting the registered server command when nothing listens.
#include <signal.h>
#include <sys/stat.h>

#include <fstream>

#include "automation/Activation.h"
#include "server/Registration.h"
#include "server/ServerFixture.h"

namespace velq3::test {
namespace {

using namespace std::chrono_literals;

TEST(ActivationLookup, ProgIdsAndClsidStrings) {
    TempDir dir;
    RegistryHive hive{dir.file("classes.reg"), kClassesRoot};
    RegisterServer(hive, "/opt/velq3/bin/velq3");
    CLSID clsid;
    EXPECT_EQ(CLSIDFromProgID(hive, "VELQ3.FilterWheel", &clsid), S_OK);
    EXPECT_EQ(clsid, CLSID_FilterWheel);
    EXPECT_EQ(CLSIDFromProgID(hive, "velq3.focuser2", &clsid), S_OK);  // names compare in any case
    EXPECT_EQ(clsid, CLSID_Focuser2);
    EXPECT_EQ(CLSIDFromProgID(hive, "{0e8237bf-a456-4575-ac6c-ee91e0f1c5c8}", &clsid), S_OK);
    EXPECT_EQ(clsid, CLSID_Dome);
    for (const char* bad : {"VELQ3.Telescope", "", "VELQ3.Dome\\CLSID", "{0E8237BF-A456}"}) {
        EXPECT_EQ(CLSIDFromProgID(hive, bad, &clsid), CO_E_CLASSSTRING) << bad;
        EXPECT_EQ(clsid, CLSID{}) << bad;
    }
    hive.SetString("Broken.Class\\CLSID", "", "not a guid");
    EXPECT_EQ(CLSIDFromProgID(hive, "Broken.Class", &clsid), CO_E_CLASSSTRING);

    EXPECT_EQ(LocalServerCommand(hive, CLSID_Rotator), (std::vector<std::string>{"/opt/velq3/bin/velq3"}));
    EXPECT_FALSE(LocalServerCommand(hive, IID_IDispatch));
    EXPECT_EQ(SplitCommandLine("\"C:\\Program Files\\x.exe\" -a  \"b c\" d\"e f\"g \"say \"\"hi\"\"\""),
              (std::vector<std::string>{"C:\\Program Files\\x.exe", "-a", "b c", "de fg", "say \"hi\""}));
    EXPECT_EQ(SplitCommandLine("  "), std::vector<std::string>{});
    EXPECT_EQ(SplitCommandLine("\"\""), std::vector<std::string>{""});
}

class ActivationTest : public TransportTest {
protected:
    void SetUp() override {
        TransportTest::SetUp();
        options.classesRoot = &registrations;
        options.socketPath = socketPath;
        options.serverLog = dir.file("server.log");
        options.startTimeout = 300ms;
    }
    void TearDown() override {
        // The scripts started as servers end with the test.
        std::ifstream pidFile(dir.file("pid"));
        pid_t pid = 0;
        if (pidFile >> pid && pid > 0) ::kill(pid, SIGKILL);
        TransportTest::TearDown();
    }

    // Registers `script` (a shell script written to a file) as every class's server.
    void RegisterScript(const std::string& body) {
        const std::string path = dir.file("server.sh");
        std::ofstream(path) << "#!/bin/sh\n" << body << "\n";
        ::chmod(path.c_str(), 0700);
        RegisterServer(registrations, path);
    }
    std::string ReadFile(const std::string& name) {
        std::ifstream in(dir.file(name));
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    RegistryHive registrations{dir.file("registrations.reg"), kClassesRoot};
    ActivationOptions options;
};

TEST_F(ActivationTest, RefusalsBeforeAnythingIsStarted) {
    ComPtr<IDispatch> object;
    EXPECT_EQ(CoCreateInstance(CLSID_FilterWheel, nullptr, options, IID_IDispatch, object.PutVoid()), REGDB_E_CLASSNOTREG);
    RegisterScript("touch \"$0.ran\"");
    Outer outer;
    EXPECT_EQ(CoCreateInstance(CLSID_Focuser, &outer, options, IID_IUnknown, object.PutVoid()), CLASS_E_NOAGGREGATION);
    EXPECT_EQ(CoCreateInstance(CLSID_Focuser, nullptr, options, IID_IDispatch, nullptr), E_POINTER);
    EXPECT_FALSE(std::filesystem::exists(dir.file("server.sh.ran")));
}

TEST_F(ActivationTest, ARunningServerIsUsedAsItIs) {
    RegisterScript("touch \"$0.ran\"");
    CLSID clsid;
    ASSERT_EQ(CLSIDFromProgID(registrations, "VELQ3.Rotator", &clsid), S_OK);
    ComPtr<IDispatch> rotator;
    ASSERT_EQ(CoCreateInstance(clsid, nullptr, options, IID_IDispatch, rotator.PutVoid()), S_OK);
    EXPECT_EQ(LateGet(rotator.Get(), "Name"), Variant(Bstr("Orn Rotator")));
    ComPtr<IClassFactory> factory;
    ASSERT_EQ(CoGetClassObject(CLSID_Dome, options, IID_IClassFactory, factory.PutVoid()), S_OK);
    EXPECT_EQ(factory->LockServer(true), S_OK);
    EXPECT_EQ(Count(), 2);
    EXPECT_EQ(factory->LockServer(false), S_OK);
    EXPECT_FALSE(std::filesystem::exists(dir.file("server.sh.ran")));
}

TEST_F(ActivationTest, NothingListeningStartsTheRegisteredCommandAndWaitsForTheSocket) {
    loop.Run([this] { server.Stop(); });
    // The "server" notes its arguments and starts listening (here: the test does) once it runs.
    RegisterScript("echo $$ > \"$(dirname \"$0\")/pid\"; echo \"$@\" > \"$(dirname \"$0\")/args\"; "
                   "echo starting >&2; exec sleep 30");
    options.startTimeout = 10s;
    std::thread listener([this] {
        WaitFor([this] { return std::filesystem::exists(dir.file("args")); }, 5s);
        std::this_thread::sleep_for(50ms);
        server.Start(socketPath);
    });
    ComPtr<IDispatch> wheel;
    const HRESULT hr = CoCreateInstance(CLSID_FilterWheel, nullptr, options, IID_IDispatch, wheel.PutVoid());
    listener.join();
    ASSERT_EQ(hr, S_OK);
    EXPECT_EQ(LateGet(wheel.Get(), "Position"), Variant(std::int16_t{-1}));
    EXPECT_EQ(ReadFile("args"), "-Embedding\n");
    EXPECT_EQ(ReadFile("server.log"), "starting\n");
}

TEST_F(ActivationTest, AServerThatNeverListensOrEndsAtOnceFails) {
    loop.Run([this] { server.Stop(); });
    RegisterScript("echo $$ > \"$(dirname \"$0\")/pid\"; exec sleep 30");
    ComPtr<IDispatch> object;
    EXPECT_EQ(CoCreateInstance(CLSID_Dome, nullptr, options, IID_IDispatch, object.PutVoid()), CO_E_SERVER_EXEC_FAILURE);
    EXPECT_TRUE(std::filesystem::exists(dir.file("pid")));

    // A server that ends before it listens is noticed at once, not after the time-out.
    options.startTimeout = 60s;
    RegisterScript("exit 3");
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(CoCreateInstance(CLSID_Dome, nullptr, options, IID_IDispatch, object.PutVoid()), CO_E_SERVER_EXEC_FAILURE);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 30s);

    RegisterServer(registrations, dir.file("no-such-program"));
    EXPECT_EQ(CoCreateInstance(CLSID_Dome, nullptr, options, IID_IDispatch, object.PutVoid()), CO_E_SERVER_EXEC_FAILURE);
    EXPECT_FALSE(object);
}

} // namespace
} // namespace velq3::test
