// Tests of the port table: links resolved to the device, stable by-id names found in a
// folder of links, the held-or-free probe, the printed table and the permission message.
#include "platform/PortMap.h"
#include "platform/SerialPort.h"

#include <gtest/gtest.h>

#include "common/Unprivileged.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <grp.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace velq3 {
namespace {

using test::RunUnprivileged;

namespace fs = std::filesystem;

// A pseudo-terminal (the far end held open) and a temporary folder standing for
// /dev/serial/by-id.
class PortMapTest : public ::testing::Test {
protected:
    void SetUp() override {
        const test::TestPty pty = test::OpenTestPty();
        master_ = pty.master;
        ASSERT_GE(master_, 0) << std::strerror(errno);
        slave_ = pty.slave;
        char pattern[] = "/tmp/velq3-portmap-test-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        byId_ = dir_ / "by-id";
        fs::create_directory(byId_);
    }
    void TearDown() override {
        if (master_ >= 0) close(master_);
        fs::remove_all(dir_);
    }

    int master_ = -1;
    std::string slave_;
    fs::path dir_, byId_;
};

TEST_F(PortMapTest, ByIdLinkIsResolvedAndNamed) {
    const fs::path stable = byId_ / "usb-Maker_Controller_A1B2C3-if00-port0";
    fs::create_symlink(slave_, stable);
    fs::create_symlink(slave_, byId_ / "zz-second-name-of-the-same-device");
    fs::create_symlink(dir_ / "nothing-here", byId_ / "aa-dangling");
    // A link to the link elsewhere, as a user's SerialDevice<n> might be.
    const fs::path mine = dir_ / "my-controller";
    fs::create_symlink(stable, mine);

    EXPECT_EQ(ResolvePortPath(mine.string()), fs::canonical(slave_).string());
    EXPECT_EQ(ByIdName(slave_, byId_), stable.string()) << "the first name in order, dangling links skipped";
    EXPECT_EQ(ByIdName(mine.string(), byId_), stable.string());

    const PortInfo info = DescribePort(3, stable.string(), byId_);
    EXPECT_EQ(info.name, "COM3");
    EXPECT_EQ(info.configured, stable.string());
    EXPECT_EQ(info.path, fs::canonical(slave_).string());
    EXPECT_EQ(info.byId, stable.string());
    EXPECT_TRUE(info.present);
    EXPECT_EQ(info.use, PortUse::Free);

    // Without the by-id folder the port is still listed, with no stable name.
    EXPECT_EQ(DescribePort(3, slave_, dir_ / "missing").byId, "");
}

TEST_F(PortMapTest, MissingPortsAreAbsentAndKeepTheirPath) {
    const std::string missing = (dir_ / "ttyUSB9").string();
    const PortInfo info = DescribePort(1, missing, byId_);
    EXPECT_FALSE(info.present);
    EXPECT_EQ(info.use, PortUse::Absent);
    EXPECT_EQ(info.path, missing);
    EXPECT_EQ(info.byId, "");
    EXPECT_EQ(ResolvePortPath(""), "");
    fs::create_symlink(missing, dir_ / "dangling");
    EXPECT_EQ(ResolvePortPath((dir_ / "dangling").string()), (dir_ / "dangling").string());
    EXPECT_FALSE(DescribePort(2, (dir_ / "dangling").string(), byId_).present);
}

TEST_F(PortMapTest, PortOpenedByTheSerialCodeIsHeldAndFreedOnClose) {
    fs::create_symlink(slave_, byId_ / "usb-link");
    const PortHandle h = SerialOpen(slave_, 9600);
    ASSERT_NE(h, kNoPort);
    EXPECT_EQ(ProbePortUse(slave_), PortUse::Held);
    EXPECT_EQ(ProbePortUse((byId_ / "usb-link").string()), PortUse::Held) << "through the link too";
    EXPECT_EQ(DescribePort(1, slave_, byId_, false).use, PortUse::Unknown) << "not probed";
    SerialClose(h);
    EXPECT_EQ(ProbePortUse(slave_), PortUse::Free);
    // The probe left nothing behind: the serial code opens the port again.
    const PortHandle again = SerialOpen(slave_, 9600);
    EXPECT_NE(again, kNoPort);
    SerialClose(again);
}

TEST_F(PortMapTest, TableHasOneLinePerPortWithEveryColumn) {
    const fs::path stable = byId_ / "usb-Maker_Controller_A1B2C3-if00-port0";
    fs::create_symlink(slave_, stable);
    const std::string table = FormatPortTable(
        {DescribePort(1, (dir_ / "ttyUSB0").string(), byId_), DescribePort(2, stable.string(), byId_)});
    const auto firstNl = table.find('\n');
    ASSERT_NE(firstNl, std::string::npos);
    const std::string heading = table.substr(0, firstNl);
    for (const char* column : {"PORT", "PATH", "PRESENT", "HELD", "BY-ID"})
        EXPECT_NE(heading.find(column), std::string::npos) << column;
    const auto secondNl = table.find('\n', firstNl + 1);
    const std::string absent = table.substr(firstNl + 1, secondNl - firstNl - 1);
    const std::string present = table.substr(secondNl + 1, table.size() - secondNl - 2);
    EXPECT_EQ(absent.rfind("COM1 ", 0), 0u) << absent;
    EXPECT_NE(absent.find((dir_ / "ttyUSB0").string() + "  no "), std::string::npos) << absent;
    EXPECT_EQ(present.rfind("COM2 ", 0), 0u) << present;
    EXPECT_NE(present.find(fs::canonical(slave_).string()), std::string::npos) << present;
    EXPECT_NE(present.find(" yes "), std::string::npos) << present;
    EXPECT_EQ(present.substr(present.size() - stable.string().size()), stable.string()) << present;
    EXPECT_EQ(std::count(table.begin(), table.end(), '\n'), 3);
}

// A device this user may not open: the open fails with a message naming the device's group;
// the probe says so as well. Root opens anything, so the check runs in a child as uid 65534
// on a slave of mode 0600 owned by root; an ordinary user gets mode 0000 on its own slave.
TEST_F(PortMapTest, RefusedPermissionNamesTheGroupToJoin) {
    ASSERT_EQ(chmod(slave_.c_str(), geteuid() == 0 ? 0600 : 0000), 0) << std::strerror(errno);
    struct stat st {};
    ASSERT_EQ(stat(slave_.c_str(), &st), 0);
    const group* gr = getgrgid(st.st_gid);
    const std::string groupName = gr ? gr->gr_name : std::to_string(st.st_gid);
    const std::string expected = "no permission to open " + slave_ + ": join the group " + groupName +
                                 " (sudo usermod -aG " + groupName + " $USER) and log in again";
    EXPECT_EQ(PermissionMessage(slave_), expected);
    EXPECT_EQ(PermissionMessage((dir_ / "missing").string()),
              "no permission to open " + (dir_ / "missing").string() + ": a folder on its path is closed to this user")
        << "a node that cannot be looked at has no group to name";

    const std::string slave = slave_;
    const int code = RunUnprivileged([&] {
        std::string error;
        if (SerialOpen(slave, 9600, &error) != kNoPort) return 1;
        if (errno != EACCES) return 2;
        if (error != expected) return 3;
        if (ProbePortUse(slave) != PortUse::NoPermission) return 4;
        return 0;
    });
    EXPECT_EQ(code, 0) << "1: opened anyway, 2: errno not EACCES, 3: other message, 4: probe";
}

}  // namespace
}  // namespace velq3
