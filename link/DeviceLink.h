// The controller's command set over one serial link: the part of the device object that
// owns the port, the busy flag, the memory image and the status record.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <limits>
#include <string>

#include "link/FilterTable.h"
#include "link/Records.h"
#include "link/SerialLink.h"
#include "link/TimeLogFile.h"

namespace velq3 {

class CDeviceLink : public EEFilterWheelData, public FWAdditionalSettings, public FWCurrentParameters {
public:
    // `filters` is the filter list that the filter commands read and update; `log` receives
    // the moves' lines.
    CDeviceLink(CFilterTable& filters, CTimeLogFile& log);
    CDeviceLink(const CDeviceLink&) = delete;
    CDeviceLink& operator=(const CDeviceLink&) = delete;

    EEFilterWheelData& Image() { return *this; }
    const EEFilterWheelData& Image() const { return *this; }
    FWAdditionalSettings& Settings() { return *this; }
    FWCurrentParameters& Status() { return *this; }
    const FWCurrentParameters& Status() const { return *this; }

    bool IsOpen() const { return m_hPort != kNoPort; }
    bool IsBusy() const { return m_bBusy.load(); }
    // Focuser commands carry a focuser number when the second motor is in use (mode <= 0).
    bool TwoMotorForm() const { return Mode <= 0; }

    // --- device commands; each returns success and fails at once when closed or busy ---
    bool GetMemorySize(int& size);
    bool ReadMemory(int offset, int length, std::uint8_t* destination);
    bool WriteMemory(int offset, int length, const std::uint8_t* source);
    bool GetFilter(int& position);
    bool WriteFilterName(int index, const std::string& name);
    bool GetTemperature(int index, float& celsius);
    bool GetFocus(int& position, int focuser);
    bool SetFocusPosition(int position, int focuser);
    bool GetFocusDirection(int& direction, int focuser);
    bool SetAutoComp(int thermometer);
    bool GetAutoComp(int& thermometer);
    bool GetMicrostep(int& increment, int& resolution);
    bool ReadMicrostepTable();
    bool WriteMicrostepTable();
    bool GetVolt(float& volts, float& percent);
    bool GetAll(FWCurrentParameters& status);

    // --- moves: block until the device reports the end or the time-out passes ---
    bool Home(int unused);
    bool SelectFilter(int target);
    bool GoToPosition(int target, int focuser);

    // --- memory image and filter list ---
    bool FiltersFromImage();
    bool WriteMemoryImage(bool copyFilters);

    std::int32_t ChangeFilterTimeoutMs = 1000;  // per wheel position, for filter changes and homing

    // Called by a command that finds its port hung up: opens the same device again in its place
    // (the handle stays when it cannot, and the command fails on it as before).
    void ReopenHungUpPort();
    // Opens the device again after its line hung up; kNoPort when it is not back (yet). Set by
    // the owner of the link, which knows the device's path; none: a hung-up port stays dead.
    std::function<PortHandle()> ReopenPort;

    PortHandle m_hPort = kNoPort;
    std::atomic<bool> m_bBusy{false};
    bool m_bFocuserPresent = false;
    bool m_bWheelPresent = false;
    bool m_bStatusPresent = false;
    std::int32_t m_MemorySize = 0;
    std::uint8_t m_MicrostepTable[128] = {};
    std::int32_t m_MicrostepTableLen = -1;
    // A failed move left the motor somewhere on its way: its status position holds the marker
    // until the controller tells it again. Unlike a position the status never carried (older
    // firmware, short status blocks), a lost one is read before the next move of that motor.
    bool m_bFocusPosLost = false;
    bool m_bFocus2PosLost = false;
    bool FocuserPositionLost(int focuser) const { return UsesFocus2(focuser) ? m_bFocus2PosLost : m_bFocusPosLost; }

protected:
    CFilterTable& m_Filters;
    CTimeLogFile& m_Log;

    // The status field a focuser command for `focuser` reads or writes: the second
    // focuser's only in the two-motor form.
    bool UsesFocus2(int focuser) const { return TwoMotorForm() && focuser != 0; }
    std::int32_t FocuserPosition(int focuser) const { return UsesFocus2(focuser) ? Focus2Pos : FocusPos; }
    // A position the controller told (or arrived at): no longer lost.
    void SetFocuserPosition(int focuser, std::int32_t position) {
        if (UsesFocus2(focuser)) Focus2Pos = position, m_bFocus2PosLost = false;
        else FocusPos = position, m_bFocusPosLost = false;
    }
    void LoseFocuserPosition(int focuser) {
        if (UsesFocus2(focuser)) Focus2Pos = kPositionNotRead, m_bFocus2PosLost = true;
        else FocusPos = kPositionNotRead, m_bFocusPosLost = true;
    }
    // Request bytes of a focuser command: the focuser byte in the two-motor form, then `tail`.
    std::string FocuserRequest(int focuser, std::string tail = {}) const;
    // The position query "FWfocus" under a guard the caller holds: stores the answer in the
    // focuser's status field.
    bool ReadFocuserPosition(int focuser);
};

// Time-out rules of the moves, in milliseconds. Each is computed without overflow for any
// setting; a result below zero is 0. The wheel's are at most kMaxMoveTimeoutMs (one hour: no
// wheel turn takes that long).
inline constexpr int kMaxMoveTimeoutMs = 3600000;
int WheelDistance(int count, int from, int to);
int HomeTimeoutMs(int count, int perPositionMs);
int SelectFilterTimeoutMs(int count, int from, int to, int perPositionMs);

// The focuser's time-out |start - target| x 1000 / speed + 11 x backlash + 2000 is kept whole
// for every value the fields can hold: positions are signed 32-bit, the speed used is 1..300
// steps per second (unsigned 16-bit, capped, 0 taken as 300) and the backlash unsigned 16-bit.
// A slow motor on a long travel may take many hours; a move cut short keeps the motor running
// while its position is given up. This is the largest such value (about 136 years); anything
// beyond the fields' ranges is held to it.
inline constexpr std::int64_t kMaxFocuserTimeoutMs = static_cast<std::int64_t>(
    (static_cast<double>(std::numeric_limits<std::int32_t>::max()) - std::numeric_limits<std::int32_t>::min()) *
        (1000.0 / 1) +
    std::numeric_limits<std::uint16_t>::max() * 11.0 + 2000.0);
std::int64_t GoToPositionTimeoutMs(int start, int target, int speed, int backlash);

} // namespace velq3
