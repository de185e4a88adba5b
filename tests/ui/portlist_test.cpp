// The window's port list: beside each COMn its device path with links resolved and its stable
// by-id name, with the rows (the stored port indexes) unchanged; a port refused for lack of
// permission is named in the title until a connection succeeds.
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "UiFixture.h"
#include "platform/PortMap.h"

namespace velq3::test {
namespace {

namespace fs = std::filesystem;

class PortListTest : public UiTest {
protected:
    // The window over a device whose port `kSimPort` is `simPortPath` and whose port 2 is
    // `port2Path`; every other port is missing. Stable names are looked up in `byId`.
    void MakeWindowWith(const std::string& simPortPath, const std::string& port2Path) {
        byId = fs::path(dir.path()) / "by-id";
        fs::create_directories(byId);
        DeviceEnvironment env;
        env.userHive = &hive;
        env.loop = &loop;
        env.byIdDir = byId;
        env.portPath = [this, simPortPath, port2Path](int n) {
            if (n == kSimPort) return simPortPath;
            if (n == 2 && !port2Path.empty()) return port2Path;
            return dir.file("no-such-tty" + std::to_string(n));
        };
        device = std::make_unique<OrnFilterWheel>(env);
        dlg = std::make_unique<CFilterWheelDlg>(*device, loop);
        ASSERT_TRUE(dlg->CreateModeless());
    }
    std::string Cell(int row, int column) {
        return Get<QComboBox>(idc::kPortList)->model()->index(row, column).data().toString().toStdString();
    }
    fs::path byId;
};

TEST_F(PortListTest, StableNameIsShownBesideTheResolvedPathAndConnects) {
    StartSim();
    const fs::path stable = fs::path(dir.path()) / "by-id" / "usb-Maker_Controller_W1ND0W-if00-port0";
    fs::create_directories(stable.parent_path());
    fs::create_symlink(sim->ttyPath(), stable);
    MakeWindowWith(stable.string(), "");

    auto* ports = Get<QComboBox>(idc::kPortList);
    ASSERT_EQ(ports->count(), 16);
    ASSERT_EQ(ports->model()->columnCount(), 3);
    EXPECT_EQ(ports->itemText(0), "Auto");
    EXPECT_EQ(Cell(0, 1), "scan all ports");
    for (int n = 1; n <= 15; ++n) EXPECT_EQ(ports->itemText(n).toStdString(), "COM" + std::to_string(n));
    EXPECT_EQ(Cell(kSimPort, 1), fs::canonical(sim->ttyPath()).string());
    EXPECT_EQ(Cell(kSimPort, 2), stable.string());
    EXPECT_EQ(Cell(1, 1), dir.file("no-such-tty1"));
    EXPECT_EQ(Cell(1, 2), "");

    ports->setCurrentIndex(kSimPort);
    Click(idc::kConnect);
    ASSERT_TRUE(device->IsOpen());
    EXPECT_EQ(device->ComPort, kSimPort) << "the stored value is still the row";
    EXPECT_EQ(dlg->Window()->windowTitle(), "Orn Filter Wheel & Focuser Control V3.5");
}

TEST_F(PortListTest, RefusedPermissionIsNamedInTheTitleUntilAConnectionSucceeds) {
    if (geteuid() == 0) GTEST_SKIP() << "root opens a device whatever its mode; the refusal itself is tested "
                                        "in the platform and device tests in an unprivileged child";
    StartSim();
    const std::string closed = dir.file("closed-tty");
    { std::ofstream(closed) << ""; }
    ASSERT_EQ(chmod(closed.c_str(), 0000), 0);
    MakeWindowWith(sim->ttyPath(), closed);
    const QString base = dlg->Window()->windowTitle();

    Get<QComboBox>(idc::kPortList)->setCurrentIndex(2);
    Click(idc::kConnect);
    ASSERT_FALSE(device->IsOpen());
    const std::string note = "COM2: " + PermissionMessage(closed);
    EXPECT_EQ(dlg->Window()->windowTitle().toStdString(), base.toStdString() + " - " + note);
    EXPECT_EQ(Get<QComboBox>(idc::kPortList)->toolTip().toStdString(), note);

    Get<QComboBox>(idc::kPortList)->setCurrentIndex(kSimPort);
    Click(idc::kConnect);
    ASSERT_TRUE(device->IsOpen());
    EXPECT_EQ(dlg->Window()->windowTitle(), base);
}

}  // namespace
}  // namespace velq3::test
