// The filter wheel settings dialog: the mode byte's load and store rules, the enable and show
// rules, the mode-change step, the current spins and OK.
#include "ui/FilterWheelSettingsDlg.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>

#include <algorithm>

#include "ui/UpDown.h"

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
constexpr const char* kPowerOutItems[] = {"Всегда =0", "Всегда =1", "Активен=1, Пассивен=0",
                                          "Активен=0,  Пассивен=1"};

}  // namespace

CFilterWheelSettingsDlg::CFilterWheelSettingsDlg(OrnFilterWheel& device, QWidget* parent)
    : QDialog(parent), CurrentFormatter(device) {
    m_Controls = BuildDialog(*this, kFilterWheelSettingsTemplate);
    m_C.rotator = ControlById<QCheckBox>(m_Controls, id::kRotatorMode);
    m_C.cover = ControlById<QCheckBox>(m_Controls, id::kCoverMode);
    m_C.secondFocuser = ControlById<QCheckBox>(m_Controls, id::kSecondFocuserMode);
    m_C.virtualWheel = ControlById<QCheckBox>(m_Controls, id::kVirtualWheelMode);
    m_C.motorCurrent = ControlById<QLineEdit>(m_Controls, id::kMotorCurrent);
    m_C.motorCurrentSpin = ControlById<CUpDown>(m_Controls, id::kMotorCurrentSpin);
    m_C.idleCurrent = ControlById<QLineEdit>(m_Controls, id::kIdleCurrent);
    m_C.idleCurrentSpin = ControlById<CUpDown>(m_Controls, id::kIdleCurrentSpin);
    m_C.homeSensor = ControlById<QCheckBox>(m_Controls, id::kHomeSensor);
    m_C.speed = ControlById<QLineEdit>(m_Controls, id::kSpeed);
    m_C.speedSpin = ControlById<CUpDown>(m_Controls, id::kSpeedSpin);
    m_C.filterCount = ControlById<QLineEdit>(m_Controls, id::kFilterCount);
    m_C.filterCountSpin = ControlById<CUpDown>(m_Controls, id::kFilterCountSpin);
    m_C.filterCountLabel = ControlById<QLabel>(m_Controls, id::kFilterCountLabel);
    m_C.maxSteps = ControlById<QLineEdit>(m_Controls, id::kMaxSteps);
    m_C.maxStepsLabel = ControlById<QLabel>(m_Controls, id::kMaxStepsLabel);
    m_C.powerOut = ControlById<QComboBox>(m_Controls, id::kPowerOutList);

    WrapStaticTexts(*this);
    for (const char* item : kPowerOutItems) m_C.powerOut->addItem(QString::fromUtf8(item));
    m_C.maxSteps->setValidator(new QRegularExpressionValidator(QRegularExpression("[0-9]*"), m_C.maxSteps));
    m_C.speedSpin->SetBuddy(m_C.speed, true);
    m_C.filterCountSpin->SetBuddy(m_C.filterCount, true);
    if (auto* ok = ControlById<QPushButton>(m_Controls, id::kOk)) {
        ok->setDefault(true);
        connect(ok, &QPushButton::clicked, this, [this] { OnOK(); });
    }
    for (QCheckBox* box : {m_C.rotator, m_C.cover, m_C.secondFocuser, m_C.virtualWheel})
        connect(box, &QCheckBox::clicked, this, [this] { OnModeChange(); });
    connect(m_C.motorCurrentSpin, &CUpDown::DeltaPos, this, [this](int d) { OnMotorCurrentSpin(d); });
    connect(m_C.idleCurrentSpin, &CUpDown::DeltaPos, this, [this](int d) { OnIdleCurrentSpin(d); });

    if (m_FW.IsOpen()) LoadFields();
    ExchangeData(Transfer::ToControls);
    m_C.speedSpin->SetRange(10, 1000);
    m_C.filterCountSpin->SetRange(2, 10);
    m_C.motorCurrentSpin->SetRange(0, 255);
    m_C.idleCurrentSpin->SetRange(0, 255);
    OnModeChange();
}

QWidget* CFilterWheelSettingsDlg::Control(int controlId) const { return ControlById<QWidget>(m_Controls, controlId); }

void CFilterWheelSettingsDlg::LoadFields() {
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

void CFilterWheelSettingsDlg::StoreFields() {
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

bool CFilterWheelSettingsDlg::ExchangeData(Transfer direction) {
    DataExchange dx(*this, direction, Prompt);
    dx.Check(m_C.rotator, RotatorMode);
    dx.Check(m_C.cover, CoverMode);
    dx.Check(m_C.secondFocuser, SecondFocuserMode);
    dx.Check(m_C.virtualWheel, VirtualWheelMode);
    dx.Check(m_C.homeSensor, HomeMark);
    dx.ListIndex(m_C.powerOut, PowerOutMode);
    dx.Unsigned(m_C.speed, Speed);
    dx.Unsigned(m_C.filterCount, FilterCount);
    dx.Unsigned(m_C.maxSteps, MaxSteps);
    if (!dx.Ok()) return false;
    if (!dx.ToFields()) {
        m_C.motorCurrent->setText(FormatCurrent(MotorCurrent));
        m_C.idleCurrent->setText(FormatCurrent(IdleCurrent));
    }
    ApplyRules();
    return true;
}

void CFilterWheelSettingsDlg::ApplyRules() {
    const bool open = m_FW.IsOpen();
    const bool special = RotatorMode || CoverMode || SecondFocuserMode;
    m_C.speedSpin->setEnabled(open);
    m_C.rotator->setEnabled(open);
    m_C.cover->setEnabled(open);
    m_C.powerOut->setEnabled(open && !special);
    m_C.maxSteps->setEnabled(open && !(SecondFocuserMode && !RotatorMode && !CoverMode));
    const bool runningCurrent = open && m_FW.m_MemorySize > kCurrentMemorySize;
    m_C.motorCurrentSpin->setEnabled(runningCurrent);
    m_C.motorCurrent->setEnabled(runningCurrent);
    m_C.secondFocuser->setEnabled(open && !RotatorMode && !CoverMode);
    m_C.virtualWheel->setEnabled(open && !special);
    m_C.filterCountLabel->setVisible(!special);
    m_C.filterCount->setVisible(!special);
    m_C.filterCountSpin->setVisible(!special);
    m_C.homeSensor->setVisible(!RotatorMode && !SecondFocuserMode);
}

void CFilterWheelSettingsDlg::OnModeChange() {
    if (!ExchangeData(Transfer::ToFields)) return;
    if (RotatorMode) m_C.maxStepsLabel->setText(QStringLiteral("Steps\nper 360 rotation"));
    else if (CoverMode) m_C.maxStepsLabel->setText(QStringLiteral("Max Steps\nto open Cover"));
    else m_C.maxStepsLabel->setText(QStringLiteral("Max Steps\nto change Filter"));
    m_C.homeSensor->setText(CoverMode ? QStringLiteral("Cover has endstop sensors")
                                      : QStringLiteral("Home mark is seen by Filter sensor"));
}

void CFilterWheelSettingsDlg::OnMotorCurrentSpin(int delta) {
    MotorCurrent = std::clamp(MotorCurrent + delta, 0, 255);
    m_C.motorCurrent->setText(FormatCurrent(MotorCurrent));
}

void CFilterWheelSettingsDlg::OnIdleCurrentSpin(int delta) {
    IdleCurrent = std::clamp(IdleCurrent + delta, 0, kMaxIdleCurrent);
    m_C.idleCurrent->setText(FormatCurrent(IdleCurrent));
}

void CFilterWheelSettingsDlg::OnOK() {
    if (!ExchangeData(Transfer::ToFields)) return;
    if (m_FW.IsOpen()) StoreFields();
    // Failures are not reported: the main window's next poll shows the resulting state.
    m_FW.WriteMemoryImage(false);
    m_FW.Handshake();
    m_FW.SaveRegistrySettings();
    m_FW.DisconnectMulti(ClientKey());
    accept();
}

}  // namespace velq3::ui
