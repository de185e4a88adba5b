// The focuser settings dialog's rules: the focuser's speed, currents, backlash, step mode and
// temperature compensation in the device's memory image, the settings only the automation
// drivers use, and the folder of the temperature log.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "device/OrnFilterWheel.h"
#include "ui/CurrentFormatter.h"
#include "ui/DataExchange.h"
#include "ui/DialogControls.h"
#include "ui/FocuserSettingsTemplate.h"

namespace velq3::ui {

class FocuserSettingsRules : public DialogRules, public CurrentFormatter {
public:
    using Transfer = DataExchange::Direction;

    static constexpr int kMaxIdleCurrent = 85;  // 0.50 A
    static constexpr int kDefaultMicrostepMax = 2;
    static constexpr const char* kLogFolderTitle = "Please, select a folder for Log files";
    static constexpr int kInitialPathLength = 260;  // characters of the log folder handed to the chooser

    FocuserSettingsRules(OrnFilterWheel& device, DialogControls& controls);

    // Loads the fields from the image and asks the device for its finest microstep
    // ("FWubStep") when the port is open, fills the controls and the step and sensor type lists.
    void OnInitDialog();

    // Moves the fields and the directly bound device settings to or from the controls. False,
    // with the operator prompted, when an entry cannot be taken.
    bool ExchangeData(Transfer direction);

    // Refills the step list 1/1, 1/2, 1/4 ... 1/`MicrostepMax` and selects the item whose
    // divisor gives the image's microstep increment (none when no item does).
    void BuildStepList();

    // Handlers, one per control.
    void OnMotorCurrentSpin(int delta);    // 3024
    void OnIdleCurrentSpin(int delta);     // 3022
    void OnLogPath();                      // Log Path...
    void OnMicrosteps();                   // Microsteps
    // Stores the fields into the image, writes it and closes with OK; stays open when an
    // entry is refused.
    void OnOK();

    void OnCommand(int id, Notify what) override;
    void OnDeltaPos(int id, int delta) override;
    void OnCancel() override;

    PromptHook Prompt;

    // --- fields (their values when nothing is loaded) ---
    std::int32_t MotorCurrent = 255;
    std::int32_t IdleCurrent = 0;
    std::int32_t Speed = 0;                // steps per second
    std::int32_t Backlash = 0;             // steps
    float Coefficient = 0.0f;              // temperature compensation, steps per degree
    std::int32_t SensorCount = 0;
    std::int32_t Averaging = 0;            // 0 = off
    std::int32_t DirThreshold = 0;         // direction change threshold, steps
    std::int32_t MicrostepMax = kDefaultMicrostepMax;  // finest microstep divisor

protected:
    // The toolkit's folder chooser: the chosen folder, or nothing when the operator cancelled.
    virtual std::optional<std::string> PickFolder(const std::string& title, const std::string& initial) = 0;
    // Opens the microsteps table dialog modally, owned by this one.
    virtual void RunMicrostepsDialog() = 0;

private:
    bool TenthsCoefficient() const;
    void LoadFields();
    void StoreFields();

    DialogControls& m_Dlg;
};

}  // namespace velq3::ui
