// The one device object: the controller link with its records, the filter set, the command
// log, the multi-client connection, the operator settings kept in the registry and the
// connection (fixed port or scan) with its handshake.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include "device/DeviceRules.h"
#include "device/FiltersSet.h"
#include "device/MultiConnect.h"
#include "device/TermLog.h"
#include "link/DeviceLink.h"
#include "link/TimeLogFile.h"
#include "platform/Clock.h"
#include "platform/MainLoop.h"
#include "platform/PortMap.h"
#include "platform/Registry.h"

namespace velq3 {

inline constexpr std::string_view kSettingsKey = "Software\\ASCOM\\Settings\\OrnFocuserV3";
inline constexpr int kTermLogIntervalMs = 5000;

using SteadyTime = std::chrono::steady_clock::time_point;

// A change of the device object seen by an observer (the device service): a status arrived,
// the connection opened or closed, a move starts or has ended, the operator window's poll
// asked for the status or let its second pass without asking.
struct DeviceChange {
    enum What { Status, Connection, MoveStarted, MoveEnded, WindowPolled, WindowPollSkipped } what = Status;
    MoveKind move = MoveKind::None;  // MoveStarted, MoveEnded: which move
    int target = 0;                  // its target (filter slot or motor steps)
    bool ok = true;                  // MoveEnded: whether it succeeded; WindowPolled: answered
};

// What one tick of the operator window's status poll did.
enum class WindowPoll {
    Skipped,   // asked nothing (a dialog of the window is up, or a command holds the link)
    Failed,    // asked, and the controller answered none of it
    Answered,  // asked, and the controller answered (the full status or any of the per-item queries)
};

// What the device object needs from its surroundings, injected so tests control it.
struct DeviceEnvironment {
    // The current user's hive; none means settings are neither loaded nor saved.
    RegistryHive* userHive = nullptr;
    // The loop that delivers the temperature-log timer on the main thread; none: no timer.
    MainLoop* loop = nullptr;
    // Calendar and local time of the temperature log; none: the system clock.
    const CalendarClock* clock = nullptr;
    // Device path of port COMn; by default the port table with the per-user overrides
    // "SerialDevice%i" under the settings key.
    std::function<std::string(int)> portPath;
    // Folder of the stable port names shown beside each port.
    std::filesystem::path byIdDir = kDefaultByIdDir;
};

class OrnFilterWheel : public CFiltersSet,
                       public CTimeLogFile,
                       public CMultiConnect<OrnFilterWheel>,
                       public CDeviceLink {
public:
    explicit OrnFilterWheel(DeviceEnvironment env = {});
    ~OrnFilterWheel() override;

    // Filter-set operations carried out by device commands.
    void OutputBits(std::uint8_t) override {}
    bool Home(int unused) override;
    bool SelectFilter(int position) override;
    bool GetFilter(int& position) override { return CDeviceLink::GetFilter(position); }

    using CTimeLogFile::Log;

    // The status query and the focuser move of the link, seen by the change observer: they
    // hide CDeviceLink's so that every caller through the device object is noticed.
    bool GetAll(FWCurrentParameters& status);
    bool GoToPosition(int target, int focuser);

    // Called on the owner thread after each change; must not send device commands.
    std::function<void(const DeviceChange&)> OnChange;

    // The operator window's once-a-second status poll. While its timer runs, the window names
    // itself here (its client identity; 0: no window polls) and reports every tick. An
    // answered tick counts as an answer (the readings are fresh). The device service leaves
    // the status query to that window and asks only in the seconds the window let pass.
    ClientId PollingWindow = 0;
    void NoteWindowPoll(WindowPoll tick);

    // The controller answered (a status, a handshake, a finished move): readings are fresh.
    void NoteAnswer();
    // When the controller last answered since the link opened; none while closed.
    std::optional<SteadyTime> LastAnswer() const { return m_LastAnswer; }
    // True while the link is open and its line has hung up (the controller vanished): nothing
    // it says can arrive until the line is opened again.
    bool LineGone() const;
    // True while the link is open and the controller has not answered for `StaleAfter`, or
    // its line has gone.
    bool ReadingsStale() const;
    SteadyTime SteadyNow() const;
    // Replaces the monotonic clock of the status age (tests); none: std::chrono::steady_clock.
    void SetSteadyClock(std::function<SteadyTime()> now) { m_SteadyNow = std::move(now); }
    std::chrono::milliseconds StaleAfter = kStaleStatusAge;

    bool OpenLink();
    bool OpenPort(int portNumber);
    void CloseLink();
    bool Handshake();

    void SaveRegistrySettings();
    void LoadRegistrySettings();

    // Writes the memory image, the operator settings, the filter change time-out and the
    // thermometer names to a settings file; failures are silent.
    void SaveSettingsFile(const std::string& path);
    // Reads a settings file, writes its image to the device and reads the device back.
    // False, with nothing changed and nothing sent, when the file is missing, over 64 KiB,
    // has an image length of 0 or below, ends before the filter change time-out is complete,
    // or has a thermometer name holding control characters. Names the file ends before are
    // empty; bytes after the fourth name are ignored.
    bool LoadSettingsFile(const std::string& path);

    // The device path that port number n stands for.
    std::string PortPath(int portNumber) const;
    // Port n as the port list shows it: its path with links resolved and its stable name.
    // The device is not opened.
    PortInfo DescribePort(int portNumber) const;
    // Why the last open of a port was refused for lack of permission (one line naming the
    // group to join); empty after a successful connection or any other failure.
    const std::string& PermissionProblem() const { return m_PermissionProblem; }

    // Called every 5000 ms on the main thread: appends a line to the night's temperature
    // log and a sample to the history, unless the device is closed, absent or busy.
    void TermLogTick();

    std::array<std::string, 4> TermometerName;
    std::string LogFile;
    std::string TermLogPath;
    bool RotatorReverse = false;  // the Rotator driver's direction flag; not saved
    TimerId m_TimerId = kNoTimer;
    TermHistoryQueue TermHistory;  // oldest first, at most kTermHistorySize samples
    TermTimeQueue TermHistoryTimes;  // the time of each sample in TermHistory, index for index

    // The calendar clock of the temperature log: the injected one, or the system clock.
    const CalendarClock& CalendarTime() const { return m_Env.clock ? *m_Env.clock : m_SystemClock; }
    // The current user's hive, where the windows also keep their own per-user choices; none
    // when settings are not kept.
    RegistryHive* UserHive() const { return m_Env.userHive; }

private:
    // Opens the device port `n` stands for (a stable name or any other link opens the device it
    // points at); kNoPort and `error` when it cannot.
    PortHandle OpenDevice(int n, std::string* error = nullptr) const;
    // (Re)opens the command log file after a successful connection when a path is set.
    void OpenLogFileIfSet();
    void Notify(const DeviceChange& change) {
        if (OnChange) OnChange(change);
    }

    DeviceEnvironment m_Env;
    SystemCalendarClock m_SystemClock;
    std::string m_PermissionProblem;
    std::optional<SteadyTime> m_LastAnswer;
    std::function<SteadyTime()> m_SteadyNow;
};

} // namespace velq3
