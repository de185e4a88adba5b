// The focuser settings dialog: loading with the device's finest microstep, the step and sensor
// type lists, the compensation coefficient scaled by the memory size, the current spins, the
// log folder, the microsteps table and OK.
#include "ui/FocuserSettingsRules.h"

#include <algorithm>
#include <cmath>

#include "ui/NumberText.h"

namespace velq3::ui {

namespace {

namespace id = focuser_settings_id;

constexpr int kCurrentMemorySize = 201;  // devices with more memory hold the running current
constexpr int kTenthsMemorySize = 163;   // from this size on the coefficient is in tenths

const std::vector<std::string> kSensorTypes = {"DS1631/1624 (auto)", "DS1631", "DS1624", "DS1624 (clone)"};

// The first `count` characters of a UTF-8 text.
std::string FirstCharacters(const std::string& text, size_t count) {
    size_t end = 0;
    for (size_t n = 0; end < text.size() && n < count; ++n) {
        ++end;
        while (end < text.size() && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) ++end;
    }
    return text.substr(0, end);
}

}  // namespace

FocuserSettingsRules::FocuserSettingsRules(OrnFilterWheel& device, DialogControls& controls)
    : CurrentFormatter(device), m_Dlg(controls) {}

void FocuserSettingsRules::OnInitDialog() {
    m_Dlg.SetItems(id::kSensorType, kSensorTypes);
    // The up-downs that write their value into the edit box beside them, with their ranges.
    const struct {
        int spin, buddy, lower, upper;
    } writing[] = {{id::kBacklashSpin, id::kBacklash, 0, 1000},       {id::kSpeedSpin, id::kSpeed, 10, 1000},
                   {id::kSensorCountSpin, id::kSensorCount, 1, 4},    {id::kCoefficientSpin, id::kCoefficient, -1000, 1000},
                   {id::kAveragingSpin, id::kAveraging, 0, 1000},     {id::kThresholdSpin, id::kThreshold, 0, 1000}};
    for (const auto& w : writing) {
        m_Dlg.SetBuddy(w.spin, w.buddy, true);
        m_Dlg.SetRange(w.spin, w.lower, w.upper);
    }
    m_Dlg.SetRange(id::kMotorCurrentSpin, 0, 255);
    m_Dlg.SetRange(id::kIdleCurrentSpin, 0, 255);
    m_Dlg.SetDefaultButton(id::kOk);

    if (m_FW.IsOpen()) LoadFields();
    ExchangeData(Transfer::ToControls);
    BuildStepList();
    const int type = m_FW.SensorType;
    m_Dlg.Select(id::kSensorType, type < m_Dlg.ItemCount(id::kSensorType) ? type : -1);
    m_Dlg.Enable(id::kMicrosteps, m_FW.m_MicrostepTableLen > 0);
}

void FocuserSettingsRules::OnCommand(int controlId, Notify what) {
    if (what != Notify::Clicked) return;
    switch (controlId) {
        case id::kOk: OnOK(); break;
        case id::kMicrosteps: OnMicrosteps(); break;
        case id::kLogPathButton: OnLogPath(); break;
        default: break;
    }
}

void FocuserSettingsRules::OnDeltaPos(int controlId, int delta) {
    if (controlId == id::kMotorCurrentSpin) OnMotorCurrentSpin(delta);
    else if (controlId == id::kIdleCurrentSpin) OnIdleCurrentSpin(delta);
}

void FocuserSettingsRules::OnCancel() { m_Dlg.EndDialog(kIdCancel); }

bool FocuserSettingsRules::TenthsCoefficient() const { return m_FW.m_MemorySize >= kTenthsMemorySize; }

void FocuserSettingsRules::LoadFields() {
    Speed = m_FW.FocuserSpeed;
    IdleCurrent = m_FW.FocuserIdleCurrent;
    Backlash = m_FW.FocuserBacklash;
    SensorCount = m_FW.SensorCount;
    Averaging = m_FW.TempAveraging;
    DirThreshold = m_FW.DirChangeThreshold;
    Coefficient = TenthsCoefficient() ? m_FW.TempCompensation / 10.0f : static_cast<float>(m_FW.TempCompensation);
    if (m_FW.m_MemorySize > kCurrentMemorySize) MotorCurrent = m_FW.FocuserCurrent;
    // The first reply byte (the increment in use) is the image's byte 11 already.
    int increment = 0, resolution = kDefaultMicrostepMax;
    MicrostepMax = m_FW.GetMicrostep(increment, resolution) ? resolution : kDefaultMicrostepMax;
}

void FocuserSettingsRules::BuildStepList() {
    std::vector<std::string> items;
    int selected = -1;
    // Divisors 1, 2, 4 ... up to the finest one; each item's increment is MicrostepMax / d.
    for (std::int64_t d = 1; d <= MicrostepMax; d *= 2) {
        if (MicrostepMax / d == m_FW.MicrostepIncrement) selected = static_cast<int>(items.size());
        items.push_back(std::string("1/").append(std::to_string(d)));
    }
    m_Dlg.SetItems(id::kStepList, items);
    m_Dlg.Select(id::kStepList, selected);
}

void FocuserSettingsRules::StoreFields() {
    m_FW.FocuserSpeed = static_cast<std::uint16_t>(Speed);
    m_FW.FocuserIdleCurrent = static_cast<std::uint8_t>(std::clamp(IdleCurrent, 0, 255));
    m_FW.FocuserCurrent = static_cast<std::uint8_t>(std::clamp(MotorCurrent, 0, 255));
    m_FW.FocuserBacklash = static_cast<std::uint16_t>(Backlash);
    // Rounded half up, then the low 16 bits; the bound keeps the conversion defined for any
    // float typed in.
    const float scaled = TenthsCoefficient() ? Coefficient * 10.0f : Coefficient;
    const double rounded = std::clamp(std::floor(static_cast<double>(scaled) + 0.5), -1e18, 1e18);
    m_FW.TempCompensation = Low16Signed(static_cast<std::int64_t>(rounded));
    m_FW.SensorCount = static_cast<std::uint8_t>(SensorCount);
    m_FW.TempAveraging = static_cast<std::uint16_t>(Averaging);
    m_FW.DirChangeThreshold = static_cast<std::uint16_t>(DirThreshold);
    // A list without a selection (the image's step mode fits no item) keeps the image's bytes.
    if (const int i = m_Dlg.Selection(id::kStepList); i >= 0)
        m_FW.MicrostepIncrement = static_cast<std::uint8_t>(MicrostepMax >> i);
    if (const int type = m_Dlg.Selection(id::kSensorType); type >= 0)
        m_FW.SensorType = static_cast<std::uint8_t>(type);
}

bool FocuserSettingsRules::ExchangeData(Transfer direction) {
    DataExchange dx(m_Dlg, direction, Prompt);
    dx.Unsigned(id::kBacklash, Backlash);
    dx.Unsigned(id::kSpeed, Speed);
    dx.Unsigned(id::kSensorCount, SensorCount);
    dx.Unsigned(id::kAveraging, Averaging);
    dx.Unsigned(id::kThreshold, DirThreshold);
    dx.Decimal(id::kCoefficient, Coefficient);
    // The device's own settings change only when every entry could be taken, so that a
    // refused OK followed by Cancel leaves them as they were.
    double stepLen = m_FW.StepLenInMicrons;
    std::int32_t maxFocusPos = m_FW.AscomMaxFocusPos, focusShift = m_FW.AscomFocusShift;
    std::string logPath = m_FW.TermLogPath;
    dx.Decimal(id::kStepLen, stepLen);
    dx.Signed(id::kMaxFocusPos, maxFocusPos);
    dx.Signed(id::kFocusShift, focusShift);
    dx.Text(id::kLogPath, logPath);
    if (!dx.Ok()) return false;
    if (dx.ToFields()) {
        m_FW.StepLenInMicrons = stepLen;
        m_FW.AscomMaxFocusPos = maxFocusPos;
        m_FW.AscomFocusShift = focusShift;
        m_FW.TermLogPath = logPath;
    } else {
        m_Dlg.SetText(id::kMotorCurrent, FormatCurrent(MotorCurrent));
        m_Dlg.SetText(id::kIdleCurrent, FormatCurrent(IdleCurrent));
    }
    const bool runningCurrent = m_FW.m_MemorySize > kCurrentMemorySize;
    m_Dlg.Enable(id::kMotorCurrentSpin, runningCurrent);
    m_Dlg.Enable(id::kMotorCurrent, runningCurrent);
    return true;
}

void FocuserSettingsRules::OnMotorCurrentSpin(int delta) {
    MotorCurrent = std::clamp(MotorCurrent + delta, 0, 255);
    m_Dlg.SetText(id::kMotorCurrent, FormatCurrent(MotorCurrent));
}

void FocuserSettingsRules::OnIdleCurrentSpin(int delta) {
    IdleCurrent = std::clamp(IdleCurrent + delta, 0, kMaxIdleCurrent);
    m_Dlg.SetText(id::kIdleCurrent, FormatCurrent(IdleCurrent));
}

void FocuserSettingsRules::OnLogPath() {
    ExchangeData(Transfer::ToFields);  // what can be taken is taken; the folder is chosen anyway
    // The path as far as a NUL, as the edit holds it.
    const std::string initial = FirstCharacters(m_FW.TermLogPath.c_str(), kInitialPathLength);
    const std::optional<std::string> chosen = PickFolder(kLogFolderTitle, initial);
    if (!chosen || chosen->empty()) return;
    m_FW.TermLogPath = *chosen;
    ExchangeData(Transfer::ToControls);
}

void FocuserSettingsRules::OnMicrosteps() {
    m_FW.ReadMicrostepTable();
    RunMicrostepsDialog();
}

void FocuserSettingsRules::OnOK() {
    if (!ExchangeData(Transfer::ToFields)) return;
    if (m_FW.IsOpen()) StoreFields();
    m_FW.WriteMemoryImage(false);  // a failure is not reported
    m_Dlg.EndDialog(kIdOk);
}

}  // namespace velq3::ui
