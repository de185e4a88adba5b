// Template 203, the filter wheel settings dialog: every control with its kind, caption and
// position in dialog units.
#include "ui/FilterWheelSettingsTemplate.h"

namespace velq3::ui {

namespace {

using K = ControlKind;
namespace id = wheel_settings_id;

constexpr unsigned kBuddySpin = kAlignRightOfPrevious | kArrowKeys;

constexpr ControlTemplate kControls[] = {
    {id::kSecondFocuserMode, K::CheckBox, "Second Focuser Mode", 26, 7, 117, 10},
    {id::kVirtualWheelMode, K::CheckBox, "Virtual Wheel Mode", 26, 19, 116, 10},
    {id::kRotatorMode, K::CheckBox, "Rotator Mode", 26, 32, 105, 10},
    {id::kCoverMode, K::CheckBox, "Cover Mode", 26, 46, 105, 10},
    {id::kMotorCurrent, K::Edit, "", 7, 70, 39, 13, kReadOnly},
    {id::kMotorCurrentSpin, K::UpDown, "", 43, 70, 11, 14, kBuddySpin},
    {kNoId, K::Label, "Motor Current (A)", 58, 69, 88, 22},
    {id::kIdleCurrent, K::Edit, "", 7, 92, 39, 13, kReadOnly},
    {id::kIdleCurrentSpin, K::UpDown, "", 43, 92, 11, 14, kBuddySpin},
    {kNoId, K::Label, "Motor Idle Current (A)", 59, 95, 68, 8},
    {id::kHomeSensor, K::CheckBox, "\"Home\" mark is seen by \"Filter\" sensor", 7, 108, 124, 10},
    {id::kSpeed, K::Edit, "", 7, 121, 40, 14},
    {id::kSpeedSpin, K::UpDown, "", 43, 121, 11, 14, kBuddySpin},
    {kNoId, K::Label, "Speed (steps/sec)", 51, 124, 90, 8},
    {id::kFilterCount, K::Edit, "", 11, 143, 30, 14, kReadOnly},
    {id::kFilterCountSpin, K::UpDown, "", 35, 143, 11, 14, kBuddySpin},
    {id::kFilterCountLabel, K::Label, "Filters Count", 51, 146, 76, 11},
    {id::kMaxSteps, K::Edit, "", 7, 165, 40, 14},
    {id::kMaxStepsLabel, K::Label, "", 50, 163, 100, 18, kCentred},
    {kNoId, K::Label, "Sensors power out mode", 7, 187, 119, 8},
    {id::kPowerOutList, K::ComboList, "", 7, 197, 116, 67},
    {id::kCancel, K::PushButton, "Cancel", 7, 218, 50, 14, kCancel},
    {id::kOk, K::PushButton, "OK", 105, 218, 50, 14},
};

}  // namespace

const DialogTemplate kFilterWheelSettingsTemplate = {
    kFilterWheelSettingsTemplateId, "FilterWheel Settings Dialog", 8, "MS Sans Serif", 162, 239, kControls};

}  // namespace velq3::ui
