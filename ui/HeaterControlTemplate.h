// Template 232 "Heater Control" and the ids of its controls.
#pragma once

#include "ui/DialogTemplate.h"

namespace velq3::ui {

namespace idc::heater {
inline constexpr int kOK = 1;
inline constexpr int kCancel = 2;
inline constexpr int kSensorA = 3063;        // drop-down list T0..T3
inline constexpr int kSetValue = 3064;
inline constexpr int kSensorB = 3065;        // drop-down list T0..T3
inline constexpr int kOffset0 = 3066;        // 3066..3069: offset of sensor i
inline constexpr int kSteep0 = 3070;         // 3070..3073: slope of sensor i
inline constexpr int kCalibrateOffsets = 3074;
inline constexpr int kTransitionZone = 3075;
inline constexpr int kCalibrateSteep = 3076;
inline constexpr int kCalibrationTemperature = 3077;
inline constexpr int kResetOffsets = 3078;
inline constexpr int kPowerMode = 3079;      // drop-down list of the six modes
inline constexpr int kResetSteep = 3080;
inline constexpr int kVoltmeterCalibration = 3088;
inline constexpr int kMotorsPowerOn = 3090;
inline constexpr int kVoltmeterAveraging = 3092;
inline constexpr int kSetValueUnit = 3096;   // "temperature (C)" or "power 0...100%"
inline constexpr int kTrueVoltage = 3103;    // the supply voltage as measured by the operator
}  // namespace idc::heater

inline constexpr int kHeaterControlTemplateId = 232;
extern const DialogTemplate kHeaterControlTemplate;

}  // namespace velq3::ui
