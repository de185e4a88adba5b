// The "Heater Control" dialog on the simulated controller: decoding the heater words into
// the six modes, encoding them on OK, the calibrations from live readings, the voltmeter
// calibration, the enable rules and Cancel.
#include <QLabel>

#include "SimDevice.h"
#include "ui/qt/HeaterControlDlg.h"
#include "ui/HeaterControlTemplate.h"

namespace velq3::test {
namespace {

using ui::CHeaterControlDlg;
namespace h = ui::idc::heater;

struct Message {
    QString title, text;
    QMessageBox::Icon icon;
};

class HeaterTest : public SimDeviceTest {
protected:
    std::unique_ptr<CHeaterControlDlg> Open() {
        auto d = std::make_unique<CHeaterControlDlg>(*device);
        d->SetMessageBox([this](QWidget*, const QString& title, const QString& text, QMessageBox::Icon icon) {
            messages.push_back({title, text, icon});
        });
        return d;
    }

    // Sets the heater words in the image and opens the dialog on them.
    std::unique_ptr<CHeaterControlDlg> OpenWith(std::uint16_t word, std::int16_t set) {
        device->HeaterControl = word;
        device->HeaterSetPoint = set;
        return Open();
    }

    QString Text(CHeaterControlDlg& d, int id) { return Edit(d.Control(id))->text(); }
    void Type(CHeaterControlDlg& d, int id, const QString& text) { Edit(d.Control(id))->setText(text); }
    QString ModeText(CHeaterControlDlg& d) { return Combo(d.Control(h::kPowerMode))->currentText(); }
    void ChooseMode(CHeaterControlDlg& d, int mode) { Combo(d.Control(h::kPowerMode))->setCurrentIndex(mode); }
    void Choose(CHeaterControlDlg& d, int id, int index) { Combo(d.Control(id))->setCurrentIndex(index); }
    QString Unit(CHeaterControlDlg& d) { return qobject_cast<QLabel*>(d.Control(h::kSetValueUnit))->text(); }

    // Presses OK and expects the dialog to have closed with the image written.
    void PressOk(CHeaterControlDlg& d) {
        Click(d.Control(h::kOK));
        EXPECT_EQ(d.result(), QDialog::Accepted);
    }

    // Pins the simulator's thermometers (hundredths; absent for none) and the image's count.
    void PinTemperatures(std::vector<int> hundredths) {
        sim->control("set sensors " + std::to_string(hundredths.size()));
        for (size_t i = 0; i < hundredths.size(); ++i)
            sim->control("set temp " + std::to_string(i) + " " + std::to_string(hundredths[i]));
        device->SensorCount = static_cast<std::uint8_t>(hundredths.size());
    }

    std::vector<Message> messages;
};

TEST_F(HeaterTest, OpeningDecodesTheHeaterWordsIntoTheModes) {
    Connect();
    struct Case {
        std::uint16_t word;
        std::int16_t set;
        const char* mode;
        int sensorA, sensorB;
        const char* setValue;
        const char* zone;
        bool aEnabled, bEnabled, setEnabled;
    };
    const Case cases[] = {
        {0x00FF, 1234, "FlatBox", 0, 1, "12.34", "0", false, false, false},
        {0x64F2, 2150, "Heater", 2, 1, "21.5", "1", true, false, true},
        {0x323F, -500, "Cooler", 3, 1, "5", "0.5", true, false, true},
        {0xFF00, 102, "Const Power", 0, 1, "40", "2.55", false, false, true},
        {0x0A21, 300, "Heater Delta", 1, 2, "3", "0.1", true, true, true},
        {0x0A21, -300, "Cooler Delta", 2, 1, "3", "0.1", true, true, true},
        {0x00A5, -300, "FlatBox", 0, 1, "-3", "0", false, false, false},  // nibbles above 4: no sensor
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.mode);
        auto d = OpenWith(c.word, c.set);
        EXPECT_EQ(ModeText(*d), c.mode);
        EXPECT_EQ(Combo(d->Control(h::kSensorA))->currentIndex(), c.sensorA);
        EXPECT_EQ(Combo(d->Control(h::kSensorB))->currentIndex(), c.sensorB);
        EXPECT_EQ(Text(*d, h::kSetValue), c.setValue);
        EXPECT_EQ(Text(*d, h::kTransitionZone), c.zone);
        EXPECT_EQ(d->Control(h::kSensorA)->isEnabled(), c.aEnabled);
        EXPECT_EQ(d->Control(h::kSensorB)->isEnabled(), c.bEnabled);
        EXPECT_EQ(d->Control(h::kTransitionZone)->isEnabled(), c.aEnabled);
        EXPECT_EQ(d->Control(h::kSetValue)->isEnabled(), c.setEnabled);
        EXPECT_EQ(Unit(*d), std::string(c.mode) == "Const Power" ? "power 0...100%" : "temperature (C)");
        EXPECT_EQ(Text(*d, h::kCalibrationTemperature), "0");
    }
}

TEST_F(HeaterTest, ModeChangeAppliesTheEnableRulesAndUnitAtOnce) {
    Connect();
    auto d = OpenWith(0x00FF, 0);
    EXPECT_EQ(d->windowTitle(), "Heater Control");
    ChooseMode(*d, kCoolerDelta);
    EXPECT_EQ(d->PowerMode, kCoolerDelta);
    EXPECT_TRUE(d->Control(h::kSensorB)->isEnabled());
    EXPECT_TRUE(d->Control(h::kSetValue)->isEnabled());
    ChooseMode(*d, kConstPower);
    EXPECT_EQ(Unit(*d), "power 0...100%");
    EXPECT_FALSE(d->Control(h::kSensorA)->isEnabled());
    EXPECT_FALSE(d->Control(h::kTransitionZone)->isEnabled());
    EXPECT_TRUE(messages.empty());
    EXPECT_TRUE(d->grab().save(QString(VELQ3_BIN_DIR) + "/heater.png"));
}

TEST_F(HeaterTest, ConstPowerIsWrittenAsALevelAndReopensInPercent) {
    Connect();
    auto d = OpenWith(0x64F2, 2150);
    ChooseMode(*d, kConstPower);
    Type(*d, h::kSetValue, "40");
    PressOk(*d);
    EXPECT_EQ(device->HeaterControl, 0xFF00);
    EXPECT_EQ(device->HeaterSetPoint, 102);
    EXPECT_EQ(DeviceWord(144, false), 0xFF00);  // reached the controller
    EXPECT_EQ(DeviceWord(146), 102);
    EXPECT_EQ(Text(*Open(), h::kSetValue), "40");

    for (const char* percent : {"100", "120"}) {
        auto again = Open();
        Type(*again, h::kSetValue, percent);
        PressOk(*again);
        EXPECT_EQ(device->HeaterSetPoint, 255) << percent;
        EXPECT_EQ(Text(*Open(), h::kSetValue), "100");
    }
    auto negative = Open();
    Type(*negative, h::kSetValue, "-5");
    PressOk(*negative);
    EXPECT_EQ(device->HeaterSetPoint, 0);
}

TEST_F(HeaterTest, DeltaModesWithEqualSensorsOrZeroSetPointReopenAsAnotherMode) {
    Connect();
    auto d = OpenWith(0x00FF, 0);
    ChooseMode(*d, kHeaterDelta);
    Choose(*d, h::kSensorA, 2);
    Choose(*d, h::kSensorB, 2);
    Type(*d, h::kSetValue, "21.5");
    PressOk(*d);
    EXPECT_EQ(device->HeaterControl & 0xFF, 0x22);
    EXPECT_EQ(ModeText(*Open()), "Const Power");

    auto cooler = Open();
    ChooseMode(*cooler, kCoolerDelta);
    Choose(*cooler, h::kSensorA, 1);
    Choose(*cooler, h::kSensorB, 3);
    Type(*cooler, h::kSetValue, "0");
    Type(*cooler, h::kTransitionZone, "0.5");
    PressOk(*cooler);
    EXPECT_EQ(device->HeaterControl, 0x3213);  // nibble A = SensorB, nibble B = SensorA
    EXPECT_EQ(device->HeaterSetPoint, 0);
    auto reopened = Open();
    EXPECT_EQ(ModeText(*reopened), "Heater Delta");
    EXPECT_EQ(reopened->SensorA, 3);
    EXPECT_EQ(reopened->SensorB, 1);

    // A non-zero cooler set point is negated and reopens as the same mode.
    Type(*reopened, h::kSetValue, "4.25");
    ChooseMode(*reopened, kCooler);
    PressOk(*reopened);
    EXPECT_EQ(device->HeaterControl, 0x323F);
    EXPECT_EQ(device->HeaterSetPoint, -425);
    auto cold = Open();
    EXPECT_EQ(ModeText(*cold), "Cooler");
    EXPECT_EQ(Text(*cold, h::kSetValue), "4.25");
}

TEST_F(HeaterTest, TransitionZoneIsWrittenInHundredthsUpTo255) {
    Connect();
    const std::pair<const char*, int> cases[] = {{"3.0", 255}, {"0.07", 7}, {"0.29", 29}, {"2.559", 255}, {"-1", 0}};
    for (auto [typed, expected] : cases) {
        auto d = OpenWith(0x00F1, 1000);
        Type(*d, h::kTransitionZone, typed);
        PressOk(*d);
        EXPECT_EQ(device->HeaterControl >> 8, expected) << typed;
        EXPECT_EQ(device->HeaterControl & 0xFF, 0xF1) << typed;
    }
    auto d = OpenWith(0xFFF1, 1000);
    EXPECT_EQ(Text(*d, h::kTransitionZone), "2.55");
}

TEST_F(HeaterTest, BadOrOutOfRangeValuesKeepTheDialogOpenAndTheImageUnchanged) {
    Connect();
    auto d = OpenWith(0x64F2, 2150);
    Type(*d, h::kSetValue, "warm");
    Click(d->Control(h::kOK));
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, "Please enter a number.");
    EXPECT_EQ(d->result(), 0);  // still open
    EXPECT_EQ(d->SetValue, 21.5f);

    const std::pair<int, const char*> refused[] = {
        {h::kSetValue, "400"}, {h::kSteep0 + 1, "40"}, {h::kOffset0 + 3, "-400"}, {h::kVoltmeterAveraging, "70000"},
        {h::kMotorsPowerOn, "1.5"}, {h::kTransitionZone, "nan"}};
    for (auto [id, typed] : refused) {
        auto again = OpenWith(0x64F2, 2150);
        messages.clear();
        Type(*again, id, typed);
        Click(again->Control(h::kOK));
        EXPECT_EQ(again->result(), 0) << typed;
        ASSERT_EQ(messages.size(), 1u) << typed;
        EXPECT_TRUE(messages[0].text.startsWith("Please enter")) << messages[0].text.toStdString();
        EXPECT_EQ(device->HeaterSetPoint, 2150);
        EXPECT_EQ(device->TermSteep[1], 1000);
    }
    EXPECT_EQ(DeviceWord(146), 0);  // nothing was written: the controller keeps its own value
}

TEST_F(HeaterTest, CalibrateOffsetsBringsTheSensorsToTheirMean) {
    Connect();
    PinTemperatures({2000, 2100, 2200});
    device->TermOffset[0] = 10;
    device->TermOffset[3] = 55;
    auto d = Open();
    Click(d->Control(h::kCalibrateOffsets));
    EXPECT_EQ(device->TermOffset[0], 110);
    EXPECT_EQ(device->TermOffset[1], 0);
    EXPECT_EQ(device->TermOffset[2], -100);
    EXPECT_EQ(device->TermOffset[3], 55);  // not among the sensors
    EXPECT_EQ(Text(*d, h::kOffset0), "1.1");
    EXPECT_EQ(Text(*d, h::kOffset0 + 2), "-1");
    EXPECT_EQ(Text(*d, h::kCalibrationTemperature), "21");

    // A typed slope divides the correction.
    device->TermOffset[0] = 0;
    auto withSteep = Open();
    Type(*withSteep, h::kSteep0, "2");
    Click(withSteep->Control(h::kCalibrateOffsets));
    EXPECT_EQ(device->TermOffset[0], 50);
    EXPECT_EQ(Text(*withSteep, h::kSteep0), "2");

    // With one answering sensor nothing changes and nothing is said.
    PinTemperatures({2500});
    auto single = Open();
    Click(single->Control(h::kCalibrateOffsets));
    EXPECT_EQ(device->TermOffset[0], 50);
    EXPECT_EQ(Text(*single, h::kCalibrationTemperature), "0");
    EXPECT_TRUE(messages.empty());
}

TEST_F(HeaterTest, CalibrateSteepScalesTheSlopesFromASecondPoint) {
    Connect();
    PinTemperatures({3100, 3300});
    auto d = Open();
    Type(*d, h::kCalibrationTemperature, "21");
    Click(d->Control(h::kCalibrateSteep));
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(device->TermSteep[0], 1100);  // k = 11 / 10
    EXPECT_EQ(device->TermSteep[1], 917);   // k = 11 / 12
    EXPECT_EQ(device->TermSteep[2], 1000);
    EXPECT_EQ(Text(*d, h::kSteep0), "1.1");
    EXPECT_EQ(Text(*d, h::kSteep0 + 1), "0.916667");
    // Corrected readings 34.1 and 30.25 around their mean 32.175.
    EXPECT_NEAR(device->TermOffset[0], -193, 1);
    EXPECT_NEAR(device->TermOffset[1], 193, 1);
    EXPECT_EQ(Text(*d, h::kCalibrationTemperature), "21");

    // Less than 10 degrees away: the warning, and the slopes change all the same.
    auto near = Open();
    Type(*near, h::kCalibrationTemperature, "25");
    Click(near->Control(h::kCalibrateSteep));
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, CHeaterControlDlg::kSteepSpanWarning);
    EXPECT_EQ(messages[0].text.toStdString(),
              "Temperature must be at least 10C lower or higher from offset calibration temperature, for proper Skew "
              "calibration.");
    EXPECT_EQ(messages[0].icon, QMessageBox::NoIcon);
    EXPECT_EQ(device->TermSteep[0], 1283);  // 1.1 * (32 - 25) / 6
    EXPECT_EQ(device->TermSteep[1], 802);   // 0.917 * 7 / 8

    // A reading at the calibration temperature keeps that sensor's slope.
    auto equal = Open();
    Type(*equal, h::kCalibrationTemperature, "31");
    Click(equal->Control(h::kCalibrateSteep));
    EXPECT_EQ(device->TermSteep[0], 1283);
    EXPECT_EQ(device->TermSteep[1], 401);  // k = 1 / 2
}

TEST_F(HeaterTest, VoltmeterCalibrationFromATypedTrueVoltage) {
    Connect();
    sim->control("set volt 1260");
    float volts = 0, percent = 0;
    ASSERT_TRUE(device->GetVolt(volts, percent));  // as the main window's poll reads it
    device->VoltCalibration = 1000;
    auto d = Open();
    Type(*d, h::kTrueVoltage, "12.0");
    Type(*d, h::kMotorsPowerOn, "-7");
    Type(*d, h::kVoltmeterAveraging, "40000");
    PressOk(*d);
    EXPECT_EQ(device->VoltCalibration, 1050);
    EXPECT_EQ(DeviceWord(194), 1050);
    EXPECT_EQ(DeviceWord(196), -7);
    EXPECT_EQ(DeviceWord(198, false), 40000);

    // No typed voltage, a supply below 4 V or a field of 0: the calibration stays as typed.
    auto empty = Open();
    Type(*empty, h::kVoltmeterCalibration, "990");
    PressOk(*empty);
    EXPECT_EQ(device->VoltCalibration, 990);
    auto zero = Open();
    Type(*zero, h::kVoltmeterCalibration, "0");
    Type(*zero, h::kTrueVoltage, "12");
    PressOk(*zero);
    EXPECT_EQ(device->VoltCalibration, 0);
    sim->control("set volt 350");
    ASSERT_TRUE(device->GetVolt(volts, percent));
    device->VoltCalibration = 1000;
    auto low = Open();
    Type(*low, h::kTrueVoltage, "3.0");
    PressOk(*low);
    EXPECT_EQ(device->VoltCalibration, 1000);

    // A voltage whose calibration would not fit 16 bits is refused.
    sim->control("set volt 1260");
    ASSERT_TRUE(device->GetVolt(volts, percent));
    auto tiny = Open();
    Type(*tiny, h::kTrueVoltage, "0.1");
    Click(tiny->Control(h::kOK));
    EXPECT_EQ(tiny->result(), 0);
    EXPECT_EQ(messages.size(), 1u);
    EXPECT_EQ(device->VoltCalibration, 1000);
}

TEST_F(HeaterTest, VoltmeterEditsFollowTheMemorySize) {
    for (auto [size, calibration, averaging] : {std::tuple{196, false, false}, std::tuple{198, true, false},
                                                std::tuple{202, true, true}}) {
        SCOPED_TRACE(size);
        Connect({"--memory-size", std::to_string(size)});
        ASSERT_EQ(device->m_MemorySize, size);
        auto d = Open();
        EXPECT_EQ(d->Control(h::kVoltmeterCalibration)->isEnabled(), calibration);
        EXPECT_EQ(d->Control(h::kMotorsPowerOn)->isEnabled(), calibration);
        EXPECT_EQ(d->Control(h::kVoltmeterAveraging)->isEnabled(), averaging);
        // A mode change re-applies only the mode's rules.
        ChooseMode(*d, kHeater);
        EXPECT_EQ(d->Control(h::kVoltmeterAveraging)->isEnabled(), averaging);
        d.reset();
        device.reset();
    }
}

TEST_F(HeaterTest, OkWithoutAConnectionStillEncodesAndCloses) {
    device = std::make_unique<OrnFilterWheel>();
    device->m_MemorySize = 202;
    auto d = OpenWith(0x00FF, 0);
    ChooseMode(*d, kHeater);
    Choose(*d, h::kSensorA, 1);
    Type(*d, h::kSetValue, "-12.34");
    PressOk(*d);
    EXPECT_EQ(device->HeaterControl, 0x00F1);
    EXPECT_EQ(device->HeaterSetPoint, -1234);
}

}  // namespace
}  // namespace velq3::test
