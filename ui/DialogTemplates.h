// The dialog templates of the operator windows and the ids of their controls.
#pragma once

#include "ui/DialogTemplate.h"

namespace velq3::ui {

// Template 202: the main control window.
namespace idc {
inline constexpr int kExit = 2;             // the window's cancel command
inline constexpr int kPosition = 3001;      // first focuser position
inline constexpr int kJog = 3002;           // up-down: jog the first focuser
inline constexpr int kTarget = 3003;        // target position
inline constexpr int kGo = 3004;
inline constexpr int kPortList = 3006;
inline constexpr int kFilterList = 3018;
inline constexpr int kWheelSettings = 3024;
inline constexpr int kFocuserSettings = 3025;
inline constexpr int kStep = 3026;          // MinMotorStep
inline constexpr int kStepSpin = 3027;
inline constexpr int kTemperature0 = 3028;  // 3028..3031: temperature of sensor k
inline constexpr int kAutoBox0 = 3032;      // 3032..3035: Auto box of sensor k
inline constexpr int kSave = 3036;
inline constexpr int kLoad = 3037;
inline constexpr int kSet = 3042;
inline constexpr int kConnect = 3043;
inline constexpr int kDisconnect = 3044;
inline constexpr int kDirection = 3050;     // first focuser direction
inline constexpr int kSensorName0 = 3051;   // 3051..3054: name of sensor k
inline constexpr int kDirection2 = 3055;
inline constexpr int kHeater = 3060;
inline constexpr int kGraphs = 3061;
inline constexpr int kShowOnConnect = 3062;
inline constexpr int kOnTop = 3063;
inline constexpr int kCellEdit = 3085;      // in-place editor of the filter list
inline constexpr int kCellSpin = 3086;
inline constexpr int kPowerLine = 3087;     // voltage, output power and switches
inline constexpr int kPosition2 = 3099;     // second focuser position
inline constexpr int kJog2 = 3100;
}  // namespace idc

inline constexpr int kFilterWheelDlgTemplateId = 202;
extern const DialogTemplate kFilterWheelDlgTemplate;

}  // namespace velq3::ui
