// The device object's ports: a stable name (a link) given for a port opens the device behind
// it and is shown resolved, and a port refused for lack of permission is reported with the
// group to join.
#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include "device/DeviceFixture.h"
#include "common/Unprivileged.h"
#include "platform/PortMap.h"

namespace velq3::test {
namespace {

namespace fs = std::filesystem;

using PortsTest = DeviceTest;

TEST_F(PortsTest, StableNameOfAPortIsResolvedShownAndConnected) {
    StartSim({}, 3);
    const fs::path byId = fs::path(dir.path()) / "by-id";
    fs::create_directory(byId);
    const fs::path stable = byId / "usb-Maker_Controller_D3V1C3-if00-port0";
    fs::create_symlink(sim->ttyPath(), stable);
    {
        RegistryHive user(dir.file("user.reg"), kCurrentUserRoot);
        user.SetString(kSettingsKey, "SerialDevice3", stable.string());
        ASSERT_TRUE(user.Save());
    }
    hive.Load();
    DeviceEnvironment env;
    env.userHive = &hive;
    env.byIdDir = byId;
    OrnFilterWheel fw(env);

    const PortInfo shown = fw.DescribePort(3);
    EXPECT_EQ(shown.name, "COM3");
    EXPECT_EQ(shown.path, fs::canonical(sim->ttyPath()).string());
    EXPECT_EQ(shown.byId, stable.string());
    EXPECT_EQ(fw.DescribePort(4).byId, "");

    fw.ComPort = 3;
    ASSERT_TRUE(fw.OpenLink());
    EXPECT_TRUE(fw.m_bStatusPresent);
    EXPECT_EQ(fw.PermissionProblem(), "");
    fw.CloseLink();
}

// Root opens anything: the device is then a pty slave of mode 0600 owned by root, opened by a
// child running as uid 65534; an ordinary user gets mode 0000 on a slave of its own.
TEST_F(PortsTest, RefusedPermissionIsReportedWithTheGroupUntilAConnectionSucceeds) {
    const TestPty pty = OpenTestPty();
    ASSERT_GE(pty.master, 0);
    const std::string& slave = pty.slave;
    ASSERT_EQ(chmod(slave.c_str(), geteuid() == 0 ? 0600 : 0000), 0);
    const std::string expected = "COM2: " + PermissionMessage(slave);
    const std::string missing = "/dev/velq3-no-such-tty";  // reachable by any user

    const int status = RunUnprivileged([&] {
        DeviceEnvironment env;
        env.portPath = [&](int n) { return n == 2 ? slave : missing; };
        OrnFilterWheel fw(env);
        fw.ComPort = 0;  // the scan: a later missing port does not hide the refusal
        if (fw.OpenLink()) return 1;
        if (fw.PermissionProblem() != expected) return 2;
        fw.ComPort = 4;  // a missing port alone is no permission problem
        if (fw.OpenLink() || !fw.PermissionProblem().empty()) return 3;
        return 0;
    });
    close(pty.master);
    EXPECT_EQ(status, 0) << "1: connected, 2: no or another message, 3: not cleared, 90: no drop";
}

}  // namespace
}  // namespace velq3::test
