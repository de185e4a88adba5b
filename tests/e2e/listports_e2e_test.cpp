// velq3 --list-ports as the user runs it: no display, the port table on standard output with a
// stable name made in a test folder for the simulator's terminal given as SerialDevice3.
#include "E2eFixture.h"

#include "platform/SerialPort.h"

namespace velq3::test {
namespace {

namespace fs = std::filesystem;

class ListPortsE2e : public E2eTest {
protected:
    // velq3 --list-ports without any display variable, with `byIdDir` as the by-id folder.
    RunResult ListPorts(const std::string& byIdDir) {
        std::vector<std::string> env;
        for (const std::string& v : Env())
            if (v.rfind("DISPLAY=", 0) != 0 && v.rfind("WAYLAND_DISPLAY=", 0) != 0 &&
                v.rfind("QT_QPA_PLATFORM=", 0) != 0 && v.rfind("VELQ3_BY_ID_DIR=", 0) != 0)
                env.push_back(v);
        env.push_back("VELQ3_BY_ID_DIR=" + byIdDir);
        Process p(Program("velq3"), {"--list-ports"}, env, {});
        RunResult r;
        r.status = p.Finish(&r.output, &r.error);
        return r;
    }
    static std::string LineOf(const RunResult& r, const std::string& port) {
        for (const std::string& line : r.Lines())
            if (line.rfind(port + " ", 0) == 0) return line;
        return {};
    }
    TempDir folder;
};

TEST_F(ListPortsE2e, StableNameGivenAsSerialDeviceIsResolvedAndShownHeldOrNot) {
    sim = std::make_unique<SimProcess>(std::vector<std::string>{});
    const fs::path byId = fs::path(folder.path()) / "by-id";
    fs::create_directory(byId);
    const fs::path stable = byId / "usb-Maker_Controller_E2E0001-if00-port0";
    fs::create_symlink(sim->ttyPath(), stable);
    {
        RegistryHive user(CurrentUserHivePath(HomeLookup()), kCurrentUserRoot);
        user.Load();
        user.SetString(kSettingsKey, "SerialDevice3", stable.string());
        ASSERT_TRUE(user.Save());
    }
    const std::string device = fs::canonical(sim->ttyPath()).string();

    RunResult free = ListPorts(byId.string());
    ASSERT_EQ(free.status, 0) << free.error;
    ASSERT_EQ(free.Lines().size(), 17u) << free.output;  // heading and COM1..COM16
    EXPECT_EQ(free.Lines()[0].rfind("PORT", 0), 0u);
    std::string line = LineOf(free, "COM3");
    EXPECT_NE(line.find(" " + device + " "), std::string::npos) << line;
    EXPECT_NE(line.find(" yes "), std::string::npos) << "present: " << line;
    EXPECT_EQ(line.substr(line.size() - stable.string().size()), stable.string()) << line;
    EXPECT_NE(line.find("yes      no "), std::string::npos) << "present, not held: " << line;
    EXPECT_EQ(LineOf(free, "COM2").find(stable.string()), std::string::npos) << "other ports have no such name";

    // Held by another program (this test), the same port shows as held.
    const PortHandle held = SerialOpen(device, 9600);
    ASSERT_NE(held, kNoPort);
    RunResult busy = ListPorts(byId.string());
    SerialClose(held);
    ASSERT_EQ(busy.status, 0) << busy.error;
    line = LineOf(busy, "COM3");
    EXPECT_NE(line.find("yes      yes "), std::string::npos) << "present and held: " << line;

    // The adapter unplugged: still listed under its configured name, absent, without a by-id name.
    // The link is left pointing at a node that is gone: the simulator's own terminal number may be
    // taken again at once by another program on the machine.
    sim.reset();
    fs::remove(stable);
    fs::create_symlink(fs::path(folder.path()) / "ttyUSB-unplugged", stable);
    RunResult gone = ListPorts(byId.string());
    ASSERT_EQ(gone.status, 0) << gone.error;
    line = LineOf(gone, "COM3");
    EXPECT_NE(line.find(stable.string() + "  no "), std::string::npos) << line;
}

}  // namespace
}  // namespace velq3::test
