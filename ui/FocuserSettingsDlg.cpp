// The focuser settings dialog: loading with the device's finest microstep, the step and sensor
// type lists, the compensation coefficient scaled by the memory size, the current spins, the
// log folder, the microsteps table and OK.
#include "ui/FocuserSettingsDlg.h"

#include <QComboBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QPushButton>

#include <algorithm>
#include <cmath>

#include "ui/NumberText.h"
#include "ui/UpDown.h"

namespace velq3::ui {

namespace {

namespace id = focuser_settings_id;

constexpr int kCurrentMemorySize = 201;  // devices with more memory hold the running current
constexpr int kTenthsMemorySize = 163;   // from this size on the coefficient is in tenths
constexpr int kInitialPathLength = 260;  // characters of the log folder handed to the chooser

constexpr const char* kSensorTypes[] = {"DS1631/1624 (auto)", "DS1631", "DS1624", "DS1624 (clone)"};

}  // namespace

CFocuserSettingsDlg::CFocuserSettingsDlg(OrnFilterWheel& device, QWidget* parent)
    : QDialog(parent), CurrentFormatter(device) {
    m_Controls = BuildDialog(*this, kFocuserSettingsTemplate);
    WrapStaticTexts(*this);
    m_C.stepList = ControlById<QComboBox>(m_Controls, id::kStepList);
    m_C.microsteps = ControlById<QPushButton>(m_Controls, id::kMicrosteps);
    m_C.speed = ControlById<QLineEdit>(m_Controls, id::kSpeed);
    m_C.motorCurrent = ControlById<QLineEdit>(m_Controls, id::kMotorCurrent);
    m_C.motorCurrentSpin = ControlById<CUpDown>(m_Controls, id::kMotorCurrentSpin);
    m_C.idleCurrent = ControlById<QLineEdit>(m_Controls, id::kIdleCurrent);
    m_C.idleCurrentSpin = ControlById<CUpDown>(m_Controls, id::kIdleCurrentSpin);
    m_C.backlash = ControlById<QLineEdit>(m_Controls, id::kBacklash);
    m_C.sensorCount = ControlById<QLineEdit>(m_Controls, id::kSensorCount);
    m_C.sensorType = ControlById<QComboBox>(m_Controls, id::kSensorType);
    m_C.coefficient = ControlById<QLineEdit>(m_Controls, id::kCoefficient);
    m_C.averaging = ControlById<QLineEdit>(m_Controls, id::kAveraging);
    m_C.threshold = ControlById<QLineEdit>(m_Controls, id::kThreshold);
    m_C.stepLen = ControlById<QLineEdit>(m_Controls, id::kStepLen);
    m_C.maxFocusPos = ControlById<QLineEdit>(m_Controls, id::kMaxFocusPos);
    m_C.focusShift = ControlById<QLineEdit>(m_Controls, id::kFocusShift);
    m_C.logPath = ControlById<QLineEdit>(m_Controls, id::kLogPath);

    ChooseFolder = [](QWidget* owner, const QString& title, const QString& initial) {
        return QFileDialog::getExistingDirectory(owner, title, initial);
    };
    for (const char* item : kSensorTypes) m_C.sensorType->addItem(QString::fromUtf8(item));
    // The up-downs that write their value into the edit box beside them, with their ranges.
    const struct {
        int spin, buddy, lower, upper;
    } writing[] = {{id::kBacklashSpin, id::kBacklash, 0, 1000},       {id::kSpeedSpin, id::kSpeed, 10, 1000},
                   {id::kSensorCountSpin, id::kSensorCount, 1, 4},    {id::kCoefficientSpin, id::kCoefficient, -1000, 1000},
                   {id::kAveragingSpin, id::kAveraging, 0, 1000},     {id::kThresholdSpin, id::kThreshold, 0, 1000}};
    for (const auto& w : writing) {
        auto* spin = ControlById<CUpDown>(m_Controls, w.spin);
        spin->SetBuddy(ControlById<QLineEdit>(m_Controls, w.buddy), true);
        spin->SetRange(w.lower, w.upper);
    }
    m_C.motorCurrentSpin->SetRange(0, 255);
    m_C.idleCurrentSpin->SetRange(0, 255);

    if (auto* ok = ControlById<QPushButton>(m_Controls, id::kOk)) {
        ok->setDefault(true);
        connect(ok, &QPushButton::clicked, this, [this] { OnOK(); });
    }
    connect(m_C.microsteps, &QPushButton::clicked, this, [this] { OnMicrosteps(); });
    connect(ControlById<QPushButton>(m_Controls, id::kLogPathButton), &QPushButton::clicked, this,
            [this] { OnLogPath(); });
    connect(m_C.motorCurrentSpin, &CUpDown::DeltaPos, this, [this](int d) { OnMotorCurrentSpin(d); });
    connect(m_C.idleCurrentSpin, &CUpDown::DeltaPos, this, [this](int d) { OnIdleCurrentSpin(d); });

    if (m_FW.IsOpen()) LoadFields();
    ExchangeData(Transfer::ToControls);
    BuildStepList();
    const int type = m_FW.SensorType;
    m_C.sensorType->setCurrentIndex(type < m_C.sensorType->count() ? type : -1);
    m_C.microsteps->setEnabled(m_FW.m_MicrostepTableLen > 0);
}

QWidget* CFocuserSettingsDlg::Control(int controlId) const { return ControlById<QWidget>(m_Controls, controlId); }

bool CFocuserSettingsDlg::TenthsCoefficient() const { return m_FW.m_MemorySize >= kTenthsMemorySize; }

void CFocuserSettingsDlg::LoadFields() {
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

void CFocuserSettingsDlg::BuildStepList() {
    m_C.stepList->clear();
    int selected = -1;
    // Divisors 1, 2, 4 ... up to the finest one; each item's increment is MicrostepMax / d.
    for (std::int64_t d = 1; d <= MicrostepMax; d *= 2) {
        if (MicrostepMax / d == m_FW.MicrostepIncrement) selected = m_C.stepList->count();
        m_C.stepList->addItem(QString::asprintf("1/%i", static_cast<int>(d)));
    }
    m_C.stepList->setCurrentIndex(selected);
}

void CFocuserSettingsDlg::StoreFields() {
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
    if (const int i = m_C.stepList->currentIndex(); i >= 0)
        m_FW.MicrostepIncrement = static_cast<std::uint8_t>(MicrostepMax >> i);
    if (const int type = m_C.sensorType->currentIndex(); type >= 0)
        m_FW.SensorType = static_cast<std::uint8_t>(type);
}

bool CFocuserSettingsDlg::ExchangeData(Transfer direction) {
    DataExchange dx(*this, direction, Prompt);
    dx.Unsigned(m_C.backlash, Backlash);
    dx.Unsigned(m_C.speed, Speed);
    dx.Unsigned(m_C.sensorCount, SensorCount);
    dx.Unsigned(m_C.averaging, Averaging);
    dx.Unsigned(m_C.threshold, DirThreshold);
    dx.Decimal(m_C.coefficient, Coefficient);
    // The device's own settings change only when every entry could be taken, so that a
    // refused OK followed by Cancel leaves them as they were.
    double stepLen = m_FW.StepLenInMicrons;
    std::int32_t maxFocusPos = m_FW.AscomMaxFocusPos, focusShift = m_FW.AscomFocusShift;
    std::string logPath = m_FW.TermLogPath;
    dx.Decimal(m_C.stepLen, stepLen);
    dx.Signed(m_C.maxFocusPos, maxFocusPos);
    dx.Signed(m_C.focusShift, focusShift);
    dx.Text(m_C.logPath, logPath);
    if (!dx.Ok()) return false;
    if (dx.ToFields()) {
        m_FW.StepLenInMicrons = stepLen;
        m_FW.AscomMaxFocusPos = maxFocusPos;
        m_FW.AscomFocusShift = focusShift;
        m_FW.TermLogPath = logPath;
    } else {
        m_C.motorCurrent->setText(FormatCurrent(MotorCurrent));
        m_C.idleCurrent->setText(FormatCurrent(IdleCurrent));
    }
    const bool runningCurrent = m_FW.m_MemorySize > kCurrentMemorySize;
    m_C.motorCurrentSpin->setEnabled(runningCurrent);
    m_C.motorCurrent->setEnabled(runningCurrent);
    return true;
}

void CFocuserSettingsDlg::OnMotorCurrentSpin(int delta) {
    MotorCurrent = std::clamp(MotorCurrent + delta, 0, 255);
    m_C.motorCurrent->setText(FormatCurrent(MotorCurrent));
}

void CFocuserSettingsDlg::OnIdleCurrentSpin(int delta) {
    IdleCurrent = std::clamp(IdleCurrent + delta, 0, kMaxIdleCurrent);
    m_C.idleCurrent->setText(FormatCurrent(IdleCurrent));
}

void CFocuserSettingsDlg::OnLogPath() {
    ExchangeData(Transfer::ToFields);  // what can be taken is taken; the folder is chosen anyway
    const QString initial = QString::fromUtf8(m_FW.TermLogPath.c_str()).left(kInitialPathLength);
    const QString chosen = ChooseFolder ? ChooseFolder(this, QString::fromUtf8(kLogFolderTitle), initial) : QString();
    if (chosen.isEmpty()) return;
    m_FW.TermLogPath = chosen.toUtf8().toStdString();
    ExchangeData(Transfer::ToControls);
}

void CFocuserSettingsDlg::OnMicrosteps() {
    m_FW.ReadMicrostepTable();
    if (OpenMicrosteps) OpenMicrosteps(this);
}

void CFocuserSettingsDlg::OnOK() {
    if (!ExchangeData(Transfer::ToFields)) return;
    if (m_FW.IsOpen()) StoreFields();
    m_FW.WriteMemoryImage(false);  // a failure is not reported
    accept();
}

}  // namespace velq3::ui
