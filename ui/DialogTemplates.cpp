// Template tables of the operator windows: every control with its kind, caption and position
// in dialog units.
#include "ui/DialogTemplates.h"

namespace velq3::ui {

namespace {

using K = ControlKind;

constexpr ControlTemplate kFilterWheelControls[] = {
    {kNoId, K::GroupBox, "Port", 7, 7, 148, 29},
    {idc::kPortList, K::ComboList, "", 13, 17, 48, 144},
    {idc::kConnect, K::PushButton, "Connect", 66, 16, 35, 14},
    {idc::kDisconnect, K::PushButton, "Disconnect", 105, 16, 44, 14, kDisabled},
    {idc::kSave, K::PushButton, "Save...", 166, 11, 40, 14},
    {idc::kLoad, K::PushButton, "Load...", 166, 28, 40, 14},
    {idc::kShowOnConnect, K::CheckBox, "Show on Connect", 9, 40, 73, 10},
    {idc::kOnTop, K::CheckBox, "On Top", 87, 40, 40, 10},
    {kNoId, K::GroupBox, "Focuser", 7, 55, 140, 99},
    {idc::kGo, K::PushButton, "Go!", 15, 75, 36, 12},
    {idc::kTarget, K::Edit, "", 13, 89, 40, 14},
    {idc::kSet, K::PushButton, "Set", 13, 106, 39, 13},
    {kNoId, K::GroupBox, "", 57, 55, 90, 71},
    {kNoId, K::Label, "Auto", 65, 62, 20, 8},
    {kNoId, K::Label, "T", 90, 63, 10, 8},
    {kNoId, K::Label, "Name", 117, 62, 24, 8},
    {idc::kAutoBox0 + 0, K::ThreeStateBox, "", 59, 74, 16, 8, kTextLeft},
    {idc::kTemperature0 + 0, K::Edit, "", 79, 72, 25, 13, kReadOnly | kNoBorder},
    {idc::kSensorName0 + 0, K::Edit, "", 105, 72, 38, 13},
    {idc::kAutoBox0 + 1, K::ThreeStateBox, "", 59, 87, 16, 8, kTextLeft},
    {idc::kTemperature0 + 1, K::Edit, "", 79, 85, 25, 13, kReadOnly | kNoBorder},
    {idc::kSensorName0 + 1, K::Edit, "", 105, 85, 38, 13},
    {idc::kAutoBox0 + 2, K::ThreeStateBox, "", 59, 100, 16, 8, kTextLeft},
    {idc::kTemperature0 + 2, K::Edit, "", 79, 98, 25, 13, kReadOnly | kNoBorder},
    {idc::kSensorName0 + 2, K::Edit, "", 105, 98, 38, 13},
    {idc::kAutoBox0 + 3, K::ThreeStateBox, "", 59, 113, 16, 8, kTextLeft},
    {idc::kTemperature0 + 3, K::Edit, "", 79, 111, 25, 13, kReadOnly | kNoBorder},
    {idc::kSensorName0 + 3, K::Edit, "", 105, 111, 38, 13},
    {kNoId, K::Label, "Position", 26, 126, 30, 8},
    {kNoId, K::Label, "Step", 77, 126, 64, 8},
    {idc::kPosition, K::Edit, "", 17, 135, 51, 14, kReadOnly},
    {idc::kJog, K::UpDown, "", 58, 129, 11, 14, kArrowKeys | kAlignRightOfPrevious},
    {idc::kDirection, K::Label, "^", 69, 137, 8, 10},
    {idc::kStep, K::Edit, "", 90, 135, 30, 14},
    {idc::kStepSpin, K::UpDown, "", 115, 135, 11, 14},
    {idc::kPosition2, K::Edit, "", 17, 154, 51, 14, kReadOnly},
    {idc::kJog2, K::UpDown, "", 58, 148, 11, 14, kArrowKeys | kAlignRightOfPrevious},
    {idc::kDirection2, K::Label, "^", 69, 156, 8, 10},
    {idc::kPowerLine, K::Label, "", 88, 156, 123, 11},
    {idc::kFocuserSettings, K::PushButton, "Focuser...", 156, 46, 50, 14},
    {idc::kWheelSettings, K::PushButton, "Wheel...", 156, 61, 50, 14},
    {idc::kHeater, K::PushButton, "Heater...", 156, 76, 50, 15},
    {idc::kGraphs, K::PushButton, "Graphs...", 156, 92, 50, 15},
    {idc::kExit, K::PushButton, "Exit", 156, 107, 50, 14, kCancel},
    {kNoId, K::Label, "velq3\nfilter wheel\n& focuser server", 151, 125, 60, 29, kCentred},
    {idc::kFilterList, K::ListView, "", 7, 170, 204, 109},
};

}  // namespace

const DialogTemplate kFilterWheelDlgTemplate = {
    kFilterWheelDlgTemplateId, "Orn Filter Wheel & Focuser Control V3.5", 8, "MS Sans Serif", 218, 286,
    kFilterWheelControls};

}  // namespace velq3::ui
