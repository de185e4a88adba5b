// Template 203 (the filter wheel settings dialog) and the ids of its controls.
#pragma once

#include "ui/DialogTemplate.h"

namespace velq3::ui {

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

}  // namespace velq3::ui
