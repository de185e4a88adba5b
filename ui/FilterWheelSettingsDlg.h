// The filter wheel settings dialog: what the wheel motor drives (wheel, virtual wheel, second
// focuser, rotator or cover), its speed and currents, the filter count, the travel limit, the
// home sensor and the sensors' power output, kept in the device's memory image.
#pragma once

#include <QDialog>

#include <cstdint>

#include "device/OrnFilterWheel.h"
#include "ui/CurrentFormatter.h"
#include "ui/DataExchange.h"
#include "ui/DialogTemplate.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;

namespace velq3::ui {

class CUpDown;

// Template 203.
namespace wheel_settings_id {
inline constexpr int kOk = 1;
inline constexpr int kCancel = 2;
inline constexpr int kRotatorMode = 3008;
inline constexpr int kCoverMode = 3009;
inline constexpr int kSecondFocuserMode = 3098;
inline constexpr int kVirtualWheelMode = 3101;
inline constexpr int kMotorCurrent = 3042;      // read-only text
inline constexpr int kMotorCurrentSpin = 3023;
inline constexpr int kIdleCurrent = 3037;       // read-only text
inline constexpr int kIdleCurrentSpin = 3022;
inline constexpr int kHomeSensor = 3010;        // home mark / cover end-stops
inline constexpr int kSpeed = 3007;
inline constexpr int kSpeedSpin = 3016;
inline constexpr int kFilterCount = 3014;       // read-only, set by its spin
inline constexpr int kFilterCountSpin = 3020;
inline constexpr int kFilterCountLabel = 3105;
inline constexpr int kMaxSteps = 3049;
inline constexpr int kMaxStepsLabel = 3104;
inline constexpr int kPowerOutList = 3012;
}  // namespace wheel_settings_id

inline constexpr int kFilterWheelSettingsTemplateId = 203;
extern const DialogTemplate kFilterWheelSettingsTemplate;

class CFilterWheelSettingsDlg : public QDialog, public CurrentFormatter {
    Q_OBJECT
public:
    using Transfer = DataExchange::Direction;

    static constexpr int kMaxIdleCurrent = 85;  // 0.50 A

    // Opens on `device`: loads the fields from its image when the port is open, fills the
    // controls and runs the mode-change step. Run it with exec(); OK leaves result() Accepted.
    explicit CFilterWheelSettingsDlg(OrnFilterWheel& device, QWidget* parent = nullptr);

    // Moves the fields to or from the controls and re-applies the enable and show rules.
    // False, with the operator prompted, when an entry cannot be taken.
    bool ExchangeData(Transfer direction);

    // Handlers, one per control.
    void OnModeChange();                   // any click on the four mode boxes
    void OnMotorCurrentSpin(int delta);    // 3023
    void OnIdleCurrentSpin(int delta);     // 3022
    // Stores the fields into the image, writes it, runs the handshake, saves the registry
    // settings, lets go of the link and closes with OK; stays open when an entry is refused.
    void OnOK();

    // A control by id; nullptr for an unknown id.
    QWidget* Control(int id) const;
    // The dialog's identity in the multi-client connection; it never holds the link.
    ClientId ClientKey() const { return reinterpret_cast<ClientId>(this); }

    PromptHook Prompt = DefaultPrompt();

    // --- fields (their values on a closed port) ---
    std::int32_t MotorCurrent = 255;       // running current, 0..255
    std::int32_t IdleCurrent = 0;          // holding current, 0..85 by the spin
    std::int32_t RotatorMode = 0;
    std::int32_t CoverMode = 0;
    std::int32_t SecondFocuserMode = 0;
    std::int32_t VirtualWheelMode = 0;
    std::int32_t PowerOutMode = -1;        // index 0..3 of the power-out list, -1 none
    std::int32_t Speed = 0;                // steps per second
    std::int32_t HomeMark = 0;
    std::int32_t FilterCount = 0;          // 2..10 by the spin
    std::int32_t MaxSteps = 0;             // travel limit in steps

private:
    struct Controls {
        QCheckBox* rotator = nullptr;
        QCheckBox* cover = nullptr;
        QCheckBox* secondFocuser = nullptr;
        QCheckBox* virtualWheel = nullptr;
        QLineEdit* motorCurrent = nullptr;
        CUpDown* motorCurrentSpin = nullptr;
        QLineEdit* idleCurrent = nullptr;
        CUpDown* idleCurrentSpin = nullptr;
        QCheckBox* homeSensor = nullptr;
        QLineEdit* speed = nullptr;
        CUpDown* speedSpin = nullptr;
        QLineEdit* filterCount = nullptr;
        CUpDown* filterCountSpin = nullptr;
        QLabel* filterCountLabel = nullptr;
        QLineEdit* maxSteps = nullptr;
        QLabel* maxStepsLabel = nullptr;
        QComboBox* powerOut = nullptr;
    };

    // The image's mode byte, speed, currents, home flag, power-out mode and travel limit.
    void LoadFields();
    void StoreFields();
    void ApplyRules();

    ControlMap m_Controls;
    Controls m_C;
};

}  // namespace velq3::ui
