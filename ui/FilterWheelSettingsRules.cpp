// The filter wheel settings dialog: the mode byte's load and store rules, the enable and show
// rules, the mode-change step, the current spins and OK.
#include "ui/FilterWheelSettingsRules.h"

#include <algorithm>

namespace velq3::ui {

namespace {

namespace id = wheel_settings_id;

constexpr int kCurrentMemorySize = 200;  // devices with more memory hold the running current
constexpr int kVirtualWheelBase = 10;    // mode bytes above it are virtual wheels
constexpr int kSpecialModeCount = 6;     // filter count shown for the modes without a wheel
constexpr std::int8_t kSecondFocuserByte = 0;
constexpr std::int8_t kRotatorByte = -1;
constexpr std::int8_t kCoverByte = -2;

// The sensors' power output level: always 0, always 1, 1 when active and 0 when passive, and
// the reverse. The device interprets the index.
const std::vector<std::string> kPowerOutItems = {"Всегда =0", "Всегда =1", "Активен=1, Пассивен=0",
                                                 "Активен=0,  Пассивен=1"};

}  // namespace

FilterWheelSettingsRules::FilterWheelSettingsRules(OrnFilterWheel& device, DialogControls& controls)
    : CurrentFormatter(device), m_Dlg(controls) {}

void FilterWheelSettingsRules::OnInitDialog() {
    m_Dlg.SetItems(id::kPowerOutList, kPowerOutItems);
    m_Dlg.DigitsOnly(id::kMaxSteps);
    m_Dlg.SetBuddy(id::kSpeedSpin, id::kSpeed, true);
    m_Dlg.SetBuddy(id::kFilterCountSpin, id::kFilterCount, true);
    m_Dlg.SetDefaultButton(id::kOk);

    if (m_FW.IsOpen()) LoadFields();
    ExchangeData(Transfer::ToControls);
    m_Dlg.SetRange(id::kSpeedSpin, 10, 1000);
    m_Dlg.SetRange(id::kFilterCountSpin, 2, 10);
    m_Dlg.SetRange(id::kMotorCurrentSpin, 0, 255);
    m_Dlg.SetRange(id::kIdleCurrentSpin, 0, 255);
    OnModeChange();
}

void FilterWheelSettingsRules::OnCommand(int controlId, Notify what) {
    if (what != Notify::Clicked) return;
    switch (controlId) {
        case id::kOk: OnOK(); break;
        case id::kRotatorMode:
        case id::kCoverMode:
        case id::kSecondFocuserMode:
        case id::kVirtualWheelMode: OnModeChange(); break;
        default: break;
    }
}

void FilterWheelSettingsRules::OnDeltaPos(int controlId, int delta) {
    if (controlId == id::kMotorCurrentSpin) OnMotorCurrentSpin(delta);
    else if (controlId == id::kIdleCurrentSpin) OnIdleCurrentSpin(delta);
}

void FilterWheelSettingsRules::OnCancel() { m_Dlg.EndDialog(kIdCancel); }

void FilterWheelSettingsRules::LoadFields() {
    const int b = m_FW.Mode;
    RotatorMode = b == kRotatorByte;
    CoverMode = b == kCoverByte;
    SecondFocuserMode = b == kSecondFocuserByte;
    VirtualWheelMode = b > kVirtualWheelBase;
    if (b > kVirtualWheelBase) FilterCount = b - kVirtualWheelBase;
    else if (b == kSecondFocuserByte || b == kRotatorByte || b == kCoverByte) FilterCount = kSpecialModeCount;
    else FilterCount = b;
    Speed = m_FW.WheelSpeed;
    IdleCurrent = m_FW.WheelIdleCurrent;
    HomeMark = m_FW.HomeMark;
    PowerOutMode = m_FW.SensorsPowerMode;
    MaxSteps = m_FW.MaxSteps;
    if (m_FW.m_MemorySize > kCurrentMemorySize) MotorCurrent = m_FW.WheelCurrent;
}

void FilterWheelSettingsRules::StoreFields() {
    // Later rules win: the cover over the rotator over the second focuser over the wheel.
    int b = FilterCount;
    if (VirtualWheelMode) b += kVirtualWheelBase;
    if (SecondFocuserMode) b = kSecondFocuserByte;
    if (RotatorMode) b = kRotatorByte;
    if (CoverMode) b = kCoverByte;
    m_FW.Mode = static_cast<std::int8_t>(b);
    m_FW.WheelSpeed = static_cast<std::uint16_t>(Speed);
    m_FW.WheelIdleCurrent = static_cast<std::uint8_t>(IdleCurrent);
    m_FW.SettingsConfirmed = 1;
    m_FW.HomeMark = static_cast<std::uint8_t>(HomeMark);
    // Without a selection (the device holds a mode the list does not know) its byte stays.
    if (PowerOutMode >= 0) m_FW.SensorsPowerMode = static_cast<std::uint8_t>(PowerOutMode);
    m_FW.MaxSteps = static_cast<std::uint16_t>(MaxSteps);
    // Stored whatever the memory size; only the bytes the device has are written.
    m_FW.WheelCurrent = static_cast<std::uint8_t>(MotorCurrent);
}

bool FilterWheelSettingsRules::ExchangeData(Transfer direction) {
    DataExchange dx(m_Dlg, direction, Prompt);
    dx.Check(id::kRotatorMode, RotatorMode);
    dx.Check(id::kCoverMode, CoverMode);
    dx.Check(id::kSecondFocuserMode, SecondFocuserMode);
    dx.Check(id::kVirtualWheelMode, VirtualWheelMode);
    dx.Check(id::kHomeSensor, HomeMark);
    dx.ListIndex(id::kPowerOutList, PowerOutMode);
    dx.Unsigned(id::kSpeed, Speed);
    dx.Unsigned(id::kFilterCount, FilterCount);
    dx.Unsigned(id::kMaxSteps, MaxSteps);
    if (!dx.Ok()) return false;
    if (!dx.ToFields()) {
        m_Dlg.SetText(id::kMotorCurrent, FormatCurrent(MotorCurrent));
        m_Dlg.SetText(id::kIdleCurrent, FormatCurrent(IdleCurrent));
    }
    ApplyRules();
    return true;
}

void FilterWheelSettingsRules::ApplyRules() {
    const bool open = m_FW.IsOpen();
    const bool special = RotatorMode || CoverMode || SecondFocuserMode;
    m_Dlg.Enable(id::kSpeedSpin, open);
    m_Dlg.Enable(id::kRotatorMode, open);
    m_Dlg.Enable(id::kCoverMode, open);
    m_Dlg.Enable(id::kPowerOutList, open && !special);
    m_Dlg.Enable(id::kMaxSteps, open && !(SecondFocuserMode && !RotatorMode && !CoverMode));
    const bool runningCurrent = open && m_FW.m_MemorySize > kCurrentMemorySize;
    m_Dlg.Enable(id::kMotorCurrentSpin, runningCurrent);
    m_Dlg.Enable(id::kMotorCurrent, runningCurrent);
    m_Dlg.Enable(id::kSecondFocuserMode, open && !RotatorMode && !CoverMode);
    m_Dlg.Enable(id::kVirtualWheelMode, open && !special);
    m_Dlg.Show(id::kFilterCountLabel, !special);
    m_Dlg.Show(id::kFilterCount, !special);
    m_Dlg.Show(id::kFilterCountSpin, !special);
    m_Dlg.Show(id::kHomeSensor, !RotatorMode && !SecondFocuserMode);
}

void FilterWheelSettingsRules::OnModeChange() {
    if (!ExchangeData(Transfer::ToFields)) return;
    if (RotatorMode) m_Dlg.SetText(id::kMaxStepsLabel, "Steps\nper 360 rotation");
    else if (CoverMode) m_Dlg.SetText(id::kMaxStepsLabel, "Max Steps\nto open Cover");
    else m_Dlg.SetText(id::kMaxStepsLabel, "Max Steps\nto change Filter");
    m_Dlg.SetText(id::kHomeSensor, CoverMode ? "Cover has endstop sensors" : "Home mark is seen by Filter sensor");
}

void FilterWheelSettingsRules::OnMotorCurrentSpin(int delta) {
    MotorCurrent = std::clamp(MotorCurrent + delta, 0, 255);
    m_Dlg.SetText(id::kMotorCurrent, FormatCurrent(MotorCurrent));
}

void FilterWheelSettingsRules::OnIdleCurrentSpin(int delta) {
    IdleCurrent = std::clamp(IdleCurrent + delta, 0, kMaxIdleCurrent);
    m_Dlg.SetText(id::kIdleCurrent, FormatCurrent(IdleCurrent));
}

void FilterWheelSettingsRules::OnOK() {
    if (!ExchangeData(Transfer::ToFields)) return;
    if (m_FW.IsOpen()) StoreFields();
    // Failures are not reported: the main window's next poll shows the resulting state.
    m_FW.WriteMemoryImage(false);
    m_FW.Handshake();
    m_FW.SaveRegistrySettings();
    m_FW.DisconnectMulti(ClientKey());
    m_Dlg.EndDialog(kIdOk);
}

}  // namespace velq3::ui
