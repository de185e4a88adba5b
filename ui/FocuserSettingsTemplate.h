// Template 201 (the focuser settings dialog) and the ids of its controls.
#pragma once

#include "ui/DialogTemplate.h"

namespace velq3::ui {

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

}  // namespace velq3::ui
