// The device service: stands between the network faces and the one device object. Readers on
// any thread get the latest published Snapshot; commands from other threads are tasks posted
// to the owner thread's loop, refused when they cannot start within the start deadline and
// then never run. Moves start asynchronously. The status is asked at most once a second in
// all: while the operator window polls, the service asks only in the seconds that poll lets
// pass and only for a client other than the window; while no window polls, it asks once a
// second itself.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "device/DeviceRules.h"
#include "device/OrnFilterWheel.h"
#include "platform/MainLoop.h"
#include "service/Snapshot.h"

namespace velq3 {

enum class CommandStatus {
    Ok,            // done, or for a move: accepted and started
    Failed,        // the device command failed
    Busy,          // could not start within the start deadline; it will never run
    NotConnected,  // the link is closed, or the client does not hold it
    InvalidValue,  // the value is out of range or not a number
    WrongMode,     // the controller's mode does not fit this kind of device
    NotAvailable,  // the device has no such part (no wheel, no steps per turn...)
    Stopped,       // the service is ending
};

struct CommandResult {
    CommandStatus status = CommandStatus::Ok;
    std::string message;          // for the client; empty after success
    std::uint64_t moveSequence = 0;  // a started move's number (see Snapshot::lastMove)

    bool Ok() const { return status == CommandStatus::Ok; }
    static CommandResult Success() { return {}; }
    static CommandResult Error(CommandStatus status, std::string message) { return {status, std::move(message), 0}; }
};

// The message of a command refused as busy.
inline constexpr const char* kBusyMessage = "The controller is busy with a move; the command was not run";

struct ServiceOptions {
    // How long a command may wait for the owner thread before it is refused as busy.
    std::chrono::milliseconds startDeadline{1000};
    // Period of the headless status query.
    std::chrono::milliseconds pollInterval{1000};
    // A status read by someone else (a connection's handshake, another face's command) younger
    // than this makes the headless poll skip its turn.
    std::chrono::milliseconds foreignPollWindow{1500};
    // Readings older than this fail (copied to the device object's StaleAfter).
    std::chrono::milliseconds staleAfter = kStaleStatusAge;
};

class DeviceService {
public:
    // Over `fw`, owned by the thread that runs `loop`; construct, start and destroy the service
    // on that thread. `fw` outlives the service. Publishes the first snapshot at once.
    DeviceService(OrnFilterWheel& fw, MainLoop& loop, ServiceOptions options = {});
    ~DeviceService();
    DeviceService(const DeviceService&) = delete;
    DeviceService& operator=(const DeviceService&) = delete;

    // ---- readers: any thread ----

    // The latest snapshot; never null.
    std::shared_ptr<const Snapshot> Current() const;
    // Waits up to `timeout` for a snapshot with a serial above `serial`; returns the latest.
    std::shared_ptr<const Snapshot> WaitNewer(std::uint64_t serial, std::chrono::milliseconds timeout) const;
    // Called on the owner thread after each publication (keep it short, never block on the
    // service). Returns a handle for RemoveListener.
    std::uint64_t AddListener(std::function<void(const std::shared_ptr<const Snapshot>&)> listener);
    void RemoveListener(std::uint64_t handle);
    // The current time of the device's monotonic clock, for Snapshot::Stale and ReadingProblem.
    SteadyTime Now() const;

    // ---- connection per client: any thread ----

    // A fresh identity for a network device (NewClientId()).
    static ClientId NewClient() { return NewClientId(); }
    // Makes `client` a holder of the shared link (opening it if it is the first) and checks
    // that the controller's mode fits `kind`; a mode that does not fit lets go again and gives
    // WrongMode.
    CommandResult Connect(ClientId client, DeviceKind kind);
    // `client` lets go of the link (closing it if it was the last).
    CommandResult Disconnect(ClientId client);

    // ---- moves: any thread; Ok means the move was accepted and has started ----

    CommandResult SelectFilter(int position);
    CommandResult HomeWheel();
    // Focuser `motor` (0 built-in, 1 second focuser) to a client position (with the focus shift).
    CommandResult MoveFocuser(int motor, std::int64_t clientPosition);
    // Rotator: to an angle (with reverse), by an angle, to a mechanical angle (without reverse).
    CommandResult MoveRotatorAbsolute(float angle);
    CommandResult MoveRotatorRelative(float delta);
    CommandResult MoveRotatorMechanical(float angle);
    // Cover: a whole travel up (open) or down, then the counter set to the end position.
    CommandResult MoveCover(bool open);

    // Drops the move waiting for the line for `kind` (Halt, AbortSlew); true when there was one.
    // Any thread.
    bool DropQueuedMove(MoveKind kind);

    // ---- synchronous commands: any thread ----

    CommandResult WriteFilterName(int index, const std::string& name);
    // Temperature compensation of the built-in focuser on the preferred sensor, or off; the
    // snapshot shows the new state at once.
    CommandResult SetTempComp(bool on);
    // The preferred sensor for temperature compensation (-1: none), kept in the settings. A
    // setting, not a command: a running move does not hold it up.
    CommandResult SetPreferredThermometer(int thermometer);
    // The focusers' highest client position (`AscomMaxFocusPos`, 1 or more), kept in the
    // settings like the preferred sensor.
    CommandResult SetMaxFocusPosition(std::int32_t maximum);
    // Sets the heater set point, kept in the controller's non-volatile memory. A value equal to
    // the one shown writes nothing. Memory writes come at most once a kHeaterWriteInterval: a
    // value set sooner is shown at once and written when the interval is over, unless a newer
    // one replaced it or it is back to what the memory holds; if that late write fails, the
    // reading returns to the memory's value.
    CommandResult SetHeaterSetPoint(std::int16_t value);
    static constexpr std::chrono::milliseconds kHeaterWriteInterval{1000};
    CommandResult SetRotatorReverse(bool reverse);
    // Sets the motor's position counter without moving (device steps).
    CommandResult SetFocusPosition(int motor, int position);

    // Runs `command` on the owner thread with the start deadline and returns its result; the
    // way to add a command without a new member. The function must not keep the reference.
    CommandResult Run(std::function<CommandResult(OrnFilterWheel&)> command);
    // The same, without waiting: the future is ready with the result (or Busy after the deadline).
    std::future<CommandResult> Submit(std::function<CommandResult(OrnFilterWheel&)> command);

    // ---- headless poll: owner thread ----

    // Starts the status query every `pollInterval` (idempotent). Each turn skips when the link
    // is closed, a command holds it, a window polls (the device object's PollingWindow), or
    // someone else read the status within `foreignPollWindow`. A window's tick that asked
    // nothing (a dialog of the window is up) is filled right after it, when a client other
    // than the window holds the link.
    void StartPoll();
    void StopPoll();
    bool Polling() const { return m_PollTimer != kNoTimer; }
    // One turn of the poll now (what the timer calls). True when a query was sent and answered.
    bool PollOnce();

    // Builds and publishes a snapshot now (owner thread).
    void Publish();

    const ServiceOptions& Options() const { return m_Options; }

private:
    struct Task;
    using Command = std::function<CommandResult(OrnFilterWheel&)>;

    // Queues `body` for the owner thread; it runs only if it starts before the caller gave up.
    std::shared_ptr<Task> Post(std::function<void(Task&)> body);
    // Waits for the task to start until the start deadline (else refuses it: Busy), then for
    // its result.
    static CommandResult Await(const std::shared_ptr<Task>& task, std::chrono::steady_clock::time_point deadline);
    // Post + Await, or the body at once when called on the owner thread.
    CommandResult Execute(std::function<void(Task&)> body);
    CommandResult ExecuteCommand(Command command);
    // Starts a move: `check` runs first on the owner thread, may refuse, and sets the target and
    // the kind of move; then the snapshot shows the move running, the caller gets Ok, and `body`
    // runs.
    //
    // While another move holds the line, a move from another thread is accepted at once and
    // waits in its device's one place (`slot`; a newer request replaces the older), reading as
    // moving; it runs when the line is free. One that could not start within the running
    // move's time-out fails with a message in the move's outcome.
    using MoveCheck = std::function<CommandResult(OrnFilterWheel&, int& target, MoveKind& kind)>;
    using MoveBody = std::function<bool(OrnFilterWheel&, int target)>;
    CommandResult StartMove(MoveKind slot, MoveCheck check, MoveBody body);
    // Runs a move on the owner thread: the check, then the body; `task` (none for a queued
    // move) gets the acceptance or refusal, a queued move's refusal goes to the outcome.
    void RunMove(MoveKind slot, std::uint64_t sequence, const MoveCheck& check, const MoveBody& body, Task* task);
    // Runs the oldest queued move (owner thread).
    void RunQueued();
    // Publishes the latest snapshot with the queue as it is now (any thread).
    void PublishQueue();
    // Puts the waiting moves into `snap` (a waiting wheel reads as turning).
    void ApplyQueue(Snapshot& snap) const;
    // Looks at the queue from the loop, if this service still lives then.
    void PostRunQueued();
    std::vector<RunningMove> QueuedMoves() const;
    bool OnOwnerThread() const { return std::this_thread::get_id() == m_Owner; }
    void OnDeviceChange(const DeviceChange& change);
    // The status query of one turn (the full status, or the older firmware's per-item
    // queries); true when answered.
    bool QueryStatus();
    // After a window's tick that asked nothing: its second is filled once control is back in
    // the loop.
    void FillWindowSecond();
    // Whether the link is held by anyone but the polling window.
    bool OtherClientHolds() const;
    std::shared_ptr<Snapshot> Build() const;

    OrnFilterWheel& m_FW;
    MainLoop& m_Loop;
    ServiceOptions m_Options;
    std::thread::id m_Owner;
    TimerId m_PollTimer = kNoTimer;

    // The heater set point's memory writes (owner thread only).
    bool WriteHeaterSetPoint(std::int16_t value);
    // Writes the waiting value, if any and still needed.
    void FlushHeaterSetPoint(bool publish);
    std::optional<std::int16_t> m_HeaterPending;  // shown already; written when the interval is over
    std::int16_t m_HeaterInMemory = 0;            // the memory's value while one waits
    std::optional<SteadyTime> m_HeaterWrittenAt;
    TimerId m_HeaterTimer = kNoTimer;
    bool m_InOwnPoll = false;
    bool m_FillPending = false;
    std::optional<SteadyTime> m_LastForeignStatus;
    std::optional<std::int8_t> m_ConnectedMode;  // the mode the last handshake read

    // Moves: the running one and the last outcome (owner thread only).
    RunningMove m_Move;
    MoveOutcome m_LastMove;
    std::atomic<std::uint64_t> m_NextMove{1};

    // Moves waiting for the line, oldest first, and whether a move holds the line until when.
    struct Queued {
        MoveKind slot = MoveKind::None;
        std::uint64_t sequence = 0;
        std::chrono::steady_clock::time_point deadline;
        MoveCheck check;
        MoveBody body;
    };
    mutable std::mutex m_QueueMutex;
    std::vector<Queued> m_Queue;
    bool m_LineMoving = false;
    std::chrono::steady_clock::time_point m_LineFree;
    bool m_ServiceMove = false;  // the running move was started by the service
    // Where the service's last cover move left the cover, until the next status (Snapshot::coverEnd).
    std::optional<CoverStatus> m_CoverEnd;

    mutable std::mutex m_SnapMutex;
    mutable std::condition_variable m_SnapChanged;
    std::shared_ptr<const Snapshot> m_Snapshot;
    std::uint64_t m_Serial = 0;
    bool m_Ending = false;  // guarded by m_SnapMutex

    std::mutex m_ListenMutex;
    std::vector<std::pair<std::uint64_t, std::function<void(const std::shared_ptr<const Snapshot>&)>>> m_Listeners;
    std::uint64_t m_NextListener = 1;

    std::shared_ptr<bool> m_Alive;  // tasks still queued after the service ended see false
};

// An owner thread for processes whose main thread belongs to someone else (a library's event
// loop): it runs a PollMainLoop, creates the device object and the service on it, starts the
// headless poll, and on destruction destroys both there (the device saves its settings) and
// joins.
class ServiceThread {
public:
    // `env.loop` is replaced by the thread's own loop. Throws std::runtime_error when the
    // thread could not be started.
    explicit ServiceThread(DeviceEnvironment env, ServiceOptions options = {});
    ~ServiceThread();
    ServiceThread(const ServiceThread&) = delete;
    ServiceThread& operator=(const ServiceThread&) = delete;

    DeviceService& Service() { return *m_Service; }
    MainLoop& Loop() { return *m_Loop; }
    // Runs `fn` on the owner thread and waits for it (setting up the device before serving).
    void Invoke(const std::function<void(OrnFilterWheel&)>& fn);

private:
    std::unique_ptr<PollMainLoop> m_Loop;
    std::unique_ptr<OrnFilterWheel> m_Device;
    std::unique_ptr<DeviceService> m_Service;
    std::thread m_Thread;
};

} // namespace velq3
