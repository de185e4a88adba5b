// The filter wheel settings dialog's rules: what the wheel motor drives (wheel, virtual wheel,
// second focuser, rotator or cover), its speed and currents, the filter count, the travel limit,
// the home sensor and the sensors' power output, kept in the device's memory image.
#pragma once

#include <cstdint>

#include "device/OrnFilterWheel.h"
#include "ui/CurrentFormatter.h"
#include "ui/DataExchange.h"
#include "ui/DialogControls.h"
#include "ui/FilterWheelSettingsTemplate.h"

namespace velq3::ui {

class FilterWheelSettingsRules : public DialogRules, public CurrentFormatter {
public:
    using Transfer = DataExchange::Direction;

    static constexpr int kMaxIdleCurrent = 85;  // 0.50 A

    FilterWheelSettingsRules(OrnFilterWheel& device, DialogControls& controls);

    // Loads the fields from the image when the port is open, fills the controls and runs the
    // mode-change step.
    void OnInitDialog();

    // Moves the fields to or from the controls and re-applies the enable and show rules.
    // False, with the operator prompted, when an entry cannot be taken.
    bool ExchangeData(Transfer direction);

    // Handlers, one per control.
    void OnModeChange();                   // any click on the four mode boxes
    void OnMotorCurrentSpin(int delta);    // 3023
    void OnIdleCurrentSpin(int delta);     // 3022
    // Stores the fields into the image, writes it, runs the handshake, saves the registry
    // settings, lets go of the link and closes with OK; stays open when an entry is refused.
    void OnOK();

    void OnCommand(int id, Notify what) override;
    void OnDeltaPos(int id, int delta) override;
    void OnCancel() override;

    // The dialog's identity in the multi-client connection; it never holds the link.
    ClientId ClientKey() const { return reinterpret_cast<ClientId>(this); }

    PromptHook Prompt;

    // --- fields (their values on a closed port) ---
    std::int32_t MotorCurrent = 255;       // running current, 0..255
    std::int32_t IdleCurrent = 0;          // holding current, 0..85 by the spin
    std::int32_t RotatorMode = 0;
    std::int32_t CoverMode = 0;
    std::int32_t SecondFocuserMode = 0;
    std::int32_t VirtualWheelMode = 0;
    std::int32_t PowerOutMode = -1;        // index 0..3 of the power-out list, -1 none
    std::int32_t Speed = 0;                // steps per second
    std::int32_t HomeMark = 0;
    std::int32_t FilterCount = 0;          // 2..10 by the spin
    std::int32_t MaxSteps = 0;             // travel limit in steps

private:
    // The image's mode byte, speed, currents, home flag, power-out mode and travel limit.
    void LoadFields();
    void StoreFields();
    void ApplyRules();

    DialogControls& m_Dlg;
};

}  // namespace velq3::ui
