// Template 201, the focuser settings dialog: every control with its kind, caption and position
// in dialog units.
#include "ui/FocuserSettingsTemplate.h"

namespace velq3::ui {

namespace {

using K = ControlKind;
namespace id = focuser_settings_id;

constexpr unsigned kBuddySpin = kAlignRightOfPrevious | kArrowKeys;

constexpr ControlTemplate kControls[] = {
    {id::kStepList, K::ComboList, "", 7, 7, 48, 73, kDisabled},
    {kNoId, K::Label, "Step", 59, 10, 14, 8},
    {id::kMicrosteps, K::PushButton, "Microsteps", 81, 7, 49, 13},
    {id::kOk, K::PushButton, "OK", 141, 7, 50, 14},
    {id::kCancel, K::PushButton, "Cancel", 141, 24, 50, 14, kCancel},
    {id::kSpeed, K::Edit, "", 7, 25, 40, 14},
    {id::kSpeedSpin, K::UpDown, "", 43, 25, 11, 14, kBuddySpin},
    {kNoId, K::Label, "Speed (steps/sec)", 53, 29, 90, 8},
    {id::kMotorCurrent, K::Edit, "", 7, 45, 39, 13, kReadOnly},
    {id::kMotorCurrentSpin, K::UpDown, "", 43, 45, 11, 14, kBuddySpin},
    {kNoId, K::Label, "Motor Current (A)", 54, 48, 90, 8},
    {id::kIdleCurrent, K::Edit, "", 8, 64, 39, 13, kReadOnly},
    {id::kIdleCurrentSpin, K::UpDown, "", 43, 64, 11, 14, kBuddySpin},
    {kNoId, K::Label, "Motor Idle Current (A)", 52, 67, 68, 8},
    {id::kBacklash, K::Edit, "", 7, 83, 40, 14},
    {id::kBacklashSpin, K::UpDown, "", 43, 83, 11, 14, kBuddySpin},
    {kNoId, K::Label, "Backlash (steps)", 52, 86, 43, 8},
    {kNoId, K::GroupBox, "Temperature compensation", 2, 99, 190, 113},
    {id::kSensorCount, K::Edit, "", 8, 112, 40, 14},
    {id::kSensorCountSpin, K::UpDown, "", 44, 112, 11, 14, kBuddySpin},
    {kNoId, K::Label, "Temperature sensors", 54, 115, 94, 8},
    // Narrower than "DS1631/1624 (auto)": the open list grows beyond the box to show it whole.
    {id::kSensorType, K::ComboList, "", 7, 130, 69, 84},
    {kNoId, K::Label, "Sensors Type", 81, 133, 67, 8},
    {id::kCoefficient, K::Edit, "", 8, 147, 40, 14},
    {id::kCoefficientSpin, K::UpDown, "", 46, 147, 11, 14, kBuddySpin},
    {kNoId, K::Label, "Temperature compensation (steps / C)", 54, 150, 126, 8},
    {id::kAveraging, K::Edit, "", 8, 168, 40, 14},
    {id::kAveragingSpin, K::UpDown, "", 46, 168, 11, 14, kBuddySpin},
    {kNoId, K::Label, "Temperature Averaging (0-off)", 53, 172, 118, 8},
    {id::kThreshold, K::Edit, "", 8, 190, 40, 14},
    {id::kThresholdSpin, K::UpDown, "", 46, 190, 11, 14, kBuddySpin},
    {kNoId, K::Label, "Direction change threshold (steps)", 56, 193, 115, 8},
    {kNoId, K::GroupBox, "ASCOM Settings", 2, 216, 189, 72},
    {id::kStepLen, K::Edit, "", 7, 231, 40, 14},
    {kNoId, K::Label, "Focuser step (mkm)", 53, 234, 90, 8},
    {id::kMaxFocusPos, K::Edit, "", 7, 249, 40, 14},
    {kNoId, K::Label, "Range (from 0 to ...)", 52, 252, 72, 8},
    {id::kFocusShift, K::Edit, "", 7, 268, 40, 14},
    {kNoId, K::Label, "Offset (ASCOM accepts only positive position)", 51, 267, 126, 19},
    {id::kLogPathButton, K::PushButton, "Log Path...", 4, 295, 50, 14},
    {id::kLogPath, K::Edit, "", 55, 295, 136, 14, kReadOnly},
};

}  // namespace

const DialogTemplate kFocuserSettingsTemplate = {
    kFocuserSettingsTemplateId, "Focuser Settings", 8, "MS Sans Serif", 198, 318, kControls};

}  // namespace velq3::ui
