// The "Heater Control" dialog's rules: thermometer offsets and slopes (by hand, reset or
// calibrated from live readings), the voltmeter settings and the power output mode, all edited
// in the device's memory image and written to the controller on OK.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "device/HeaterCoding.h"
#include "link/Records.h"
#include "ui/DataExchange.h"
#include "ui/DialogControls.h"
#include "ui/HeaterControlTemplate.h"

namespace velq3 {
class OrnFilterWheel;
}

namespace velq3::ui {

class HeaterControlRules : public DialogRules {
public:
    enum class Transfer { ToControls, ToFields };

    static constexpr int kCalibrationSensors = kSensorCount;  // the image has room for four
    static constexpr float kSteepCalibrationSpan = 10.0f;     // degrees from the offset calibration
    static const char* const kSteepSpanWarning;

    // Decodes the image into the fields. The dialog ends with kIdOk after OK wrote the image,
    // with kIdCancel after Cancel, Esc or the close box, which leave the image as it was when
    // the dialog opened.
    HeaterControlRules(OrnFilterWheel& device, DialogControls& controls);

    // Fills the lists, applies the memory size's enable rules and shows the fields.
    void OnInitDialog();

    // Moves the fields to or from the controls, then applies the enable rules and the unit
    // label of the mode. Taking the controls in fails, changing no edit's field, when an
    // edit does not hold a number; the operator is told and the edit gets the focus. The
    // lists are taken in all the same.
    bool ExchangeData(Transfer direction);

    // --- command handlers ---
    void OnOK();              // button 1: encode into the image, write it, close
    void OnCancel() override; // undo what Reset and Calibrate did to the image
    void OnResetOffsets();    // 3078
    void OnResetSteep();      // 3080
    void CalibrateOffsets();  // 3074
    void CalibrateSteep();    // 3076

    void OnCommand(int id, Notify what) override;

    // --- fields ---
    int PowerMode = kFlatBox;
    int SensorA = 0;
    int SensorB = 1;
    std::array<float, kSensorCount> Steep{};
    std::array<float, kSensorCount> Offset{};  // degrees
    float SetValue = 0;                        // degrees, or percent in "Const Power"
    float TransitionZone = 0;                  // degrees, 0 to 2.55
    float CalibrationTemperature = 0;          // degrees; 0 each time the dialog opens
    int VoltmeterCalibration = 0;
    int VoltmeterAveraging = 0;
    int MotorsPowerOn = 0;

private:
    struct Readings {
        std::array<float, kSensorCount> t{};
        std::array<bool, kSensorCount> ok{};
        int count = 0;
        float mean = 0;
    };

    void DecodeImage();
    void ApplyModeRules();
    void OnModeChanged();
    Readings ReadSensors();
    void SetFloatText(int id, float value);
    // Tells the operator what is wrong with the value of control `id` and puts the focus there.
    void Refuse(int id, const std::string& text);
    void ShowMessage(const std::string& text, MessageIcon icon);

    OrnFilterWheel& m_FW;
    DialogControls& m_Dlg;
    PromptHook m_Prompt;  // the data exchange's refusals
    bool m_Exchanging = false;
    // The calibration words as they were at opening: Cancel puts them back.
    std::array<std::int16_t, kSensorCount> m_OpenedOffsets{};
    std::array<std::int16_t, kSensorCount> m_OpenedSteep{};
};

}  // namespace velq3::ui
