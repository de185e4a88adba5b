// The window against a simulated controller: connecting and disconnecting through the
// multi-client connection, the enable and show rules, and what the once-a-second poll shows.
#include <QHeaderView>

#include "UiFixture.h"
#include "common/ScriptedPeer.h"
#include "link/SerialLink.h"

namespace velq3::test {
namespace {

using StatusTest = UiTest;

TEST_F(StatusTest, ConnectingThroughTheWindowShowsTheTitlePortPathsFocusAndColumnWidths) {
    StartSim({"--sensors", "2"});
    MakeWindow();
    EXPECT_EQ(dlg->Window()->windowTitle(), "Orn Filter Wheel & Focuser Control V3.5");
    // The port list names the device path of each port beside it.
    auto* ports = Get<QComboBox>(idc::kPortList);
    ASSERT_EQ(ports->count(), 16);
    EXPECT_EQ(ports->itemText(0), "Auto");
    EXPECT_EQ(ports->itemText(15), "COM15");
    EXPECT_EQ(ports->model()->index(kSimPort, 1).data().toString().toStdString(), sim->ttyPath());

    ConnectThroughWindow();
    EXPECT_EQ(dlg->Window()->focusWidget(), Get(idc::kPosition));
    // The filter table's columns share the list's width beside the fixed "#" column.
    QTreeWidget* list = List();
    ASSERT_EQ(list->columnCount(), 5);
    const int client = list->viewport()->width();
    EXPECT_EQ(list->columnWidth(1), 30);
    for (int c : {0, 2, 3, 4}) EXPECT_EQ(list->columnWidth(c), (client - 30) / 4);
    ASSERT_EQ(list->topLevelItemCount(), 7);
    for (int i = 0; i < 7; ++i)
        EXPECT_EQ(list->topLevelItem(i)->data(0, CFilterWheelDlg::kImageRole).toInt(), i == device->CurrentFilter ? 1 : 0);
    const QStringList heads = {"Name", "#", "Correction", "Focus Shift", "Flat Box"};
    for (int c = 0; c < 5; ++c) EXPECT_EQ(list->headerItem()->text(c), heads[c]);
}

TEST_F(StatusTest, FailedConnectShowsNoMessageAndEnterConnectsWhileClosed) {
    StartSim();
    MakeWindow();
    Get<QComboBox>(idc::kPortList)->setCurrentIndex(5);  // nothing there
    Click(idc::kConnect);
    EXPECT_FALSE(device->IsOpen());
    EXPECT_TRUE(device->ClientSet.empty());
    Tick();
    EXPECT_TRUE(Enabled(idc::kConnect));
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);  // no message box

    // Enter in any box acts as Connect while the port is closed, and never reaches the box.
    Get<QComboBox>(idc::kPortList)->setCurrentIndex(kSimPort);
    auto* name = Get<QLineEdit>(idc::kSensorName0);
    int returns = 0;
    QObject::connect(name, &QLineEdit::returnPressed, [&] { ++returns; });
    Key(name, Qt::Key_Return);
    EXPECT_TRUE(device->IsOpen());
    Key(name, Qt::Key_Return);  // open now: nothing
    EXPECT_EQ(returns, 0);
    EXPECT_EQ(device->ClientSet.size(), 1u);
}

TEST_F(StatusTest, OnlyChangedValuesAreWrittenAndAMissingSensorEmptiesItsRow) {
    StartSim({"--sensors", "2"});
    sim->control("set temp 0 1800");
    sim->control("set temp 1 none");
    MakeWindow();
    ConnectThroughWindow();
    EXPECT_EQ(Text(idc::kTemperature0), "18.00");
    EXPECT_EQ(Text(idc::kTemperature0 + 1), "");
    EXPECT_FALSE(Enabled(idc::kAutoBox0 + 1));

    // Unchanged values are not written again.
    Get<QLineEdit>(idc::kPosition)->setText("mark");
    Get<QLineEdit>(idc::kTemperature0 + 1)->setText("mark");
    Get<QLabel>(idc::kPowerLine)->setText("mark");
    Tick();
    EXPECT_EQ(Text(idc::kPosition), "mark");
    EXPECT_EQ(Text(idc::kTemperature0 + 1), "mark");
    EXPECT_EQ(Text(idc::kPowerLine), "mark");

    // A change is shown; the sensor's Auto box comes back with its reading.
    sim->control("set temp 1 1000");
    sim->control("set volt 1175");
    Tick();
    EXPECT_EQ(Text(idc::kTemperature0 + 1), "10.00");
    EXPECT_TRUE(Enabled(idc::kAutoBox0 + 1));
    EXPECT_EQ(Text(idc::kPowerLine), "Vin=11.75  Out=0.0%  Sw_0000");
    EXPECT_EQ(Text(idc::kPosition), "mark");

    // A failed query shows "???"; the next success shows both positions though unchanged.
    sim->control("fault silent");
    Tick();
    EXPECT_EQ(Text(idc::kPosition), "???");
    EXPECT_EQ(Text(idc::kPosition2), "???");
    EXPECT_FALSE(List()->isEnabled());
    sim->control("fault none");
    Tick();
    EXPECT_EQ(Text(idc::kPosition), QString::number(device->FocusPos));
    EXPECT_EQ(Text(idc::kPosition2), QString::number(device->Focus2Pos));
    EXPECT_TRUE(List()->isEnabled());
}

TEST_F(StatusTest, TransfersTowardsTheControlsRefreshEveryTemperature) {
    StartSim({"--sensors", "2"});
    sim->control("set temp 0 1800");
    sim->control("set temp 1 1900");
    MakeWindow();
    ConnectThroughWindow();
    EXPECT_TRUE(Enabled(idc::kAutoBox0));
    // A transfer (as after a settings dialog) disables the Auto boxes; the next poll shows
    // the unchanged readings and enables them again.
    dlg->ExchangeData(CFilterWheelDlg::Transfer::ToControls);
    EXPECT_FALSE(Enabled(idc::kAutoBox0));
    Get<QLineEdit>(idc::kTemperature0)->clear();
    Tick();
    EXPECT_TRUE(Enabled(idc::kAutoBox0));
    EXPECT_TRUE(Enabled(idc::kAutoBox0 + 1));
    EXPECT_EQ(Text(idc::kTemperature0), "18.00");
}

TEST_F(StatusTest, NoQueryWhilePollingIsSuspendedOrTheDeviceIsBusy) {
    StartConnected();
    Get<QLineEdit>(idc::kPosition)->setText("mark");
    sim->control("fault silent");  // a query would show "???"
    dlg->PollingEnabled = 0;
    Tick();
    EXPECT_EQ(Text(idc::kPosition), "mark");
    dlg->PollingEnabled = 1;
    device->m_bBusy = true;
    ASSERT_TRUE(device->ConnectMulti(0x77));
    Tick();
    EXPECT_EQ(Text(idc::kPosition), "mark");
    EXPECT_EQ(Text(idc::kConnect), "Conn (1)");  // the connection controls still follow
    device->m_bBusy = false;
    Tick();
    EXPECT_EQ(Text(idc::kPosition), "???");
}

TEST_F(StatusTest, SecondMotorModesHideTheFilterList) {
    StartConnected({"--mode", "0"});
    for (int mode : {0, -1, -2, 5}) {
        SCOPED_TRACE(mode);
        sim->control("set mode " + std::to_string(mode));
        Click(idc::kDisconnect);
        Tick();
        Click(idc::kConnect);
        ASSERT_TRUE(device->IsOpen());
        Tick();
        const bool wheel = mode > 0;
        EXPECT_EQ(Shown(idc::kFilterList), wheel);
        EXPECT_EQ(Shown(idc::kPosition2), !wheel);
        EXPECT_EQ(Shown(idc::kJog2), !wheel);
        EXPECT_EQ(Shown(idc::kDirection2), !wheel);
    }
}

TEST_F(StatusTest, OlderDeviceIsAskedItemByItemOnEveryTick) {
    StartSim({"--no-all", "--sensors", "1"});
    sim->control("set temp 0 -1250");
    sim->control("set volt 1210");
    sim->control("set out 128");
    MakeWindow();
    ConnectThroughWindow();
    ASSERT_FALSE(device->m_bStatusPresent);
    EXPECT_EQ(Text(idc::kTemperature0), "-12.50");
    EXPECT_TRUE(Enabled(idc::kAutoBox0));
    EXPECT_FALSE(Enabled(idc::kAutoBox0 + 1));  // sensor 1 is absent
    EXPECT_EQ(Text(idc::kTemperature0 + 1), "");
    EXPECT_EQ(Text(idc::kPowerLine), "Vin=12.10\tOut=50.0%");
    EXPECT_EQ(Text(idc::kPosition), QString::number(device->FocusPos));
    EXPECT_TRUE(List()->isEnabled());
    for (int i = 0; i < List()->topLevelItemCount(); ++i)
        EXPECT_EQ(List()->topLevelItem(i)->data(0, CFilterWheelDlg::kImageRole).toInt(), i == device->CurrentFilter);

    // No change detection on this path: every tick writes again.
    Get<QLineEdit>(idc::kPosition)->setText("mark");
    Tick();
    EXPECT_EQ(Text(idc::kPosition), QString::number(device->FocusPos));

    sim->control("fault silent");
    Tick();
    EXPECT_EQ(Text(idc::kPosition), "???");
    EXPECT_EQ(Text(idc::kDirection), " ");
    EXPECT_EQ(Text(idc::kTemperature0), "");
    EXPECT_FALSE(Enabled(idc::kAutoBox0));
    EXPECT_EQ(Text(idc::kPowerLine), "");
    EXPECT_FALSE(List()->isEnabled());
}

class OlderDeviceTest : public UiTest {
protected:
    // The window on a scripted older controller (no "FWAll") with a focuser, a wheel and
    // `sensors` thermometers, as its handshake leaves the device object.
    void OpenOlderDevice(int sensors) {
        MakeWindow();
        device->m_hPort = OpenSerialPort(peer.path(), 9600);
        ASSERT_TRUE(device->IsOpen());
        device->m_bStatusPresent = false;
        device->m_bFocuserPresent = true;
        device->m_bWheelPresent = true;
        device->Mode = 7;
        device->SensorCount = sensors;
    }
    ScriptedPeer peer;
};

// A controller that stops answering costs the tick one time-out, not one per query: the first
// query that goes unanswered ends the tick, which shows everything as unread.
TEST_F(OlderDeviceTest, TheFirstUnansweredQueryEndsTheTick) {
    OpenOlderDevice(4);
    Get<QLineEdit>(idc::kPosition)->setText("1234");
    Get<QLineEdit>(idc::kTemperature0 + 2)->setText("20.00");
    Get<QLabel>(idc::kPowerLine)->setText("Vin=12.10\tOut=50.0%");
    Tick();
    EXPECT_EQ(peer.Drain(200), B("FWisAuto"));
    EXPECT_EQ(Text(idc::kPosition), "???");
    EXPECT_EQ(Text(idc::kDirection), " ");
    for (int k = 0; k < 4; ++k) {
        EXPECT_EQ(Text(idc::kTemperature0 + k), "") << k;
        EXPECT_FALSE(Enabled(idc::kAutoBox0 + k)) << k;
    }
    EXPECT_EQ(Text(idc::kPowerLine), "");
    EXPECT_FALSE(List()->isEnabled());
}

// A thermometer that answers "no reading" is the sensor's own state, not a silent controller:
// the tick goes on with the other sensors, the focuser, the voltage and the wheel.
TEST_F(OlderDeviceTest, AnAbsentSensorEndsNothing) {
    OpenOlderDevice(3);
    const Bytes noReading = {0x00, 0x80};
    peer.Run({{8, {'/'}},                       // FWisAuto: no compensation
              {14, {0x66, 0x08}},               // FWtemperature0: 21.50
              {14, noReading},                  // FWtemperature1
              {14, {0x83, 0xFB}},               // FWtemperature2: -11.49
              {7, {0xD2, 0x04}},                // FWfocus: 1234
              {10, {'+'}},                      // FWdirFocus
              {6, {0xBA, 0x04, 128}},           // FWVolt: 12.10 V, 50 %
              {8, {'2'}}});                     // FWFILTER
    Tick();
    peer.Join();
    EXPECT_EQ(Text(idc::kTemperature0), "21.50");
    EXPECT_TRUE(Enabled(idc::kAutoBox0));
    EXPECT_EQ(Text(idc::kTemperature0 + 1), "");
    EXPECT_FALSE(Enabled(idc::kAutoBox0 + 1));
    EXPECT_EQ(Text(idc::kTemperature0 + 2), "-11.49");
    EXPECT_EQ(dlg->AutoSensor, -1);
    EXPECT_EQ(Text(idc::kPosition), "1234");
    EXPECT_EQ(Text(idc::kDirection), "U");
    EXPECT_EQ(Text(idc::kPowerLine), "Vin=12.10\tOut=50.0%");
    EXPECT_TRUE(List()->isEnabled());
    EXPECT_EQ(device->CurrentFilter, 2);
    EXPECT_EQ(peer.Drain(100).size(), 8u + 3 * 14 + 7 + 10 + 6 + 8);  // nothing more was asked
}

// A status block with every field set, from a scripted controller: switch bits beyond the
// low four are not shown.
TEST_F(StatusTest, StatusBlockFieldsAndTheLowFourSwitchBits) {
    ScriptedPeer peer;
    MakeWindow();
    device->m_hPort = OpenSerialPort(peer.path(), 9600);
    ASSERT_TRUE(device->IsOpen());
    device->m_bStatusPresent = true;
    device->Mode = 3;
    device->SensorCount = 2;
    Bytes block = {'1', '+', 0xD2, 0x04,   // filter 1, up, 1234
                   0x66, 0x08, 0x00, 0x80, 0, 0, 0, 0,  // 21.50, no reading, two more
                   '0', 0xBA, 0x04, 128,   // compensation on sensor 0, 12.10 V, 50 %
                   '-', 0xCE, 0xFF, 0x1A};  // second focuser down at -50, switches 0x1A
    Bytes reply = Cat(Bytes{static_cast<std::uint8_t>(block.size())}, block);
    peer.Run({{5, reply}});
    Tick();
    peer.Join();
    EXPECT_EQ(peer.Received(), B("FWAll"));
    EXPECT_EQ(Text(idc::kPowerLine), "Vin=12.10  Out=50.0%  Sw_1010");
    EXPECT_EQ(Text(idc::kPosition), "1234");
    EXPECT_EQ(Text(idc::kDirection), "U");
    EXPECT_EQ(Text(idc::kPosition2), "-50");
    EXPECT_EQ(Text(idc::kDirection2), "D");
    EXPECT_EQ(Text(idc::kTemperature0), "21.50");
    EXPECT_EQ(Text(idc::kTemperature0 + 1), "");
    EXPECT_FALSE(Enabled(idc::kAutoBox0 + 1));
    EXPECT_EQ(dlg->AutoSensor, 0);
    EXPECT_EQ(Get<QCheckBox>(idc::kAutoBox0)->checkState(), Qt::Checked);
    EXPECT_EQ(device->CurrentFilter, 1);
    EXPECT_EQ(dlg->MarkedFilter, 1);
}

}  // namespace
}  // namespace velq3::test
