// The main window's behaviour cases that need no toolkit, run against every layer: Connect and
// Disconnect beside other clients, Go, Set, the jog and the step, the cell values, and the
// settings files with the "Load failed" box.
#include <fstream>

#include "DialogLayers.h"
#include "ui/DialogTemplates.h"

namespace velq3::test {
namespace {

namespace idc = ui::idc;

TEST_P(WindowRulesTest, ConnectingThroughTheWindowEnablesTheControlsAndFillsTheList) {
    StartSim({"--sensors", "2"});
    sim->control("set temp 0 2150");
    sim->control("set temp 1 -375");
    sim->control("set volt 1210");
    sim->control("set out 128");
    sim->control("set sw 5");
    OpenWindow();
    const int acting[] = {idc::kDisconnect, idc::kSave, idc::kLoad, idc::kGo, idc::kTarget, idc::kSet, idc::kJog,
                          idc::kStep, idc::kStepSpin, idc::kFocuserSettings, idc::kWheelSettings, idc::kHeater};

    // Closed: only the connection controls and Exit work.
    EXPECT_TRUE(Enabled(idc::kConnect));
    EXPECT_TRUE(Enabled(idc::kPortList));
    EXPECT_TRUE(Enabled(idc::kExit));
    for (int id : acting) EXPECT_FALSE(Enabled(id)) << id;
    ui::DialogControls& c = window->Controls();
    EXPECT_EQ(c.RowCount(idc::kFilterList), 0);

    window->Choose(idc::kPortList, kSimPort);
    window->Click(idc::kConnect);
    ASSERT_TRUE(device->IsOpen());
    EXPECT_EQ(device->ComPort, kSimPort);
    EXPECT_TRUE(device->IsClient(window->Rules().ClientKey()));
    // The window follows at the next tick, not before.
    loop.AdvanceBy(std::chrono::milliseconds(999));
    EXPECT_TRUE(Enabled(idc::kConnect));
    loop.AdvanceBy(std::chrono::milliseconds(1));
    EXPECT_FALSE(Enabled(idc::kConnect));
    EXPECT_FALSE(Enabled(idc::kPortList));
    for (int id : acting) EXPECT_TRUE(Enabled(id)) << id;
    EXPECT_EQ(Text(idc::kConnect), "Connect");
    // A wheel: no second focuser row.
    EXPECT_FALSE(c.Shown(idc::kPosition2));
    EXPECT_FALSE(c.Shown(idc::kJog2));
    EXPECT_FALSE(c.Shown(idc::kDirection2));
    EXPECT_TRUE(c.Shown(idc::kFilterList));

    // The filter table with its five columns.
    ASSERT_EQ(c.ColumnCount(idc::kFilterList), 5);
    ASSERT_EQ(c.RowCount(idc::kFilterList), 7);
    const char* row1[] = {"R", "1", "1", "35", "0"};
    for (int col = 0; col < 5; ++col) EXPECT_EQ(c.CellText(idc::kFilterList, 1, col), row1[col]) << col;

    // What the poll shows.
    EXPECT_EQ(Text(idc::kTemperature0), "21.50");
    EXPECT_EQ(Text(idc::kTemperature0 + 1), "-3.75");
    EXPECT_TRUE(Enabled(idc::kAutoBox0));
    EXPECT_TRUE(Enabled(idc::kAutoBox0 + 1));
    EXPECT_FALSE(Enabled(idc::kAutoBox0 + 2));  // the image declares two sensors
    EXPECT_EQ(Text(idc::kTemperature0 + 2), "");
    EXPECT_EQ(Text(idc::kPowerLine), "Vin=12.10  Out=50.0%  Sw_0101");
    EXPECT_EQ(Text(idc::kPosition), std::to_string(device->FocusPos));
    EXPECT_EQ(Text(idc::kDirection), device->FocusDir > 0 ? "U" : "D");
    ASSERT_GE(device->CurrentFilter, 0);

    // Disconnect closes the port; the next tick empties the list and re-enables Connect.
    window->Click(idc::kDisconnect);
    EXPECT_FALSE(device->IsOpen());
    Tick();
    EXPECT_TRUE(Enabled(idc::kConnect));
    EXPECT_TRUE(Enabled(idc::kPortList));
    EXPECT_FALSE(Enabled(idc::kDisconnect));
    EXPECT_FALSE(Enabled(idc::kSave));
    EXPECT_EQ(c.RowCount(idc::kFilterList), 0);
}

TEST_P(WindowRulesTest, ConnectCaptionAndDisconnectRuleFollowTheOtherClients) {
    StartConnected();
    const ClientId a = 0x1001, b = 0x1002;
    EXPECT_EQ(Text(idc::kConnect), "Connect");
    EXPECT_TRUE(Enabled(idc::kDisconnect));

    ASSERT_TRUE(device->ConnectMulti(a));
    Tick();
    EXPECT_EQ(Text(idc::kConnect), "Conn (1)");
    EXPECT_FALSE(Enabled(idc::kDisconnect));
    ASSERT_TRUE(device->ConnectMulti(b));
    Tick();
    EXPECT_EQ(Text(idc::kConnect), "Conn (2)");

    // The window lets go; the two others keep the port open.
    EXPECT_FALSE(device->DisconnectMulti(window->Rules().ClientKey()));
    Tick();
    EXPECT_TRUE(device->IsOpen());
    EXPECT_EQ(Text(idc::kConnect), "Conn (2)");
    EXPECT_FALSE(Enabled(idc::kDisconnect));
    EXPECT_FALSE(Enabled(idc::kConnect));

    device->DisconnectMulti(a);
    EXPECT_TRUE(device->DisconnectMulti(b));
    Tick();
    EXPECT_EQ(Text(idc::kConnect), "Connect");
    EXPECT_TRUE(Enabled(idc::kConnect));
    EXPECT_EQ(window->Controls().RowCount(idc::kFilterList), 0);
}

TEST_P(WindowRulesTest, GoSetJogAndStep) {
    StartConnected();
    const auto focuserPosition = [this] {
        int p = 0;
        EXPECT_TRUE(device->GetFocus(p, 0));
        return p;
    };
    window->Type(idc::kTarget, "1234");
    window->Click(idc::kSet);
    EXPECT_EQ(focuserPosition(), 1234);
    Tick();
    EXPECT_EQ(Text(idc::kPosition), "1234");

    window->Type(idc::kTarget, "70000");  // low 16 bits: 4464
    window->Click(idc::kGo);
    EXPECT_EQ(focuserPosition(), 4464);
    window->Type(idc::kTarget, "");  // no number: no move
    logLines.clear();
    window->Click(idc::kGo);
    window->Click(idc::kSet);
    EXPECT_EQ(focuserPosition(), 4464);
    EXPECT_EQ(CountLog("OK GoFocus"), 0);

    // The step box takes any unsigned number; the jog moves by it.
    window->Type(idc::kStep, "25");
    EXPECT_EQ(device->MinMotorStep, 25);
    window->Step(idc::kJog, true);
    EXPECT_EQ(focuserPosition(), 4489);
    EXPECT_EQ(Text(idc::kPosition), "4489");
    window->ArrowKey(idc::kPosition, false);  // arrow keys in the position box jog as well
    EXPECT_EQ(focuserPosition(), 4464);
    EXPECT_EQ(Text(idc::kPosition), "4464");

    // The step spin keeps 1..200.
    window->Step(idc::kStepSpin, true);
    EXPECT_EQ(device->MinMotorStep, 26);
    EXPECT_EQ(Text(idc::kStep), "26");
    window->Type(idc::kStep, "200");
    window->Step(idc::kStepSpin, true);
    EXPECT_EQ(device->MinMotorStep, 200);
    window->Type(idc::kStep, "1");
    window->Step(idc::kStepSpin, false);
    EXPECT_EQ(device->MinMotorStep, 1);
    window->Type(idc::kStep, "5000");
    EXPECT_EQ(device->MinMotorStep, 5000);
    window->Type(idc::kStep, "abc");
    EXPECT_EQ(device->MinMotorStep, 0);
}

TEST_P(WindowRulesTest, AnUnchangedValueWritesNothing) {
    StartConnected();
    // The controller's memory changed behind the device object's back; a later write of the
    // memory image puts the device object's mode back.
    const auto markDeviceMemory = [this] {
        sim->control("set mode 6");
        ASSERT_EQ(DeviceMemoryByte(1), 6);
    };
    const auto imageWasWritten = [this] { return DeviceMemoryByte(1) == 7; };
    markDeviceMemory();
    window->EditCell(1, 3, "35");
    EXPECT_FALSE(imageWasWritten());
    window->EditCell(1, 2, "1");
    EXPECT_FALSE(imageWasWritten());
    window->EditCell(1, 3, "N");  // 20000, a change
    EXPECT_TRUE(imageWasWritten());
    markDeviceMemory();
    window->EditCell(1, 3, "any n at all");  // 20000 again: unchanged
    EXPECT_FALSE(imageWasWritten());
}

TEST_P(WindowRulesTest, NewCorrectionOfTheCurrentFilterMovesTheWheelAgain) {
    StartConnected();
    const int current = device->CurrentFilter;
    ASSERT_GE(current, 0);
    logLines.clear();
    window->EditCell(current, 2, std::to_string(current + 10));
    EXPECT_EQ(CountLog("Goto("), 1);
    EXPECT_EQ(device->CurrentFilter, current);
    // Another row's correction moves nothing.
    logLines.clear();
    window->EditCell((current + 1) % 7, 2, "9");
    EXPECT_EQ(CountLog("Goto("), 0);
}

TEST_P(WindowRulesTest, SaveThenLoadRestoresTheDeviceConfiguration) {
    StartConnected();
    const std::string path = dir.file("setup.fws2");
    window->chooserPath = path;
    device->ChangeFilterTimeoutMs = 4321;
    window->Click(idc::kSave);
    EXPECT_EQ(window->savedWith, std::vector<bool>({true}));
    EXPECT_EQ(window->pollingDuringChooser, std::vector<int>({0}));
    EXPECT_EQ(window->Rules().PollingEnabled, 1);
    ASSERT_TRUE(std::ifstream(path).good());

    device->ChangeFilterTimeoutMs = 1000;
    device->FocuserBacklash = 999;  // changed in the copy only; the load brings back the file's
    window->Click(idc::kLoad);
    EXPECT_EQ(window->savedWith, std::vector<bool>({true, false}));
    EXPECT_TRUE(window->Messages().empty());
    EXPECT_EQ(device->ChangeFilterTimeoutMs, 4321);
    EXPECT_NE(device->FocuserBacklash, 999);
    EXPECT_TRUE(device->IsOpen());
}

TEST_P(WindowRulesTest, FailedLoadShowsTheBoxAndCancelDoesNothing) {
    StartConnected();
    window->chooserPath = dir.file("missing.fws2");
    window->Click(idc::kLoad);
    EXPECT_EQ(window->Messages(), std::vector<std::string>({"Load failed|Load Failed"}));
    EXPECT_EQ(window->Rules().PollingEnabled, 1);

    const size_t shown = window->Messages().size();
    window->chooserPath.reset();
    window->Click(idc::kSave);
    window->Click(idc::kLoad);
    EXPECT_EQ(window->Messages().size(), shown);
}

}  // namespace
}  // namespace velq3::test
