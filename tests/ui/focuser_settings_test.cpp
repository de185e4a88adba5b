// The focuser settings dialog against a simulated controller: loading, the step list from
// "FWubStep", the coefficient scaling by memory size, the currents, the directly bound device
// settings, Log Path..., Microsteps, OK and Cancel; and the number parsing of the dialogs.
#include "SettingsDlgFixture.h"
#include "ui/qt/FocuserSettingsDlg.h"

namespace velq3::test {
namespace {

using ui::CFocuserSettingsDlg;
namespace fid = ui::focuser_settings_id;

TEST(DialogNumbersTest, SignedAndDecimalEntriesAreWholeNumbersInRange) {
    EXPECT_EQ(ui::SignedNumber(" -2147483648 "), INT32_MIN);
    EXPECT_EQ(ui::SignedNumber("+7"), 7);
    for (const char* bad : {"", " ", "2147483648", "5x", "+-1", "1.0", "--1"})
        EXPECT_FALSE(ui::SignedNumber(bad).has_value()) << bad;
    EXPECT_EQ(ui::DecimalNumber(" 2.25 "), 2.25);
    EXPECT_EQ(ui::DecimalNumber("+.5"), 0.5);
    EXPECT_EQ(ui::DecimalNumber("-1e3"), -1000.0);
    for (const char* bad : {"", "2,5", "nan", "inf", "-inf", "1e999", "0x10", "1.5.", "+-1"})
        EXPECT_FALSE(ui::DecimalNumber(bad).has_value()) << bad;
}

class FocuserSettingsTest : public SettingsDlgTest {
protected:
    std::unique_ptr<CFocuserSettingsDlg> Open() {
        auto d = std::make_unique<CFocuserSettingsDlg>(*device);
        d->Prompt = RecordPrompt();
        d->ChooseFolder = [](QWidget*, const QString&, const QString&) {
            ADD_FAILURE() << "unexpected folder chooser";
            return QString();
        };
        return d;
    }
    QLineEdit* Edit(CFocuserSettingsDlg& d, int id) { return C<QLineEdit>(d, id); }
    QComboBox* StepList(CFocuserSettingsDlg& d) { return C<QComboBox>(d, fid::kStepList); }
    // Types a coefficient, confirms, and returns the stored int16.
    int StoreCoefficient(const char* text) {
        auto d = Open();
        Edit(*d, fid::kCoefficient)->setText(text);
        d->OnOK();
        EXPECT_EQ(d->result(), QDialog::Accepted);
        EXPECT_EQ(DeviceI16(16), device->TempCompensation);
        return device->TempCompensation;
    }
};

TEST_F(FocuserSettingsTest, OpensWithTheImageTheDeviceSettingsAndTheSensorTypes) {
    OpenDevice();
    device->SensorType = 2;
    device->AscomMaxFocusPos = 45000;
    device->TermLogPath = "/var/log/velq3";
    auto d = Open();
    EXPECT_EQ(d->windowTitle(), "Focuser Settings");
    EXPECT_EQ(Edit(*d, fid::kSpeed)->text(), "200");
    EXPECT_EQ(Edit(*d, fid::kBacklash)->text(), "50");
    EXPECT_EQ(Edit(*d, fid::kSensorCount)->text(), "2");
    EXPECT_EQ(Edit(*d, fid::kCoefficient)->text(), "0");
    EXPECT_EQ(Edit(*d, fid::kAveraging)->text(), "0");
    EXPECT_EQ(Edit(*d, fid::kThreshold)->text(), "10");
    EXPECT_EQ(Edit(*d, fid::kMotorCurrent)->text(), "117 mA");  // byte 201 = 20
    EXPECT_EQ(Edit(*d, fid::kIdleCurrent)->text(), "58 mA");    // byte 10 = 10
    EXPECT_EQ(Edit(*d, fid::kStepLen)->text(), "10");
    EXPECT_EQ(Edit(*d, fid::kMaxFocusPos)->text(), "45000");
    EXPECT_EQ(Edit(*d, fid::kFocusShift)->text(), "10000");
    EXPECT_EQ(Edit(*d, fid::kLogPath)->text(), "/var/log/velq3");
    auto* types = C<QComboBox>(*d, fid::kSensorType);
    EXPECT_EQ(Items(types), QStringList({"DS1631/1624 (auto)", "DS1631", "DS1624", "DS1624 (clone)"}));
    EXPECT_EQ(types->currentIndex(), 2);
    EXPECT_FALSE(StepList(*d)->isEnabled());
    EXPECT_TRUE(d->Control(fid::kMicrosteps)->isEnabled());  // the simulator's table has 33 bytes
}

TEST_F(FocuserSettingsTest, StepListRunsToTheFinestMicrostepAndSelectsTheImagesStepMode) {
    OpenDevice({"--table-len", "64"});
    auto d = Open();
    EXPECT_EQ(d->MicrostepMax, 64);
    EXPECT_EQ(Items(StepList(*d)), QStringList({"1/1", "1/2", "1/4", "1/8", "1/16", "1/32", "1/64"}));
    EXPECT_EQ(StepList(*d)->currentText(), "1/16");  // byte 11 = 4 = 64 / 16

    d->MicrostepMax = 16;
    d->BuildStepList();
    EXPECT_EQ(Items(StepList(*d)), QStringList({"1/1", "1/2", "1/4", "1/8", "1/16"}));
    EXPECT_EQ(StepList(*d)->currentText(), "1/4");
    d->MicrostepMax = 2;
    d->BuildStepList();
    EXPECT_EQ(Items(StepList(*d)), QStringList({"1/1", "1/2"}));
    EXPECT_EQ(StepList(*d)->currentIndex(), -1);  // no item gives 4

    // A step mode that fits no item is written back as it is.
    device->MicrostepIncrement = 3;
    d->BuildStepList();
    EXPECT_EQ(StepList(*d)->currentIndex(), -1);
    d->OnOK();
    EXPECT_EQ(DeviceMemoryByte(11), 3);
    d = Open();

    // OK stores MicrostepMax divided by the selected divisor.
    StepList(*d)->setCurrentIndex(6);
    d->OnOK();
    EXPECT_EQ(DeviceMemoryByte(11), 1);
}

TEST_F(FocuserSettingsTest, WithoutAnAnswerToTheMicrostepQueryTheFinestStepIsTwo) {
    OpenDevice({"--fault", "silent", "--fault-cmd", "FWubStep"});
    auto d = Open();
    EXPECT_EQ(d->MicrostepMax, 2);
    EXPECT_EQ(Items(StepList(*d)), QStringList({"1/1", "1/2"}));
}

TEST_F(FocuserSettingsTest, CoefficientIsStoredInTenthsFromMemorySize163AndInStepsBelow) {
    OpenDevice();
    EXPECT_EQ(StoreCoefficient("2.25"), 23);
    EXPECT_EQ(Edit(*Open(), fid::kCoefficient)->text(), "2.3");
    EXPECT_EQ(StoreCoefficient("-1.25"), -12);
    // Reopening and confirming keeps what is stored.
    for (int v : {-1000, -15, -1, 7, 999}) {
        device->TempCompensation = static_cast<std::int16_t>(v);
        EXPECT_EQ(StoreCoefficient(Edit(*Open(), fid::kCoefficient)->text().toUtf8().constData()), v);
    }

    Reconfigure("set memory-size 163");
    EXPECT_EQ(StoreCoefficient("2.25"), 23);

    Reconfigure("set memory-size 144");
    EXPECT_EQ(StoreCoefficient("2.25"), 2);
    device->TempCompensation = 23;
    EXPECT_EQ(Edit(*Open(), fid::kCoefficient)->text(), "23");
    EXPECT_EQ(StoreCoefficient("-1.6"), -2);
}

TEST_F(FocuserSettingsTest, RunningCurrentOnlyAboveByte201AndTheIdleSpinStopsAt85) {
    OpenDevice();
    {
        auto d = Open();
        EXPECT_TRUE(d->Control(fid::kMotorCurrentSpin)->isEnabled());
        EXPECT_TRUE(d->Control(fid::kMotorCurrent)->isEnabled());
        auto* idle = C<ui::CUpDown>(*d, fid::kIdleCurrentSpin);
        for (int i = 0; i < 100; ++i) idle->Step(true);
        EXPECT_EQ(Edit(*d, fid::kIdleCurrent)->text(), "0.50 A");
        C<ui::CUpDown>(*d, fid::kMotorCurrentSpin)->Step(false);
        d->OnOK();
        EXPECT_EQ(DeviceMemoryByte(10), 85);
        EXPECT_EQ(DeviceMemoryByte(201), 19);
    }
    Reconfigure("set memory-size 201");
    auto d = Open();
    EXPECT_EQ(d->MotorCurrent, 255);  // not loaded
    EXPECT_FALSE(d->Control(fid::kMotorCurrentSpin)->isEnabled());
    EXPECT_FALSE(d->Control(fid::kMotorCurrent)->isEnabled());
    EXPECT_EQ(Edit(*d, fid::kMotorCurrent)->text(), "1.50 A");
}

TEST_F(FocuserSettingsTest, OkStoresTheFieldsAndTheDeviceSettingsWithoutHandshakeOrRegistry) {
    OpenDevice();
    auto d = Open();
    Edit(*d, fid::kSpeed)->setText("70000");
    Edit(*d, fid::kBacklash)->setText("300");
    Edit(*d, fid::kSensorCount)->setText("3");
    Edit(*d, fid::kAveraging)->setText("5");
    Edit(*d, fid::kThreshold)->setText(" 20 ");
    C<QComboBox>(*d, fid::kSensorType)->setCurrentIndex(3);
    Edit(*d, fid::kStepLen)->setText("12.5");
    Edit(*d, fid::kMaxFocusPos)->setText("50000");
    Edit(*d, fid::kFocusShift)->setText("-20");
    sim->control("set mode 3");  // a handshake would read this back
    d->OnOK();
    EXPECT_EQ(d->result(), QDialog::Accepted);
    EXPECT_EQ(DeviceU16(8), 4464);
    EXPECT_EQ(DeviceU16(12), 300);
    EXPECT_EQ(DeviceMemoryByte(14), 3);
    EXPECT_EQ(DeviceMemoryByte(15), 3);
    EXPECT_EQ(DeviceU16(18), 5);
    EXPECT_EQ(DeviceU16(20), 20);
    EXPECT_EQ(DeviceMemoryByte(11), 4);  // step mode unchanged
    EXPECT_EQ(device->StepLenInMicrons, 12.5);
    EXPECT_EQ(device->AscomMaxFocusPos, 50000);
    EXPECT_EQ(device->AscomFocusShift, -20);
    // The image write put the mode byte back; no handshake read anything afterwards.
    EXPECT_EQ(DeviceMemoryByte(1), 7);
    EXPECT_EQ(device->FilterCount(), 7);
    EXPECT_FALSE(hive.KeyExists(kSettingsKey));
    RegistryHive saved(hive.File(), kCurrentUserRoot);
    EXPECT_NE(saved.Load(), RegistryHive::LoadResult::Loaded);
}

TEST_F(FocuserSettingsTest, LogPathTakesTheControlsAndTheChosenFolderWhichCancelKeeps) {
    OpenDevice();
    device->TermLogPath = std::string(300, 'p');
    {
        auto d = Open();
        QString title, initial;
        QWidget* owner = nullptr;
        d->ChooseFolder = [&](QWidget* parent, const QString& t, const QString& i) {
            owner = parent;
            title = t;
            initial = i;
            return QString("/data/logs");
        };
        Edit(*d, fid::kMaxFocusPos)->setText("12345");
        Edit(*d, fid::kSpeed)->setText("900");
        C<QAbstractButton>(*d, fid::kLogPathButton)->click();
        EXPECT_EQ(owner, d.get());
        EXPECT_EQ(title, "Please, select a folder for Log files");
        EXPECT_EQ(initial, QString(260, 'p'));
        EXPECT_EQ(Edit(*d, fid::kLogPath)->text(), "/data/logs");
        EXPECT_EQ(Edit(*d, fid::kSpeed)->text(), "900");

        // A cancelled chooser changes nothing.
        d->ChooseFolder = [](QWidget*, const QString&, const QString&) { return QString(); };
        C<QAbstractButton>(*d, fid::kLogPathButton)->click();
        EXPECT_EQ(Edit(*d, fid::kLogPath)->text(), "/data/logs");
        d->reject();
    }
    EXPECT_EQ(device->TermLogPath, "/data/logs");
    EXPECT_EQ(device->AscomMaxFocusPos, 12345);
    EXPECT_EQ(device->FocuserSpeed, 200);
}

TEST_F(FocuserSettingsTest, MicrostepsReadsTheTableAgainAndOpensTheTableDialogOwnedByThisOne) {
    OpenDevice();
    auto d = Open();
    QWidget* owner = nullptr;
    int tableLenSeen = 0;
    d->OpenMicrosteps = [&](QWidget* parent) {
        owner = parent;
        tableLenSeen = device->m_MicrostepTableLen;
    };
    device->m_MicrostepTableLen = -1;
    C<QAbstractButton>(*d, fid::kMicrosteps)->click();
    EXPECT_EQ(owner, d.get());
    EXPECT_EQ(tableLenSeen, 33);

    d->OpenMicrosteps = nullptr;  // not attached: the table is read, nothing opens
    device->m_MicrostepTableLen = -1;
    d->OnMicrosteps();
    EXPECT_EQ(device->m_MicrostepTableLen, 33);

    device->m_MicrostepTableLen = 0;
    EXPECT_FALSE(Open()->Control(fid::kMicrosteps)->isEnabled());
}

TEST_F(FocuserSettingsTest, OnAClosedPortNothingIsLoadedOrStored) {
    MakeDevice();
    device->FocuserSpeed = 321;
    device->MicrostepIncrement = 1;
    const auto image = ImageCopy();
    auto d = Open();
    EXPECT_EQ(Edit(*d, fid::kSpeed)->text(), "0");
    EXPECT_EQ(d->MicrostepMax, 2);
    EXPECT_EQ(Items(StepList(*d)), QStringList({"1/1", "1/2"}));
    EXPECT_FALSE(d->Control(fid::kMicrosteps)->isEnabled());
    Edit(*d, fid::kSpeed)->setText("500");
    Edit(*d, fid::kFocusShift)->setText("77");
    d->OnOK();
    EXPECT_EQ(d->result(), QDialog::Accepted);
    EXPECT_EQ(ImageCopy(), image);
    EXPECT_EQ(device->AscomFocusShift, 77);  // a device setting, not part of the image
}

}  // namespace
}  // namespace velq3::test
