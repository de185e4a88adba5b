// Template table of the "Heater Control" dialog: every control with its kind, caption and
// position in dialog units.
#include "ui/HeaterControlTemplate.h"

namespace velq3::ui {

namespace {

using K = ControlKind;
namespace h = idc::heater;

constexpr ControlTemplate kHeaterControls[] = {
    {h::kOK, K::PushButton, "OK", 213, 15, 42, 14},
    {h::kCancel, K::PushButton, "Cancel", 141, 15, 42, 14, kCancel},
    {kNoId, K::GroupBox, "Thermometers Calibration", 7, 7, 118, 156},
    {kNoId, K::GroupBox, "Offset", 14, 19, 47, 105},
    {h::kOffset0 + 0, K::Edit, "", 20, 29, 33, 12},
    {h::kOffset0 + 1, K::Edit, "", 20, 42, 33, 12},
    {h::kOffset0 + 2, K::Edit, "", 20, 56, 33, 12},
    {h::kOffset0 + 3, K::Edit, "", 20, 69, 33, 12},
    {h::kCalibrateOffsets, K::PushButton, "Calibrate", 19, 86, 36, 14},
    {h::kResetOffsets, K::PushButton, "Reset", 19, 104, 36, 14},
    {kNoId, K::GroupBox, "Steep", 70, 19, 47, 105},
    {h::kSteep0 + 0, K::Edit, "", 77, 29, 33, 12},
    {h::kSteep0 + 1, K::Edit, "", 77, 42, 33, 12},
    {h::kSteep0 + 2, K::Edit, "", 77, 56, 33, 12},
    {h::kSteep0 + 3, K::Edit, "", 77, 69, 33, 12},
    {h::kCalibrateSteep, K::PushButton, "Calibrate", 75, 86, 36, 14},
    {h::kResetSteep, K::PushButton, "Reset", 76, 104, 36, 14},
    {kNoId, K::Label, "Offset Calibrated at Temperature. (required for Steep calibration)", 13, 127, 76, 35},
    {h::kCalibrationTemperature, K::Edit, "", 91, 137, 30, 14},
    {kNoId, K::Label, "Set correct Voltage for calibration", 132, 38, 84, 24},
    {h::kTrueVoltage, K::Edit, "", 219, 43, 31, 14},
    {h::kVoltmeterCalibration, K::Edit, "", 133, 74, 31, 14},
    {3089, K::Label, "Voltmeter Calibration", 170, 77, 84, 8},
    {h::kMotorsPowerOn, K::Edit, "", 133, 93, 31, 14},
    {3091, K::Label, "Motors \nPower On (V)", 172, 91, 92, 20},
    {h::kVoltmeterAveraging, K::Edit, "", 133, 112, 31, 14},
    {3093, K::Label, "Voltmeter averaging", 169, 115, 84, 8},
    {kNoId, K::GroupBox, "Выход питания", 7, 167, 205, 77},
    {kNoId, K::Label, "Mode", 23, 181, 19, 8},
    {h::kPowerMode, K::ComboList, "", 49, 179, 88, 95},
    {h::kSensorA, K::ComboList, "", 24, 199, 36, 95},
    {3094, K::Label, "minus", 65, 201, 22, 8},
    {h::kSensorB, K::ComboList, "", 93, 199, 36, 144},
    {h::kSetValueUnit, K::Label, "temperature (C)", 141, 189, 52, 8},
    {h::kSetValue, K::Edit, "", 143, 198, 40, 14},
    {h::kTransitionZone, K::Edit, "", 144, 218, 40, 14},
    {3097, K::Label, "Transition sone (from 0 to 2.5C)", 35, 221, 106, 8},
};

}  // namespace

const DialogTemplate kHeaterControlTemplate = {
    kHeaterControlTemplateId, "Heater Control", 8, "MS Sans Serif", 271, 250, kHeaterControls};

}  // namespace velq3::ui
