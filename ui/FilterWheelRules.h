// The main control window's rules: port and connection, focuser moves, temperatures and sensor
// names, the filter table and its cell values, the settings files and the once-a-second status
// poll. The toolkit layer owns the window's lifetime, the in-place editor's widgets, the
// keyboard hook and the dialogs the window opens; it reaches the rules through these members.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "device/ClientWindow.h"
#include "device/OrnFilterWheel.h"
#include "platform/MainLoop.h"
#include "ui/DialogControls.h"
#include "ui/DialogTemplates.h"

namespace velq3::ui {

class FilterWheelRules : public DialogRules {
public:
    enum class Transfer { ToControls, ToFields };

    static constexpr int kPollPeriodMs = 1000;
    static constexpr int kSensorRows = 4;
    // The filter list's row images.
    static constexpr int kFilterImage = 0;
    static constexpr int kCurrentFilterImage = 1;

    // The poll runs on `loop`'s timers.
    FilterWheelRules(OrnFilterWheel& device, MainLoop& loop) : m_FW(device), m_Loop(loop) {}
    ~FilterWheelRules() override { StopPoll(); }

    // The window's identity in the multi-client connection.
    ClientId ClientKey() const { return reinterpret_cast<ClientId>(this); }

    // --- transfers and refreshes (nothing without a window) ---
    void ExchangeData(Transfer direction);
    void RefillFilterList();
    void RefreshFilterMarks();
    void RefreshAutoBoxes();

    // The once-a-second poll.
    void StatusTick();

    // --- command handlers ---
    void OnConnect();
    void OnDisconnect();
    void OnGo();
    void OnSetPosition();
    void OnJog(int focuser, int delta);
    void OnStepSpin(int delta);
    void OnStepEdited();
    void OnAutoBox(int sensor);
    void OnSensorNameEdited(int sensor);  // an edit of a sensor name box ended
    // The end of a name edit in the filter list that was not cancelled.
    void OnLabelEditEnded(int row, const std::string& text);
    // The in-place editor's text taken into the cell (`EditRow`, `EditColumn`) it edited: a
    // correction, a focus shift ("none" for none) or a flat box level; a changed value is
    // written to the device, and a new correction of the filter in place moves the wheel again.
    void CommitCellText(const std::string& text);
    // The keys the window examines before any control sees them: Enter connects while the port
    // is closed (and never reaches a control); in the position box or with Ctrl, a digit key
    // (not the keypad's) moves the wheel to that filter and Left and Right to the one before or
    // after. True when the key was consumed.
    enum class WindowKey { Enter, Digit, Left, Right };
    bool OnWindowKey(WindowKey key, int digit, bool inPositionBox, bool ctrl);
    // A filter chosen (double click, keys): the wheel moves there, the list marks it.
    void ActivateFilter(int row);
    bool SelectFilterWithWaitCursor(int filter);
    void OnSaveSettings();               // Save... 3036
    void OnLoadSettings();               // Load... 3037

    void OnCommand(int id, Notify what) override;
    void OnDeltaPos(int id, int delta) override;

    // "0000" .. "1111": four switch bits, most significant first.
    static const char* SwitchText(unsigned bits);

    // --- window fields ---
    std::int32_t PortIndex = 0;        // 0 = "Auto", n = COMn
    std::int32_t AutoSensor = -1;      // sensor driving temperature compensation; -1 none
    std::int32_t PollingEnabled = 1;   // cleared while a modal dialog from this window is up
    std::int32_t MarkedFilter = -1;    // row drawn with the current-filter image
    FWCurrentParameters LastStatus = EmptyStatus();  // what the window last displayed
    bool OpenedForClient = false;      // created by ShowForClient; Exit disabled meanwhile
    bool WasConnected = false;         // port state seen at the previous tick
    int EditRow = -1;
    int EditColumn = -1;

    // The window's controls while it exists; nullptr while there is none.
    DialogControls* WindowControls() const { return m_Dlg; }

protected:
    void SetControls(DialogControls* controls) { m_Dlg = controls; }
    // A new window: the fields into its controls, the filter list filled and the poll started.
    void OnInitWindow();
    // The window goes: no more polls.
    void StopPoll();
    bool DisconnectAllowed() const;

    // --- what the toolkit layer does ---
    virtual void OnOnTop() = 0;             // 3063
    virtual void OnWheelSettings() = 0;     // Wheel... 3024
    virtual void OnFocuserSettings() = 0;   // Focuser... 3025
    virtual void OnHeater() = 0;            // Heater... 3060
    virtual void OnGraphs() = 0;            // Graphs... 3061
    // The settings-file chooser (save or open); nothing when cancelled.
    virtual std::optional<std::string> ChooseSettingsFile(bool save) = 0;
    // Runs `step` as a modal dialog of the window: no polling meanwhile.
    virtual void RunModalStep(const std::function<void()>& step) = 0;
    // After a connection attempt: a port refused for lack of permission is named.
    virtual void ShowPermissionProblem() {}
    // After the filter list was filled (its columns new when `columnsChanged`).
    virtual void FilterListFilled(bool /*columnsChanged*/) {}
    // At the end of a tick that polled: the in-place editor ends when the operator moved on.
    virtual void AfterPoll() {}

    OrnFilterWheel& m_FW;

private:
    int SensorRows() const;
    // One tick's queries; each tells whether the controller answered.
    bool StatusPath();
    WindowPoll OlderDevicePath();

    MainLoop& m_Loop;
    TimerId m_PollTimer = kNoTimer;
    DialogControls* m_Dlg = nullptr;
};

}  // namespace velq3::ui
