// The "Heater Control" dialog: decoding at opening, the data exchange with its enable rules,
// the Reset and Calibrate buttons, and the encoding and memory write on OK.
#include "ui/HeaterControlDlg.h"

#include <QComboBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <cmath>
#include <limits>

#include "device/OrnFilterWheel.h"
#include "ui/DataExchange.h"
#include "ui/DecimalText.h"
#include "ui/HeaterControlTemplate.h"

namespace velq3::ui {

namespace h = idc::heater;

const char* const CHeaterControlDlg::kSteepSpanWarning =
    "Temperature must be at least 10C lower or higher from offset calibration temperature, for proper Skew calibration.";

namespace {

constexpr int kMemoryForVoltmeter = 198;  // calibration and power-on voltage editable from here
constexpr int kMemoryForAveraging = 200;
constexpr float kMinCalibrationVin = 4.0f;  // volts: below this the measured supply says nothing

QString NumberRange(const char* low, const char* high) {
    return QStringLiteral("Please enter a number between %1 and %2.").arg(low, high);
}
QString IntegerRange(long long low, long long high) {
    return QStringLiteral("Please enter an integer between %1 and %2.").arg(low).arg(high);
}

void PlatformMessageBox(QWidget* parent, const QString& title, const QString& text, QMessageBox::Icon icon) {
    QMessageBox box(icon, title, text, QMessageBox::Ok, parent);
    box.exec();
}

}  // namespace

CHeaterControlDlg::CHeaterControlDlg(OrnFilterWheel& device, QWidget* owner)
    : QDialog(owner), m_FW(device), m_ShowMessage(PlatformMessageBox) {
    m_Prompt = [this](QWidget*, const QString& text) { ShowMessage(text, QMessageBox::Warning); };
    DecodeImage();
    InitWindow();
}

QWidget* CHeaterControlDlg::Control(int id) const { return ControlById<QWidget>(m_Controls, id); }

QLineEdit* CHeaterControlDlg::Edit(int id) const { return ControlById<QLineEdit>(m_Controls, id); }

void CHeaterControlDlg::DecodeImage() {
    const EEFilterWheelData& image = m_FW.Image();
    const HeaterSetting s = DecodeHeater({image.HeaterControl, image.HeaterSetPoint});
    PowerMode = s.powerMode;
    SensorA = s.sensorA;
    SensorB = s.sensorB;
    SetValue = s.setValue;
    TransitionZone = s.transitionZone;
    for (int i = 0; i < kSensorCount; ++i) {
        Steep[i] = static_cast<float>(image.TermSteep[i] / 1000.0);
        Offset[i] = static_cast<float>(image.TermOffset[i] / 100.0);
        m_OpenedSteep[i] = image.TermSteep[i];
        m_OpenedOffsets[i] = image.TermOffset[i];
    }
    VoltmeterCalibration = image.VoltCalibration;
    MotorsPowerOn = image.MotorsPowerOnVoltage;
    VoltmeterAveraging = image.VoltAveraging;
    CalibrationTemperature = 0;
}

void CHeaterControlDlg::InitWindow() {
    m_Controls = BuildDialog(*this, kHeaterControlTemplate);
    WrapStaticTexts(*this);
    m_Mode = qobject_cast<QComboBox*>(Control(h::kPowerMode));
    m_SensorA = qobject_cast<QComboBox*>(Control(h::kSensorA));
    m_SensorB = qobject_cast<QComboBox*>(Control(h::kSensorB));
    m_Unit = qobject_cast<QLabel*>(Control(h::kSetValueUnit));
    for (const char* name : kPowerModeNames) m_Mode->addItem(QString::fromUtf8(name));
    for (QComboBox* sensors : {m_SensorA, m_SensorB})
        for (int i = 0; i < kSensorCount; ++i) sensors->addItem(QStringLiteral("T%1").arg(i));

    auto* ok = qobject_cast<QPushButton*>(Control(h::kOK));
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, [this] { OnOK(); });
    auto onClick = [this](int id, void (CHeaterControlDlg::*handler)()) {
        connect(qobject_cast<QPushButton*>(Control(id)), &QPushButton::clicked, this, [this, handler] { (this->*handler)(); });
    };
    onClick(h::kResetOffsets, &CHeaterControlDlg::OnResetOffsets);
    onClick(h::kResetSteep, &CHeaterControlDlg::OnResetSteep);
    onClick(h::kCalibrateOffsets, &CHeaterControlDlg::CalibrateOffsets);
    onClick(h::kCalibrateSteep, &CHeaterControlDlg::CalibrateSteep);
    connect(m_Mode, &QComboBox::currentIndexChanged, this, [this] { OnModeChanged(); });

    Control(h::kVoltmeterCalibration)->setEnabled(m_FW.m_MemorySize >= kMemoryForVoltmeter);
    Control(h::kMotorsPowerOn)->setEnabled(m_FW.m_MemorySize >= kMemoryForVoltmeter);
    Control(h::kVoltmeterAveraging)->setEnabled(m_FW.m_MemorySize >= kMemoryForAveraging);
    ExchangeData(Transfer::ToControls);
}

void CHeaterControlDlg::SetFloatText(int id, float value) {
    // At most six significant digits, no trailing zeros.
    Edit(id)->setText(QString::number(static_cast<double>(value), 'g', 6));
}

bool CHeaterControlDlg::ExchangeData(Transfer direction) {
    // The transfer works on copies, so that a refused entry leaves every text field as it was.
    int mode = PowerMode, sensorA = SensorA, sensorB = SensorB;
    std::array<float, kSensorCount> offset = Offset, steep = Steep;
    float setValue = SetValue, zone = TransitionZone, calibrationTemperature = CalibrationTemperature;
    int voltmeterCalibration = VoltmeterCalibration, motorsPowerOn = MotorsPowerOn, averaging = VoltmeterAveraging;

    m_Exchanging = true;
    DataExchange dx(*this, direction == Transfer::ToFields ? DataExchange::Direction::ToFields
                                                           : DataExchange::Direction::ToControls,
                    m_Prompt);
    // The lists come first: they cannot be refused, and the mode rules follow them even when
    // a text below is refused.
    dx.ListIndex(m_Mode, mode);
    dx.ListIndex(m_SensorA, sensorA);
    dx.ListIndex(m_SensorB, sensorB);
    for (int i = 0; i < kSensorCount; ++i) dx.Decimal(Edit(h::kOffset0 + i), offset[i]);
    for (int i = 0; i < kSensorCount; ++i) dx.Decimal(Edit(h::kSteep0 + i), steep[i]);
    dx.Decimal(Edit(h::kSetValue), setValue);
    dx.Decimal(Edit(h::kTransitionZone), zone);
    dx.Decimal(Edit(h::kCalibrationTemperature), calibrationTemperature);
    dx.Signed(Edit(h::kVoltmeterCalibration), voltmeterCalibration);
    dx.Signed(Edit(h::kMotorsPowerOn), motorsPowerOn);
    dx.Unsigned(Edit(h::kVoltmeterAveraging), averaging);

    if (direction == Transfer::ToFields) {
        // A sensor the lists do not offer (nibble 4) shows no selection and is kept as it is.
        if (mode >= 0) PowerMode = mode;
        if (sensorA >= 0) SensorA = sensorA;
        if (sensorB >= 0) SensorB = sensorB;
        if (dx.Ok()) {
            Offset = offset;
            Steep = steep;
            SetValue = setValue;
            TransitionZone = zone;
            CalibrationTemperature = calibrationTemperature;
            VoltmeterCalibration = voltmeterCalibration;
            MotorsPowerOn = motorsPowerOn;
            VoltmeterAveraging = averaging;
        }
    }
    ApplyModeRules();
    m_Exchanging = false;
    return dx.Ok();
}

void CHeaterControlDlg::ApplyModeRules() {
    const bool sensorMode = PowerMode != kConstPower && PowerMode != kFlatBox;
    m_SensorA->setEnabled(sensorMode);
    m_SensorB->setEnabled(PowerMode == kHeaterDelta || PowerMode == kCoolerDelta);
    Control(h::kTransitionZone)->setEnabled(sensorMode);
    Control(h::kSetValue)->setEnabled(PowerMode != kFlatBox);
    m_Unit->setText(PowerMode == kConstPower ? QStringLiteral("power 0...100%") : QStringLiteral("temperature (C)"));
}

void CHeaterControlDlg::OnModeChanged() {
    if (!m_Exchanging) ExchangeData(Transfer::ToFields);
}

void CHeaterControlDlg::ShowMessage(const QString& text, QMessageBox::Icon icon) {
    m_ShowMessage(this, QGuiApplication::applicationDisplayName(), text, icon);
}

void CHeaterControlDlg::Refuse(int id, const QString& text) {
    ShowMessage(text, QMessageBox::Warning);
    if (QLineEdit* edit = Edit(id)) {
        edit->setFocus();
        edit->selectAll();
    }
}

void CHeaterControlDlg::OnResetOffsets() {
    // Only the four offset boxes change: text typed elsewhere stays as it is.
    for (int i = 0; i < kSensorCount; ++i) {
        m_FW.TermOffset[i] = 0;
        Offset[i] = 0.0f;
        SetFloatText(h::kOffset0 + i, Offset[i]);
    }
}

void CHeaterControlDlg::OnResetSteep() {
    for (int i = 0; i < kSensorCount; ++i) {
        m_FW.TermSteep[i] = 1000;
        Steep[i] = 1.0f;
        SetFloatText(h::kSteep0 + i, Steep[i]);
    }
}

CHeaterControlDlg::Readings CHeaterControlDlg::ReadSensors() {
    Readings r;
    const int sensors = std::min<int>(m_FW.SensorCount, kCalibrationSensors);
    float sum = 0;
    for (int i = 0; i < sensors; ++i) {
        r.ok[i] = m_FW.GetTemperature(i, r.t[i]);
        if (r.ok[i]) {
            sum += r.t[i];
            ++r.count;
        }
    }
    if (r.count > 0) r.mean = sum / static_cast<float>(r.count);
    return r;
}

void CHeaterControlDlg::CalibrateOffsets() {
    // Typed slopes count in the correction, and no typed text is lost by the refresh.
    if (!ExchangeData(Transfer::ToFields)) return;
    const Readings r = ReadSensors();
    if (r.count < 2) return;
    for (int i = 0; i < kSensorCount; ++i) {
        if (!r.ok[i]) continue;
        // A zero slope gives no correction; that sensor keeps its offset.
        if (Steep[i] == 0.0f) continue;
        const double correction = 100.0 * static_cast<double>(r.t[i] - r.mean) / static_cast<double>(Steep[i]);
        m_FW.TermOffset[i] = Saturate16(m_FW.TermOffset[i] - RoundHalfUp(correction));
        Offset[i] = static_cast<float>(m_FW.TermOffset[i] / 100.0);
    }
    CalibrationTemperature = static_cast<float>(std::trunc(static_cast<double>(r.mean) * 100.0) / 100.0);
    ExchangeData(Transfer::ToControls);
}

void CHeaterControlDlg::CalibrateSteep() {
    if (!ExchangeData(Transfer::ToFields)) return;
    Readings r = ReadSensors();
    if (r.count < 2) return;
    const float tc = CalibrationTemperature;
    if (std::fabs(r.mean - tc) < kSteepCalibrationSpan) ShowMessage(kSteepSpanWarning, QMessageBox::NoIcon);
    float sum = 0;
    for (int i = 0; i < kSensorCount; ++i) {
        if (!r.ok[i]) continue;
        // A reading at the calibration temperature leaves no slope to measure, and a slope
        // beyond the image's range cannot be stored: such a sensor keeps its slope.
        const float k = r.t[i] != tc ? (r.mean - tc) / (r.t[i] - tc) : 0.0f;
        const float steep = Steep[i] * k;
        const auto word = r.t[i] != tc && std::isfinite(steep) ? ScaledToImage16(steep, 1000.0) : std::nullopt;
        if (word) {
            Steep[i] = steep;
            r.t[i] *= k;
            m_FW.TermSteep[i] = *word;
        }
        sum += r.t[i];
    }
    const float mean2 = sum / static_cast<float>(r.count);
    for (int i = 0; i < kSensorCount; ++i) {
        if (!r.ok[i]) continue;
        m_FW.TermOffset[i] = Saturate16(m_FW.TermOffset[i] - RoundHalfUp(100.0 * static_cast<double>(r.t[i] - mean2)));
        Offset[i] = static_cast<float>(m_FW.TermOffset[i] / 100.0);
    }
    ExchangeData(Transfer::ToControls);
}

void CHeaterControlDlg::OnOK() {
    if (!ExchangeData(Transfer::ToFields)) return;
    EEFilterWheelData& image = m_FW.Image();

    // Everything is checked before the image changes, so a refused OK leaves it as it was.
    int calibration = VoltmeterCalibration;
    const std::string typed = Edit(h::kTrueVoltage)->text().toStdString();
    const double trueVolts = LeadingDecimal(typed).value_or(0.0);
    const float vin = m_FW.Status().Vin;
    if (!typed.empty() && trueVolts > 0 && VoltmeterCalibration > 0 && vin > kMinCalibrationVin) {
        const double c = std::trunc(image.VoltCalibration * static_cast<double>(vin) / trueVolts + 0.5);
        if (c < std::numeric_limits<std::int16_t>::min() || c > std::numeric_limits<std::int16_t>::max()) {
            Refuse(h::kTrueVoltage, QStringLiteral("The voltmeter calibration this voltage gives does not fit; "
                                                   "please check the voltage (%1 V measured).")
                                        .arg(static_cast<double>(vin), 0, 'f', 2));
            return;
        }
        calibration = static_cast<int>(c);
    }

    const std::optional<HeaterWords> heater =
        EncodeHeater({PowerMode, SensorA, SensorB, SetValue, TransitionZone});
    if (!heater) return Refuse(h::kSetValue, NumberRange("-327.67", "327.67"));

    std::array<std::int16_t, kSensorCount> steep{}, offset{};
    for (int i = 0; i < kSensorCount; ++i) {
        const auto o = ScaledToImage16(Offset[i], 100.0);
        if (!o) return Refuse(h::kOffset0 + i, NumberRange("-327.68", "327.67"));
        const auto s = ScaledToImage16(Steep[i], 1000.0);
        if (!s) return Refuse(h::kSteep0 + i, NumberRange("-32.768", "32.767"));
        offset[i] = *o;
        steep[i] = *s;
    }

    constexpr int kMin16 = std::numeric_limits<std::int16_t>::min(), kMax16 = std::numeric_limits<std::int16_t>::max();
    if (calibration < kMin16 || calibration > kMax16)
        return Refuse(h::kVoltmeterCalibration, IntegerRange(kMin16, kMax16));
    if (MotorsPowerOn < kMin16 || MotorsPowerOn > kMax16) return Refuse(h::kMotorsPowerOn, IntegerRange(kMin16, kMax16));
    if (VoltmeterAveraging < 0 || VoltmeterAveraging > 0xFFFF)
        return Refuse(h::kVoltmeterAveraging, IntegerRange(0, 0xFFFF));

    VoltmeterCalibration = calibration;
    image.HeaterControl = heater->control;
    image.HeaterSetPoint = heater->setValue;
    for (int i = 0; i < kSensorCount; ++i) {
        image.TermSteep[i] = steep[i];
        image.TermOffset[i] = offset[i];
    }
    image.VoltCalibration = static_cast<std::int16_t>(VoltmeterCalibration);
    image.MotorsPowerOnVoltage = static_cast<std::int16_t>(MotorsPowerOn);
    image.VoltAveraging = static_cast<std::uint16_t>(VoltmeterAveraging);
    // Without a connection the write fails at the link; the image keeps the new values.
    m_FW.WriteMemoryImage(false);
    QDialog::accept();
}

void CHeaterControlDlg::reject() {
    for (int i = 0; i < kSensorCount; ++i) {
        m_FW.TermOffset[i] = m_OpenedOffsets[i];
        m_FW.TermSteep[i] = m_OpenedSteep[i];
    }
    QDialog::reject();
}

}  // namespace velq3::ui
