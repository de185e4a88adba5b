// The "Heater Control" dialog: decoding at opening, the data exchange with its enable rules,
// the Reset and Calibrate buttons, and the encoding and memory write on OK.
#include "ui/HeaterControlRules.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "device/OrnFilterWheel.h"
#include "ui/DecimalText.h"

namespace velq3::ui {

namespace h = idc::heater;

const char* const HeaterControlRules::kSteepSpanWarning =
    "Temperature must be at least 10C lower or higher from offset calibration temperature, for proper Skew calibration.";

namespace {

constexpr int kMemoryForVoltmeter = 198;  // calibration and power-on voltage editable from here
constexpr int kMemoryForAveraging = 200;
constexpr float kMinCalibrationVin = 4.0f;  // volts: below this the measured supply says nothing

std::string NumberRange(const char* low, const char* high) {
    return std::string("Please enter a number between ") + low + " and " + high + ".";
}
std::string IntegerRange(long long low, long long high) {
    return "Please enter an integer between " + std::to_string(low) + " and " + std::to_string(high) + ".";
}

}  // namespace

HeaterControlRules::HeaterControlRules(OrnFilterWheel& device, DialogControls& controls)
    : m_FW(device), m_Dlg(controls) {
    m_Prompt = [this](const std::string& text) { ShowMessage(text, MessageIcon::Warning); };
    DecodeImage();
}

void HeaterControlRules::DecodeImage() {
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

void HeaterControlRules::OnInitDialog() {
    m_Dlg.SetItems(h::kPowerMode, std::vector<std::string>(std::begin(kPowerModeNames), std::end(kPowerModeNames)));
    std::vector<std::string> sensors;
    for (int i = 0; i < kSensorCount; ++i) sensors.push_back(std::string{'T', static_cast<char>('0' + i)});
    m_Dlg.SetItems(h::kSensorA, sensors);
    m_Dlg.SetItems(h::kSensorB, sensors);
    m_Dlg.SetDefaultButton(h::kOK);
    m_Dlg.Enable(h::kVoltmeterCalibration, m_FW.m_MemorySize >= kMemoryForVoltmeter);
    m_Dlg.Enable(h::kMotorsPowerOn, m_FW.m_MemorySize >= kMemoryForVoltmeter);
    m_Dlg.Enable(h::kVoltmeterAveraging, m_FW.m_MemorySize >= kMemoryForAveraging);
    ExchangeData(Transfer::ToControls);
}

void HeaterControlRules::OnCommand(int id, Notify what) {
    if (id == h::kPowerMode && what == Notify::SelChanged) return OnModeChanged();
    if (what != Notify::Clicked) return;
    switch (id) {
        case h::kOK: OnOK(); break;
        case h::kResetOffsets: OnResetOffsets(); break;
        case h::kResetSteep: OnResetSteep(); break;
        case h::kCalibrateOffsets: CalibrateOffsets(); break;
        case h::kCalibrateSteep: CalibrateSteep(); break;
        default: break;
    }
}

void HeaterControlRules::SetFloatText(int id, float value) {
    // At most six significant digits, no trailing zeros.
    m_Dlg.SetText(id, GeneralText(static_cast<double>(value), 6));
}

bool HeaterControlRules::ExchangeData(Transfer direction) {
    // The transfer works on copies, so that a refused entry leaves every text field as it was.
    int mode = PowerMode, sensorA = SensorA, sensorB = SensorB;
    std::array<float, kSensorCount> offset = Offset, steep = Steep;
    float setValue = SetValue, zone = TransitionZone, calibrationTemperature = CalibrationTemperature;
    int voltmeterCalibration = VoltmeterCalibration, motorsPowerOn = MotorsPowerOn, averaging = VoltmeterAveraging;

    m_Exchanging = true;
    DataExchange dx(m_Dlg, direction == Transfer::ToFields ? DataExchange::Direction::ToFields
                                                           : DataExchange::Direction::ToControls,
                    m_Prompt);
    // The lists come first: they cannot be refused, and the mode rules follow them even when
    // a text below is refused.
    dx.ListIndex(h::kPowerMode, mode);
    dx.ListIndex(h::kSensorA, sensorA);
    dx.ListIndex(h::kSensorB, sensorB);
    for (int i = 0; i < kSensorCount; ++i) dx.Decimal(h::kOffset0 + i, offset[i]);
    for (int i = 0; i < kSensorCount; ++i) dx.Decimal(h::kSteep0 + i, steep[i]);
    dx.Decimal(h::kSetValue, setValue);
    dx.Decimal(h::kTransitionZone, zone);
    dx.Decimal(h::kCalibrationTemperature, calibrationTemperature);
    dx.Signed(h::kVoltmeterCalibration, voltmeterCalibration);
    dx.Signed(h::kMotorsPowerOn, motorsPowerOn);
    dx.Unsigned(h::kVoltmeterAveraging, averaging);

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

void HeaterControlRules::ApplyModeRules() {
    const bool sensorMode = PowerMode != kConstPower && PowerMode != kFlatBox;
    m_Dlg.Enable(h::kSensorA, sensorMode);
    m_Dlg.Enable(h::kSensorB, PowerMode == kHeaterDelta || PowerMode == kCoolerDelta);
    m_Dlg.Enable(h::kTransitionZone, sensorMode);
    m_Dlg.Enable(h::kSetValue, PowerMode != kFlatBox);
    m_Dlg.SetText(h::kSetValueUnit, PowerMode == kConstPower ? "power 0...100%" : "temperature (C)");
}

void HeaterControlRules::OnModeChanged() {
    if (!m_Exchanging) ExchangeData(Transfer::ToFields);
}

void HeaterControlRules::ShowMessage(const std::string& text, MessageIcon icon) { m_Dlg.Message(text, "", icon); }

void HeaterControlRules::Refuse(int id, const std::string& text) {
    ShowMessage(text, MessageIcon::Warning);
    m_Dlg.FocusAndSelect(id);
}

void HeaterControlRules::OnResetOffsets() {
    // Only the four offset boxes change: text typed elsewhere stays as it is.
    for (int i = 0; i < kSensorCount; ++i) {
        m_FW.TermOffset[i] = 0;
        Offset[i] = 0.0f;
        SetFloatText(h::kOffset0 + i, Offset[i]);
    }
}

void HeaterControlRules::OnResetSteep() {
    for (int i = 0; i < kSensorCount; ++i) {
        m_FW.TermSteep[i] = 1000;
        Steep[i] = 1.0f;
        SetFloatText(h::kSteep0 + i, Steep[i]);
    }
}

HeaterControlRules::Readings HeaterControlRules::ReadSensors() {
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

void HeaterControlRules::CalibrateOffsets() {
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

void HeaterControlRules::CalibrateSteep() {
    if (!ExchangeData(Transfer::ToFields)) return;
    Readings r = ReadSensors();
    if (r.count < 2) return;
    const float tc = CalibrationTemperature;
    if (std::fabs(r.mean - tc) < kSteepCalibrationSpan) ShowMessage(kSteepSpanWarning, MessageIcon::None);
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

void HeaterControlRules::OnOK() {
    if (!ExchangeData(Transfer::ToFields)) return;
    EEFilterWheelData& image = m_FW.Image();

    // Everything is checked before the image changes, so a refused OK leaves it as it was.
    int calibration = VoltmeterCalibration;
    const std::string typed = m_Dlg.Text(h::kTrueVoltage);
    const double trueVolts = LeadingDecimal(typed).value_or(0.0);
    const float vin = m_FW.Status().Vin;
    if (!typed.empty() && trueVolts > 0 && VoltmeterCalibration > 0 && vin > kMinCalibrationVin) {
        const double c = std::trunc(image.VoltCalibration * static_cast<double>(vin) / trueVolts + 0.5);
        if (c < std::numeric_limits<std::int16_t>::min() || c > std::numeric_limits<std::int16_t>::max()) {
            Refuse(h::kTrueVoltage, "The voltmeter calibration this voltage gives does not fit; "
                                    "please check the voltage (" + FixedText(static_cast<double>(vin), 2) + " V measured).");
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
    m_Dlg.EndDialog(kIdOk);
}

void HeaterControlRules::OnCancel() {
    for (int i = 0; i < kSensorCount; ++i) {
        m_FW.TermOffset[i] = m_OpenedOffsets[i];
        m_FW.TermSteep[i] = m_OpenedSteep[i];
    }
    m_Dlg.EndDialog(kIdCancel);
}

}  // namespace velq3::ui
