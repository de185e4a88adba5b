// The filter wheel settings dialog against a simulated controller: the mode byte's load and
// store rules, the enable and show rules, the mode-change step, the currents, OK and Cancel;
// and the current texts shared with the focuser settings dialog.
#include "SettingsDlgFixture.h"
#include "ui/qt/FilterWheelSettingsDlg.h"

namespace velq3::test {
namespace {

using ui::CFilterWheelSettingsDlg;
namespace wid = ui::wheel_settings_id;

TEST(CurrentFormatterTest, AmperesAboveThreeTenthsMilliamperesUpToItPercentWithoutByte200) {
    OrnFilterWheel fw;
    const ui::CurrentFormatter f(fw);
    fw.m_MemorySize = 202;
    EXPECT_EQ(f.FormatCurrent(0), "0 mA");
    EXPECT_EQ(f.FormatCurrent(17), "100 mA");
    EXPECT_EQ(f.FormatCurrent(50), "294 mA");
    EXPECT_EQ(f.FormatCurrent(51), "0.30 A");
    EXPECT_EQ(f.FormatCurrent(85), "0.50 A");
    EXPECT_EQ(f.FormatCurrent(255), "1.50 A");
    fw.m_MemorySize = 201;  // the first size that holds byte 200
    EXPECT_EQ(f.FormatCurrent(85), "0.50 A");
    for (int size : {200, 174, 144}) {
        fw.m_MemorySize = size;
        EXPECT_EQ(f.FormatCurrent(0), "0.0 %");
        EXPECT_EQ(f.FormatCurrent(85), "33.3 %");
        EXPECT_EQ(f.FormatCurrent(255), "100.0 %");
    }
}

class WheelSettingsTest : public SettingsDlgTest {
protected:
    std::unique_ptr<CFilterWheelSettingsDlg> Open() {
        auto d = std::make_unique<CFilterWheelSettingsDlg>(*device);
        d->Prompt = RecordPrompt();
        return d;
    }
    static bool Checked(CFilterWheelSettingsDlg& d, int id) { return qobject_cast<QCheckBox*>(d.Control(id))->isChecked(); }
    static bool Enabled(CFilterWheelSettingsDlg& d, int id) { return d.Control(id)->isEnabled(); }
    static bool Shown(CFilterWheelSettingsDlg& d, int id) { return !d.Control(id)->isHidden(); }
    static QString Text(CFilterWheelSettingsDlg& d, int id) {
        QWidget* w = d.Control(id);
        if (auto* e = qobject_cast<QLineEdit*>(w)) return e->text();
        if (auto* l = qobject_cast<QLabel*>(w)) return l->text();
        return qobject_cast<QAbstractButton*>(w)->text();
    }
    void Click(CFilterWheelSettingsDlg& d, int id) { C<QAbstractButton>(d, id)->click(); }
    bool FilterCountRowShown(CFilterWheelSettingsDlg& d) {
        const bool shown = Shown(d, wid::kFilterCount);
        EXPECT_EQ(Shown(d, wid::kFilterCountSpin), shown);
        EXPECT_EQ(Shown(d, wid::kFilterCountLabel), shown);
        return shown;
    }
};

TEST_F(WheelSettingsTest, EachModeByteOpensWithItsBoxesAndCountAndIsStoredUnchanged) {
    OpenDevice();
    struct Case {
        int mode;
        int checkedBox;  // 0: none
        const char* count;
        bool countShown;
    };
    const Case cases[] = {{14, wid::kVirtualWheelMode, "4", true}, {7, 0, "7", true},
                          {20, wid::kVirtualWheelMode, "10", true}, {0, wid::kSecondFocuserMode, "6", false},
                          {-1, wid::kRotatorMode, "6", false},      {-2, wid::kCoverMode, "6", false}};
    for (const Case& c : cases) {
        SCOPED_TRACE("mode " + std::to_string(c.mode));
        Reconfigure("set mode " + std::to_string(c.mode));
        auto d = Open();
        for (int box : {wid::kVirtualWheelMode, wid::kSecondFocuserMode, wid::kRotatorMode, wid::kCoverMode})
            EXPECT_EQ(Checked(*d, box), box == c.checkedBox) << box;
        EXPECT_EQ(Text(*d, wid::kFilterCount), c.count);
        EXPECT_EQ(FilterCountRowShown(*d), c.countShown);

        // Stored unchanged, written to the controller and read back by the handshake.
        sim->control("set mode 9");
        d->OnOK();
        EXPECT_EQ(d->result(), QDialog::Accepted);
        EXPECT_EQ(static_cast<std::int8_t>(DeviceMemoryByte(1)), c.mode);
        EXPECT_EQ(device->Mode, c.mode);
    }
}

TEST_F(WheelSettingsTest, CoverWinsOverRotatorAndSecondFocuserOverVirtualWheel) {
    OpenDevice();
    {
        auto d = Open();
        Click(*d, wid::kRotatorMode);
        Click(*d, wid::kCoverMode);
        d->OnOK();
        EXPECT_EQ(static_cast<std::int8_t>(DeviceMemoryByte(1)), -2);
    }
    Reconfigure("set mode 7");
    {
        auto d = Open();
        Click(*d, wid::kVirtualWheelMode);
        Click(*d, wid::kSecondFocuserMode);
        // The virtual wheel box is disabled now but keeps its check mark.
        EXPECT_FALSE(Enabled(*d, wid::kVirtualWheelMode));
        EXPECT_TRUE(Checked(*d, wid::kVirtualWheelMode));
        d->OnOK();
        EXPECT_EQ(DeviceMemoryByte(1), 0);
        EXPECT_TRUE(device->TwoMotorForm());
    }
}

TEST_F(WheelSettingsTest, ModeBoxesSetEnableShowRulesLabelAndSensorCaption) {
    OpenDevice();
    auto d = Open();
    EXPECT_EQ(d->windowTitle(), "FilterWheel Settings Dialog");
    EXPECT_EQ(Items(C<QComboBox>(*d, wid::kPowerOutList)),
              QStringList({"Всегда =0", "Всегда =1", "Активен=1, Пассивен=0", "Активен=0,  Пассивен=1"}));
    const int modeDependent[] = {wid::kSpeedSpin,     wid::kRotatorMode,  wid::kCoverMode,
                                 wid::kPowerOutList,  wid::kMaxSteps,     wid::kMotorCurrentSpin,
                                 wid::kMotorCurrent,  wid::kSecondFocuserMode, wid::kVirtualWheelMode};
    for (int id : modeDependent) EXPECT_TRUE(Enabled(*d, id)) << id;
    EXPECT_TRUE(FilterCountRowShown(*d));
    EXPECT_TRUE(Shown(*d, wid::kHomeSensor));
    EXPECT_EQ(Text(*d, wid::kMaxStepsLabel), "Max Steps\nto change Filter");
    EXPECT_EQ(Text(*d, wid::kHomeSensor), "Home mark is seen by Filter sensor");

    Click(*d, wid::kRotatorMode);
    EXPECT_EQ(Text(*d, wid::kMaxStepsLabel), "Steps\nper 360 rotation");
    EXPECT_FALSE(Shown(*d, wid::kHomeSensor));
    EXPECT_FALSE(FilterCountRowShown(*d));
    EXPECT_FALSE(Enabled(*d, wid::kSecondFocuserMode));
    EXPECT_FALSE(Enabled(*d, wid::kVirtualWheelMode));
    EXPECT_FALSE(Enabled(*d, wid::kPowerOutList));
    EXPECT_TRUE(Enabled(*d, wid::kMaxSteps));
    EXPECT_TRUE(Enabled(*d, wid::kCoverMode));

    Click(*d, wid::kRotatorMode);
    Click(*d, wid::kCoverMode);
    EXPECT_EQ(Text(*d, wid::kMaxStepsLabel), "Max Steps\nto open Cover");
    EXPECT_TRUE(Shown(*d, wid::kHomeSensor));
    EXPECT_EQ(Text(*d, wid::kHomeSensor), "Cover has endstop sensors");
    EXPECT_FALSE(FilterCountRowShown(*d));
    EXPECT_FALSE(Enabled(*d, wid::kSecondFocuserMode));

    Click(*d, wid::kCoverMode);
    Click(*d, wid::kSecondFocuserMode);
    EXPECT_EQ(Text(*d, wid::kMaxStepsLabel), "Max Steps\nto change Filter");
    EXPECT_EQ(Text(*d, wid::kHomeSensor), "Home mark is seen by Filter sensor");
    EXPECT_FALSE(Shown(*d, wid::kHomeSensor));
    EXPECT_FALSE(Enabled(*d, wid::kMaxSteps));  // the second focuser alone has no travel limit
    EXPECT_FALSE(Enabled(*d, wid::kVirtualWheelMode));
    EXPECT_FALSE(Enabled(*d, wid::kPowerOutList));

    Click(*d, wid::kRotatorMode);  // with the second focuser box still checked
    EXPECT_TRUE(Enabled(*d, wid::kMaxSteps));
    EXPECT_EQ(Text(*d, wid::kMaxStepsLabel), "Steps\nper 360 rotation");
}

TEST_F(WheelSettingsTest, CurrentSpinsKeepTheirLimitsAndTheRunningCurrentNeedsByte200) {
    OpenDevice();
    {
        auto d = Open();  // 202 bytes: the simulator's running current 20 is loaded
        EXPECT_EQ(Text(*d, wid::kMotorCurrent), "117 mA");
        EXPECT_TRUE(Enabled(*d, wid::kMotorCurrentSpin));
        auto* idle = C<ui::CUpDown>(*d, wid::kIdleCurrentSpin);
        for (int i = 0; i < 100; ++i) idle->Step(true);
        EXPECT_EQ(d->IdleCurrent, 85);
        EXPECT_EQ(Text(*d, wid::kIdleCurrent), "0.50 A");
        for (int i = 0; i < 100; ++i) idle->Step(false);
        EXPECT_EQ(Text(*d, wid::kIdleCurrent), "0 mA");
        auto* motor = C<ui::CUpDown>(*d, wid::kMotorCurrentSpin);
        for (int i = 0; i < 300; ++i) motor->Step(true);
        EXPECT_EQ(d->MotorCurrent, 255);
        EXPECT_EQ(Text(*d, wid::kMotorCurrent), "1.50 A");
    }
    Reconfigure("set memory-size 201");
    EXPECT_TRUE(Enabled(*Open(), wid::kMotorCurrent));
    Reconfigure("set memory-size 174");
    auto d = Open();
    EXPECT_EQ(d->MotorCurrent, 255);  // not loaded
    EXPECT_EQ(Text(*d, wid::kMotorCurrent), "100.0 %");
    EXPECT_EQ(Text(*d, wid::kIdleCurrent), "3.9 %");
    EXPECT_FALSE(Enabled(*d, wid::kMotorCurrent));
    EXPECT_FALSE(Enabled(*d, wid::kMotorCurrentSpin));
    EXPECT_TRUE(Enabled(*d, wid::kIdleCurrentSpin));
}

TEST_F(WheelSettingsTest, OkStoresEveryFieldWritesTheImageRunsTheHandshakeAndSavesTheRegistry) {
    OpenDevice();
    ASSERT_EQ(device->FilterCount(), 7);
    ASSERT_EQ(DeviceMemoryByte(5), 0);
    auto d = Open();
    EXPECT_EQ(Text(*d, wid::kSpeed), "400");
    EXPECT_EQ(Text(*d, wid::kMaxSteps), "240");
    EXPECT_TRUE(Checked(*d, wid::kHomeSensor));
    EXPECT_EQ(C<QComboBox>(*d, wid::kPowerOutList)->currentIndex(), 0);

    // The speed spin keeps within 10..1000 whatever is typed; the stored speed does not.
    auto* speed = C<QLineEdit>(*d, wid::kSpeed);
    speed->setText("70000");
    C<ui::CUpDown>(*d, wid::kSpeedSpin)->Step(true);
    EXPECT_EQ(speed->text(), "1000");
    speed->setText("70000");
    auto* count = C<ui::CUpDown>(*d, wid::kFilterCountSpin);
    for (int i = 0; i < 3; ++i) count->Step(false);
    EXPECT_EQ(Text(*d, wid::kFilterCount), "4");
    C<QLineEdit>(*d, wid::kMaxSteps)->setText("1234");
    Click(*d, wid::kHomeSensor);
    C<QComboBox>(*d, wid::kPowerOutList)->setCurrentIndex(3);
    C<ui::CUpDown>(*d, wid::kIdleCurrentSpin)->Step(true);
    C<ui::CUpDown>(*d, wid::kMotorCurrentSpin)->Step(false);
    device->ChangeFilterTimeoutMs = 4321;

    d->OnOK();
    EXPECT_EQ(d->result(), QDialog::Accepted);
    EXPECT_EQ(DeviceMemoryByte(1), 4);
    EXPECT_EQ(DeviceU16(2), 4464);  // the low 16 bits of 70000
    EXPECT_EQ(DeviceMemoryByte(4), 11);
    EXPECT_EQ(DeviceMemoryByte(5), 1);
    EXPECT_EQ(DeviceMemoryByte(6), 0);
    EXPECT_EQ(DeviceMemoryByte(7), 3);
    EXPECT_EQ(DeviceU16(142), 1234);
    EXPECT_EQ(DeviceMemoryByte(200), 19);
    // The handshake rebuilt the filter table from the new mode byte.
    EXPECT_EQ(device->FilterCount(), 4);
    // The dialog lets go under its own key, which it never held: the holder keeps the link.
    char line[64];
    std::snprintf(line, sizeof line, "DisconnectMulti(0x%x) = skip", static_cast<unsigned>(d->ClientKey()));
    EXPECT_EQ(CountLog(line), 1);
    EXPECT_TRUE(device->IsOpen());
    EXPECT_TRUE(device->IsClient(kHolder));
    RegistryHive saved(hive.File(), kCurrentUserRoot);
    ASSERT_EQ(saved.Load(), RegistryHive::LoadResult::Loaded);
    EXPECT_EQ(saved.GetDword(kSettingsKey, "ChangeFilterTimeoutMs"), 4321u);
}

TEST_F(WheelSettingsTest, OkClosesAPortThatNoClientHolds) {
    StartSim();
    MakeDevice();
    ASSERT_TRUE(device->OpenLink());
    ASSERT_TRUE(device->ClientSet.empty());
    auto d = Open();
    d->OnOK();
    EXPECT_EQ(d->result(), QDialog::Accepted);
    EXPECT_FALSE(device->IsOpen());
}

TEST_F(WheelSettingsTest, OnAClosedPortNothingIsLoadedOrStoredAndOkFailsQuietly) {
    MakeDevice();
    device->Mode = 14;
    device->WheelSpeed = 333;
    const auto image = ImageCopy();
    auto d = Open();
    EXPECT_FALSE(Checked(*d, wid::kVirtualWheelMode));
    EXPECT_EQ(Text(*d, wid::kSpeed), "0");
    EXPECT_EQ(Text(*d, wid::kFilterCount), "0");
    EXPECT_EQ(C<QComboBox>(*d, wid::kPowerOutList)->currentIndex(), -1);
    for (int id : {wid::kSpeedSpin, wid::kRotatorMode, wid::kCoverMode, wid::kPowerOutList, wid::kMaxSteps,
                   wid::kMotorCurrentSpin, wid::kSecondFocuserMode, wid::kVirtualWheelMode})
        EXPECT_FALSE(Enabled(*d, id)) << id;
    // These stay usable, to no effect.
    for (int id : {wid::kSpeed, wid::kHomeSensor, wid::kIdleCurrentSpin}) EXPECT_TRUE(Enabled(*d, id)) << id;
    C<QLineEdit>(*d, wid::kSpeed)->setText("500");
    d->OnOK();
    EXPECT_EQ(d->result(), QDialog::Accepted);
    EXPECT_EQ(ImageCopy(), image);
    EXPECT_FALSE(device->IsOpen());
}

}  // namespace
}  // namespace velq3::test
