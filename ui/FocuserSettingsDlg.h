// The focuser settings dialog: the focuser's speed, currents, backlash, step mode and
// temperature compensation in the device's memory image, the settings only the automation
// drivers use, and the folder of the temperature log.
#pragma once

#include <QDialog>
#include <QString>

#include <cstdint>
#include <functional>

#include "device/OrnFilterWheel.h"
#include "ui/CurrentFormatter.h"
#include "ui/DataExchange.h"
#include "ui/DialogTemplate.h"

class QComboBox;
class QLineEdit;
class QPushButton;

namespace velq3::ui {

class CUpDown;

// Template 201.
namespace focuser_settings_id {
inline constexpr int kOk = 1;
inline constexpr int kCancel = 2;
inline constexpr int kStepList = 3036;          // disabled: shows the step mode only
inline constexpr int kMicrosteps = 3053;
inline constexpr int kSpeed = 3039;
inline constexpr int kSpeedSpin = 3041;
inline constexpr int kMotorCurrent = 3042;      // read-only text
inline constexpr int kMotorCurrentSpin = 3024;
inline constexpr int kIdleCurrent = 3037;       // read-only text
inline constexpr int kIdleCurrentSpin = 3022;
inline constexpr int kBacklash = 3011;
inline constexpr int kBacklashSpin = 3021;
inline constexpr int kSensorCount = 3013;
inline constexpr int kSensorCountSpin = 3023;
inline constexpr int kSensorType = 3102;
inline constexpr int kCoefficient = 3038;
inline constexpr int kCoefficientSpin = 3040;
inline constexpr int kAveraging = 3045;
inline constexpr int kAveragingSpin = 3046;
inline constexpr int kThreshold = 3047;
inline constexpr int kThresholdSpin = 3048;
inline constexpr int kStepLen = 3015;           // StepLenInMicrons
inline constexpr int kMaxFocusPos = 3017;       // AscomMaxFocusPos
inline constexpr int kFocusShift = 3019;        // AscomFocusShift
inline constexpr int kLogPathButton = 3081;
inline constexpr int kLogPath = 3082;           // read-only: TermLogPath
}  // namespace focuser_settings_id

inline constexpr int kFocuserSettingsTemplateId = 201;
extern const DialogTemplate kFocuserSettingsTemplate;

class CFocuserSettingsDlg : public QDialog, public CurrentFormatter {
    Q_OBJECT
public:
    using Transfer = DataExchange::Direction;

    static constexpr int kMaxIdleCurrent = 85;  // 0.50 A
    static constexpr int kDefaultMicrostepMax = 2;
    static constexpr const char* kLogFolderTitle = "Please, select a folder for Log files";

    // Opens on `device`: loads the fields from its image and asks the device for its finest
    // microstep ("FWubStep") when the port is open, fills the controls and the step and
    // sensor type lists. Run it with exec(); OK leaves result() Accepted.
    explicit CFocuserSettingsDlg(OrnFilterWheel& device, QWidget* parent = nullptr);

    // Moves the fields and the directly bound device settings to or from the controls. False,
    // with the operator prompted, when an entry cannot be taken.
    bool ExchangeData(Transfer direction);

    // Refills the step list 1/1, 1/2, 1/4 ... 1/`MicrostepMax` and selects the item whose
    // divisor gives the image's microstep increment (none when no item does).
    void BuildStepList();

    // Handlers, one per control.
    void OnMotorCurrentSpin(int delta);    // 3024
    void OnIdleCurrentSpin(int delta);     // 3022
    void OnLogPath();                      // Log Path...
    void OnMicrosteps();                   // Microsteps
    // Stores the fields into the image, writes it and closes with OK; stays open when an
    // entry is refused.
    void OnOK();

    QWidget* Control(int id) const;

    // The folder chooser of Log Path... (the platform's by default): the chosen folder, or an
    // empty text when the operator cancelled.
    using FolderChooser = std::function<QString(QWidget* parent, const QString& title, const QString& initial)>;
    FolderChooser ChooseFolder;
    // Opens the microsteps table dialog modally, owned by `parent`; nothing happens without it.
    std::function<void(QWidget* parent)> OpenMicrosteps;
    PromptHook Prompt = DefaultPrompt();

    // --- fields (their values when nothing is loaded) ---
    std::int32_t MotorCurrent = 255;
    std::int32_t IdleCurrent = 0;
    std::int32_t Speed = 0;                // steps per second
    std::int32_t Backlash = 0;             // steps
    float Coefficient = 0.0f;              // temperature compensation, steps per degree
    std::int32_t SensorCount = 0;
    std::int32_t Averaging = 0;            // 0 = off
    std::int32_t DirThreshold = 0;         // direction change threshold, steps
    std::int32_t MicrostepMax = kDefaultMicrostepMax;  // finest microstep divisor

private:
    struct Controls {
        QComboBox* stepList = nullptr;
        QPushButton* microsteps = nullptr;
        QLineEdit* speed = nullptr;
        QLineEdit* motorCurrent = nullptr;
        CUpDown* motorCurrentSpin = nullptr;
        QLineEdit* idleCurrent = nullptr;
        CUpDown* idleCurrentSpin = nullptr;
        QLineEdit* backlash = nullptr;
        QLineEdit* sensorCount = nullptr;
        QComboBox* sensorType = nullptr;
        QLineEdit* coefficient = nullptr;
        QLineEdit* averaging = nullptr;
        QLineEdit* threshold = nullptr;
        QLineEdit* stepLen = nullptr;
        QLineEdit* maxFocusPos = nullptr;
        QLineEdit* focusShift = nullptr;
        QLineEdit* logPath = nullptr;
    };

    bool TenthsCoefficient() const;
    void LoadFields();
    void StoreFields();

    ControlMap m_Controls;
    Controls m_C;
};

}  // namespace velq3::ui
