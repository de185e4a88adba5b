// The device service: snapshot publication, commands posted to the owner thread with their
// start deadline, asynchronous moves and the headless status poll.
#include "service/DeviceService.h"

#include "platform/DebugSink.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <stdexcept>

#include "device/DeviceMoves.h"

namespace velq3 {

namespace {

CommandResult NotConnectedResult() { return CommandResult::Error(CommandStatus::NotConnected, "Not connected to the controller"); }

const char* KindName(DeviceKind kind) {
    switch (kind) {
    case DeviceKind::FilterWheel: return "a filter wheel";
    case DeviceKind::Focuser: return "a focuser";
    case DeviceKind::Focuser2: return "a second focuser";
    case DeviceKind::Rotator: return "a rotator";
    case DeviceKind::Cover: return "a cover";
    }
    return "this device";
}

} // namespace

// One posted command: Pending until the owner thread takes it (Started) or the caller gives up
// (Expired, after which it never runs); `done` once its result is there.
struct DeviceService::Task {
    enum State { Pending, Started, Expired };

    std::mutex mutex;
    std::condition_variable changed;
    State state = Pending;
    bool done = false;
    CommandResult result;

    bool Begin() {
        std::lock_guard lock(mutex);
        if (state != Pending) return false;
        state = Started;
        changed.notify_all();
        return true;
    }
    void Complete(CommandResult r) {
        std::lock_guard lock(mutex);
        if (done) return;
        result = std::move(r);
        done = true;
        changed.notify_all();
    }
};

DeviceService::DeviceService(OrnFilterWheel& fw, MainLoop& loop, ServiceOptions options)
    : m_FW(fw), m_Loop(loop), m_Options(options), m_Owner(std::this_thread::get_id()),
      m_Alive(std::make_shared<bool>(true)) {
    m_FW.StaleAfter = m_Options.staleAfter;
    m_FW.OnChange = [this](const DeviceChange& change) { OnDeviceChange(change); };
    Publish();
}

DeviceService::~DeviceService() {
    StopPoll();
    FlushHeaterSetPoint(false);  // a value set just before the end is not lost
    m_FW.OnChange = nullptr;
    m_Alive.reset();
    std::lock_guard lock(m_SnapMutex);
    m_Ending = true;
    m_SnapChanged.notify_all();
}

// ---- snapshot ----

std::shared_ptr<Snapshot> DeviceService::Build() const {
    auto s = std::make_shared<Snapshot>();
    s->published = std::chrono::steady_clock::now();
    s->open = m_FW.IsOpen();
    s->clients.assign(m_FW.ClientSet.begin(), m_FW.ClientSet.end());
    s->comPort = m_FW.ComPort;
    s->openPort = s->open && m_FW.ComPort > 0 ? m_FW.ComPort : 0;
    if (m_FW.ComPort > 0) s->portPath = m_FW.PortPath(m_FW.ComPort);
    s->lastAnswer = m_FW.LastAnswer();
    s->staleAfter = m_FW.StaleAfter;
    s->lineGone = m_FW.LineGone();
    s->wheelPresent = m_FW.m_bWheelPresent;
    s->focuserPresent = m_FW.m_bFocuserPresent;
    s->statusPresent = m_FW.m_bStatusPresent;
    s->mode = m_FW.Mode;
    s->connectedMode = m_ConnectedMode;
    s->sensorCount = m_FW.SensorCount;
    s->memorySize = m_FW.m_MemorySize;
    s->busy = m_FW.IsBusy();
    s->status = m_FW.Status();
    s->filterCount = m_FW.FilterCount();
    s->currentFilter = m_FW.CurrentFilter;
    for (const FilterRecord& f : m_FW.Filters) {
        s->filterNames.push_back(DeviceTextToUtf8(f.Name));
        s->focusOffsets.push_back(f.FocuserPos);
    }
    for (int i = 0; i < kSensorCount; ++i) s->thermometerNames[i] = DeviceTextToUtf8(m_FW.TermometerName[i]);
    s->image = m_FW.Image();
    s->settings = static_cast<const FWAdditionalSettings&>(m_FW);
    s->rotatorReverse = m_FW.RotatorReverse;
    s->move = m_Move;
    s->lastMove = m_LastMove;
    s->coverEnd = m_CoverEnd;
    // The waiting moves are put in by Publish, under the snapshot's lock.
    return s;
}

void DeviceService::Publish() {
    auto snapshot = Build();
    std::shared_ptr<const Snapshot> published;
    {
        std::lock_guard lock(m_SnapMutex);
        // The queue under the lock, so that a move queued by another thread meanwhile is kept.
        ApplyQueue(*snapshot);
        snapshot->serial = ++m_Serial;
        m_Snapshot = snapshot;
        published = m_Snapshot;
        m_SnapChanged.notify_all();
    }
    std::vector<std::function<void(const std::shared_ptr<const Snapshot>&)>> listeners;
    {
        std::lock_guard lock(m_ListenMutex);
        for (const auto& [handle, listener] : m_Listeners) listeners.push_back(listener);
    }
    for (const auto& listener : listeners) listener(published);
}

std::shared_ptr<const Snapshot> DeviceService::Current() const {
    std::lock_guard lock(m_SnapMutex);
    return m_Snapshot;
}

std::shared_ptr<const Snapshot> DeviceService::WaitNewer(std::uint64_t serial, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(m_SnapMutex);
    m_SnapChanged.wait_for(lock, timeout, [&] { return m_Snapshot->serial > serial || m_Ending; });
    return m_Snapshot;
}

std::uint64_t DeviceService::AddListener(std::function<void(const std::shared_ptr<const Snapshot>&)> listener) {
    std::lock_guard lock(m_ListenMutex);
    const std::uint64_t handle = m_NextListener++;
    m_Listeners.emplace_back(handle, std::move(listener));
    return handle;
}

void DeviceService::RemoveListener(std::uint64_t handle) {
    std::lock_guard lock(m_ListenMutex);
    std::erase_if(m_Listeners, [handle](const auto& entry) { return entry.first == handle; });
}

SteadyTime DeviceService::Now() const { return m_FW.SteadyNow(); }

void DeviceService::OnDeviceChange(const DeviceChange& change) {
    switch (change.what) {
    case DeviceChange::Status:
        if (!m_InOwnPoll) m_LastForeignStatus = m_FW.SteadyNow();
        m_CoverEnd.reset();  // the end-stops now tell
        break;
    case DeviceChange::Connection:
        m_CoverEnd.reset();
        // The handshake of a link that opened has just read the status and the memory.
        if (m_FW.IsOpen()) {
            m_LastForeignStatus = m_FW.SteadyNow();
            m_ConnectedMode = m_FW.Mode;
        }
        break;
    case DeviceChange::WindowPolled:
        break;  // what the window's queries brought is published
    case DeviceChange::WindowPollSkipped:
        FillWindowSecond();
        return;
    case DeviceChange::MoveStarted:
        // A move by the window or an automation object; the service's own are already shown.
        if (m_ServiceMove) return;
        m_Move = {change.move, change.target, m_NextMove++};
        if (change.move == MoveKind::SecondMotor) m_CoverEnd.reset();
        break;
    case DeviceChange::MoveEnded:
        if (m_ServiceMove) return;
        m_LastMove = {change.move, change.target, change.ok, m_Move.sequence, change.ok ? "" : "The move failed"};
        m_Move = {};
        break;
    }
    Publish();
}

// ---- commands ----

std::shared_ptr<DeviceService::Task> DeviceService::Post(std::function<void(Task&)> body) {
    auto task = std::make_shared<Task>();
    std::weak_ptr<bool> alive = m_Alive;
    m_Loop.PostTask([task, alive, body = std::move(body)] {
        if (!task->Begin()) return;  // refused as busy meanwhile: never run
        if (alive.expired()) {
            task->Complete(CommandResult::Error(CommandStatus::Stopped, "The device service has ended"));
            return;
        }
        body(*task);
        task->Complete(CommandResult::Success());  // no effect when the body gave its result
    });
    return task;
}

CommandResult DeviceService::Await(const std::shared_ptr<Task>& task, std::chrono::steady_clock::time_point deadline) {
    std::unique_lock lock(task->mutex);
    if (!task->changed.wait_until(lock, deadline, [&] { return task->state != Task::Pending; })) {
        task->state = Task::Expired;
        return CommandResult::Error(CommandStatus::Busy, kBusyMessage);
    }
    task->changed.wait(lock, [&] { return task->done; });
    return task->result;
}

CommandResult DeviceService::Execute(std::function<void(Task&)> body) {
    if (OnOwnerThread()) {
        Task task;
        task.Begin();
        body(task);
        task.Complete(CommandResult::Success());
        return task.result;
    }
    const auto deadline = std::chrono::steady_clock::now() + m_Options.startDeadline;
    return Await(Post(std::move(body)), deadline);
}

CommandResult DeviceService::ExecuteCommand(Command command) {
    return Execute([this, command = std::move(command)](Task& task) {
        CommandResult result = m_FW.IsBusy() ? CommandResult::Error(CommandStatus::Busy, kBusyMessage) : command(m_FW);
        Publish();
        task.Complete(std::move(result));
    });
}

CommandResult DeviceService::Run(std::function<CommandResult(OrnFilterWheel&)> command) {
    return ExecuteCommand(std::move(command));
}

std::future<CommandResult> DeviceService::Submit(std::function<CommandResult(OrnFilterWheel&)> command) {
    auto body = [this, command = std::move(command)](Task& task) {
        CommandResult result = m_FW.IsBusy() ? CommandResult::Error(CommandStatus::Busy, kBusyMessage) : command(m_FW);
        Publish();
        task.Complete(std::move(result));
    };
    if (OnOwnerThread()) {
        std::promise<CommandResult> done;
        done.set_value(Execute(std::move(body)));
        return done.get_future();
    }
    const auto deadline = std::chrono::steady_clock::now() + m_Options.startDeadline;
    auto task = Post(std::move(body));
    return std::async(std::launch::async, [task, deadline] { return Await(task, deadline); });
}

namespace {

// How long the move of `kind` to `target` may hold the line at most, from the link's time-outs.
std::chrono::milliseconds MoveTimeout(const OrnFilterWheel& fw, MoveKind kind, int target) {
    using std::chrono::milliseconds;
    const milliseconds slack{1000};  // a position read first, the end's bookkeeping
    switch (kind) {
    case MoveKind::Wheel:
        return milliseconds{2 * std::int64_t{SelectFilterTimeoutMs(fw.FilterCount(), fw.CurrentFilter, target,
                                                                   fw.ChangeFilterTimeoutMs)} +
                            kSelectFilterRetryDelayMs} + slack;
    case MoveKind::Home: return milliseconds{HomeTimeoutMs(fw.FilterCount(), fw.ChangeFilterTimeoutMs)} + slack;
    case MoveKind::Focuser0:
    case MoveKind::Focuser1:
    case MoveKind::SecondMotor: {
        const std::int32_t from = kind == MoveKind::Focuser0 ? fw.FocusPos : fw.TwoMotorForm() ? fw.Focus2Pos : fw.FocusPos;
        return milliseconds{GoToPositionTimeoutMs(PositionKnown(from) ? from : 0, target, fw.FocuserSpeed,
                                                  fw.FocuserBacklash)} + slack;
    }
    case MoveKind::None: break;
    }
    return slack;
}

} // namespace

void DeviceService::ApplyQueue(Snapshot& snap) const {
    snap.queued = QueuedMoves();
    // The wheel's position is unknown while it turns or waits to turn.
    if (snap.Moving(MoveKind::Wheel) || snap.Moving(MoveKind::Home)) snap.currentFilter = -1;
}

void DeviceService::PostRunQueued() {
    std::weak_ptr<bool> alive = m_Alive;
    m_Loop.PostTask([this, alive] {
        if (!alive.expired()) RunQueued();
    });
}

std::vector<RunningMove> DeviceService::QueuedMoves() const {
    std::lock_guard lock(m_QueueMutex);
    std::vector<RunningMove> moves;
    for (const Queued& q : m_Queue) moves.push_back({q.slot, 0, q.sequence});
    return moves;
}

void DeviceService::PublishQueue() {
    std::lock_guard lock(m_SnapMutex);
    auto copy = std::make_shared<Snapshot>(*m_Snapshot);
    ApplyQueue(*copy);
    copy->published = std::chrono::steady_clock::now();
    copy->serial = ++m_Serial;
    m_Snapshot = copy;
    m_SnapChanged.notify_all();
}

bool DeviceService::DropQueuedMove(MoveKind kind) {
    {
        std::lock_guard lock(m_QueueMutex);
        const auto before = m_Queue.size();
        std::erase_if(m_Queue, [kind](const Queued& q) { return q.slot == kind; });
        if (m_Queue.size() == before) return false;
    }
    PublishQueue();
    return true;
}

void DeviceService::RunMove(MoveKind slot, std::uint64_t sequence, const MoveCheck& check, const MoveBody& body,
                            Task* task) {
    const auto refuse = [&](CommandResult r) {
        if (task) {
            task->Complete(std::move(r));
        } else {
            // A queued move was accepted long ago: its refusal is its outcome.
            const bool nothing = r.Ok();
            m_LastMove = {slot, 0, nothing, sequence, nothing ? "" : r.message};
            Publish();
        }
    };
    if (m_FW.IsBusy()) return refuse(CommandResult::Error(CommandStatus::Busy, kBusyMessage));
    if (!m_FW.IsOpen()) return refuse(NotConnectedResult());
    int target = 0;
    MoveKind kind = MoveKind::None;
    CommandResult refused = check(m_FW, target, kind);
    if (!refused.Ok() || refused.moveSequence == ~std::uint64_t{0}) {
        // Refused, or nothing to do (the check said so with the all-ones sequence).
        if (refused.Ok()) refused.moveSequence = 0;
        return refuse(std::move(refused));
    }
    m_Move = {kind, target, sequence};
    m_ServiceMove = true;
    {
        std::lock_guard lock(m_QueueMutex);
        m_LineMoving = true;
        m_LineFree = std::chrono::steady_clock::now() + MoveTimeout(m_FW, kind, target);
    }
    Publish();
    if (task) {
        CommandResult accepted;
        accepted.moveSequence = sequence;
        task->Complete(accepted);
    }
    const bool ok = body(m_FW, target);
    bool more = false;
    {
        std::lock_guard lock(m_QueueMutex);
        m_LineMoving = false;
        more = !m_Queue.empty();
    }
    m_LastMove = {kind, target, ok, sequence, ok ? "" : "The move failed"};
    m_Move = {};
    m_ServiceMove = false;
    Publish();
    if (more) {
        // The queued moves run from the loop, so that what else waits for it gets its turn.
        PostRunQueued();
    }
}

void DeviceService::RunQueued() {
    Queued next;
    {
        std::lock_guard lock(m_QueueMutex);
        if (m_Queue.empty() || m_LineMoving) return;
        next = std::move(m_Queue.front());
        m_Queue.erase(m_Queue.begin());
    }
    if (std::chrono::steady_clock::now() > next.deadline) {
        m_LastMove = {next.slot, 0, false, next.sequence,
                      "The controller was busy with other moves until the time-out; the move did not start"};
        Publish();
        PostRunQueued();
        return;
    }
    RunMove(next.slot, next.sequence, next.check, next.body, nullptr);
}

CommandResult DeviceService::StartMove(MoveKind slot, MoveCheck check, MoveBody body) {
    if (OnOwnerThread()) {
        Task task;
        task.Begin();
        RunMove(slot, m_NextMove++, check, body, &task);
        return task.result;
    }
    auto task = Post([this, slot, check, body](Task& t) { RunMove(slot, m_NextMove++, check, body, &t); });
    const auto deadline = std::chrono::steady_clock::now() + m_Options.startDeadline;
    std::unique_lock lock(task->mutex);
    for (;;) {
        if (task->changed.wait_for(lock, std::chrono::milliseconds(20), [&] { return task->state != Task::Pending; }))
            break;
        bool queue = false;
        {
            std::lock_guard q(m_QueueMutex);
            queue = m_LineMoving;
        }
        if (queue || std::chrono::steady_clock::now() >= deadline) {
            task->state = Task::Expired;  // never runs now
            if (!queue) return CommandResult::Error(CommandStatus::Busy, kBusyMessage);
            lock.unlock();
            CommandResult accepted;
            {
                std::lock_guard q(m_QueueMutex);
                Queued item{slot, m_NextMove++, std::max(std::chrono::steady_clock::now(), m_LineFree), std::move(check),
                            std::move(body)};
                accepted.moveSequence = item.sequence;
                // A newer request replaces the one waiting for the same device.
                std::erase_if(m_Queue, [slot](const Queued& q) { return q.slot == slot; });
                m_Queue.push_back(std::move(item));
                if (!m_LineMoving) {
                    // The line came free meanwhile: make sure the queue is looked at.
                    PostRunQueued();
                }
            }
            PublishQueue();
            return accepted;
        }
    }
    lock.unlock();
    std::unique_lock done(task->mutex);
    task->changed.wait(done, [&] { return task->done; });
    return task->result;
}

CommandResult DeviceService::Connect(ClientId client, DeviceKind kind) {
    return ExecuteCommand([client, kind](OrnFilterWheel& fw) {
        if (!fw.ConnectMulti(client))
            return CommandResult::Error(CommandStatus::Failed, "The controller was not found or did not answer");
        if (!ModeFits(kind, fw.Mode)) {
            fw.DisconnectMulti(client);
            char text[160];
            std::snprintf(text, sizeof text, "The controller's mode (%d) does not fit %s", static_cast<int>(fw.Mode),
                          KindName(kind));
            return CommandResult::Error(CommandStatus::WrongMode, text);
        }
        return CommandResult::Success();
    });
}

CommandResult DeviceService::Disconnect(ClientId client) {
    return ExecuteCommand([this, client](OrnFilterWheel& fw) {
        // The last holder closes the link: a heater set point still waiting is written first.
        if (fw.IsClient(client) && fw.ClientSet.size() <= 1) FlushHeaterSetPoint(false);
        if (fw.IsClient(client)) fw.DisconnectMulti(client);
        return CommandResult::Success();
    });
}

namespace {
// What StartMove's check returns for a move that need not run.
CommandResult NothingToDo() {
    CommandResult r;
    r.moveSequence = ~std::uint64_t{0};
    return r;
}
} // namespace

CommandResult DeviceService::SelectFilter(int position) {
    return StartMove(MoveKind::Wheel,
        [position](OrnFilterWheel& fw, int& target, MoveKind& kind) {
            kind = MoveKind::Wheel;
            if (!ModeFits(DeviceKind::FilterWheel, fw.Mode) || fw.FilterCount() <= 0)
                return CommandResult::Error(CommandStatus::NotAvailable, "The controller has no filter wheel");
            if (position < 0 || position >= fw.FilterCount())
                return CommandResult::Error(CommandStatus::InvalidValue, "No such filter position");
            target = position;
            if (position == fw.CurrentFilter) return NothingToDo();
            return CommandResult::Success();
        },
        [](OrnFilterWheel& fw, int target) { return SelectFilterWithRetry(fw, target); });
}

CommandResult DeviceService::HomeWheel() {
    return StartMove(MoveKind::Wheel,
        [](OrnFilterWheel& fw, int&, MoveKind& kind) {
            kind = MoveKind::Home;
            if (!ModeFits(DeviceKind::FilterWheel, fw.Mode))
                return CommandResult::Error(CommandStatus::NotAvailable, "The controller has no filter wheel");
            return CommandResult::Success();
        },
        [](OrnFilterWheel& fw, int) { return fw.Home(0); });
}

CommandResult DeviceService::MoveFocuser(int motor, std::int64_t clientPosition) {
    if (motor != 0 && motor != 1) return CommandResult::Error(CommandStatus::InvalidValue, "No such focuser");
    return StartMove(FocuserMoveKind(motor, Current()->mode),
            [motor, clientPosition](OrnFilterWheel& fw, int& target, MoveKind& kind) {
                kind = FocuserMoveKind(motor, fw.Mode);
                if (motor == 1 && !ModeFits(DeviceKind::Focuser2, fw.Mode))
                    return CommandResult::Error(CommandStatus::WrongMode, "The controller has no second focuser");
                const auto t = DeviceFocuserTarget(clientPosition, fw.AscomFocusShift);
                if (!t) return CommandResult::Error(CommandStatus::InvalidValue, "The position is out of range");
                target = *t;
                return CommandResult::Success();
            },
            [motor](OrnFilterWheel& fw, int target) { return fw.GoToPosition(target, motor); });
}

namespace {

CommandResult RotatorCheck(const RotatorTarget& t, int& target) {
    switch (t.error) {
    case RotatorTargetError::NoStepsPerTurn:
        return CommandResult::Error(CommandStatus::NotAvailable, "The rotator has no steps per turn (MaxSteps is 0)");
    case RotatorTargetError::NotANumber:
        return CommandResult::Error(CommandStatus::InvalidValue, "The angle is not a number");
    case RotatorTargetError::None: break;
    }
    target = t.steps;
    return CommandResult::Success();
}

bool RotatorMoveTo(OrnFilterWheel& fw, int target) {
    fw.Log("m_FW.GoToPosition(%i)\n", target);
    return fw.GoToPosition(target, 1);
}

} // namespace

CommandResult DeviceService::MoveRotatorAbsolute(float angle) {
    return StartMove(MoveKind::SecondMotor,
        [angle](OrnFilterWheel& fw, int& target, MoveKind& kind) {
            kind = MoveKind::SecondMotor;
            if (!ModeFits(DeviceKind::Rotator, fw.Mode))
                return CommandResult::Error(CommandStatus::WrongMode, "The controller is not in rotator mode");
            return RotatorCheck(RotatorAbsoluteTarget(angle, fw.MaxSteps, fw.RotatorReverse), target);
        },
        RotatorMoveTo);
}

CommandResult DeviceService::MoveRotatorMechanical(float angle) {
    return StartMove(MoveKind::SecondMotor,
        [angle](OrnFilterWheel& fw, int& target, MoveKind& kind) {
            kind = MoveKind::SecondMotor;
            if (!ModeFits(DeviceKind::Rotator, fw.Mode))
                return CommandResult::Error(CommandStatus::WrongMode, "The controller is not in rotator mode");
            return RotatorCheck(RotatorAbsoluteTarget(angle, fw.MaxSteps, false), target);
        },
        RotatorMoveTo);
}

CommandResult DeviceService::MoveRotatorRelative(float delta) {
    return StartMove(MoveKind::SecondMotor,
        [delta](OrnFilterWheel& fw, int& target, MoveKind& kind) {
            kind = MoveKind::SecondMotor;
            if (!ModeFits(DeviceKind::Rotator, fw.Mode))
                return CommandResult::Error(CommandStatus::WrongMode, "The controller is not in rotator mode");
            // A step from an unknown position would go anywhere: it is read first.
            std::int32_t from = 0;
            if (!PositionForRelativeMove(fw, 1, from))
                return CommandResult::Error(CommandStatus::Failed, "The rotator's position is unknown");
            return RotatorCheck(RotatorRelativeTarget(delta, from, fw.MaxSteps, fw.RotatorReverse), target);
        },
        RotatorMoveTo);
}

CommandResult DeviceService::MoveCover(bool open) {
    return StartMove(MoveKind::SecondMotor,
        [open](OrnFilterWheel& fw, int& target, MoveKind& kind) {
            kind = MoveKind::SecondMotor;
            if (!ModeFits(DeviceKind::Cover, fw.Mode))
                return CommandResult::Error(CommandStatus::WrongMode, "The controller is not in cover mode");
            std::int32_t from = 0;
            if (!PositionForRelativeMove(fw, 1, from))
                return CommandResult::Error(CommandStatus::Failed, "The cover's position is unknown");
            target = CoverMoveTarget(from, fw.MaxSteps, open);
            return CommandResult::Success();
        },
        [this, open](OrnFilterWheel& fw, int) {
            // The end is published with the state the move left; the status that follows
            // (at most a second later) takes over from it.
            const bool ok = MoveCoverTravel(fw, open);
            m_CoverEnd = !ok ? CoverStatus::Error : open ? CoverStatus::Open : CoverStatus::Closed;
            return ok;
        });
}

CommandResult DeviceService::WriteFilterName(int index, const std::string& name) {
    return ExecuteCommand([index, name](OrnFilterWheel& fw) {
        if (!fw.IsOpen()) return NotConnectedResult();
        if (index < 0 || index >= fw.FilterCount())
            return CommandResult::Error(CommandStatus::InvalidValue, "No such filter position");
        if (!fw.WriteFilterName(index, name))
            return CommandResult::Error(CommandStatus::Failed, "The filter name was not written");
        return CommandResult::Success();
    });
}

CommandResult DeviceService::SetTempComp(bool on) {
    return ExecuteCommand([on](OrnFilterWheel& fw) {
        if (!fw.IsOpen()) return NotConnectedResult();
        const int thermometer = on ? fw.AscomPreferredTermometer : -1;
        if (!fw.SetAutoComp(thermometer))
            return CommandResult::Error(CommandStatus::Failed, "Temperature compensation was not set");
        // The controller acknowledged it; readers need not wait for the next status.
        fw.Status().AutoComp = thermometer;
        return CommandResult::Success();
    });
}

CommandResult DeviceService::SetPreferredThermometer(int thermometer) {
    if (thermometer < -1 || thermometer >= kSensorCount)
        return CommandResult::Error(CommandStatus::InvalidValue, "There is no such thermometer");
    return Execute([this, thermometer](Task& task) {
        m_FW.AscomPreferredTermometer = thermometer;
        m_FW.SaveRegistrySettings();
        Publish();
        task.Complete(CommandResult::Success());
    });
}

CommandResult DeviceService::SetMaxFocusPosition(std::int32_t maximum) {
    if (maximum < 1) return CommandResult::Error(CommandStatus::InvalidValue, "The maximum position must be 1 or more");
    return Execute([this, maximum](Task& task) {
        m_FW.AscomMaxFocusPos = maximum;
        m_FW.SaveRegistrySettings();
        Publish();
        task.Complete(CommandResult::Success());
    });
}

CommandResult DeviceService::SetHeaterSetPoint(std::int16_t value) {
    return ExecuteCommand([this, value](OrnFilterWheel& fw) {
        if (!fw.IsOpen()) return NotConnectedResult();
        constexpr int offset = offsetof(EEFilterWheelData, HeaterSetPoint);
        if (offset + 2 > fw.m_MemorySize)
            return CommandResult::Error(CommandStatus::NotAvailable, "The controller's memory has no heater set point");
        if (fw.HeaterSetPoint == value) return CommandResult::Success();
        const SteadyTime now = fw.SteadyNow();
        if (!m_HeaterPending && (!m_HeaterWrittenAt || now - *m_HeaterWrittenAt >= kHeaterWriteInterval)) {
            if (!WriteHeaterSetPoint(value))
                return CommandResult::Error(CommandStatus::Failed, "The heater set point was not written");
            return CommandResult::Success();
        }
        // The memory was written less than an interval ago: the value waits for the rest of it,
        // replacing one that waits already. Non-volatile memory wears with every write.
        if (!m_HeaterPending) {
            m_HeaterInMemory = fw.HeaterSetPoint;
            const auto left = *m_HeaterWrittenAt + kHeaterWriteInterval - now;
            const auto wait = std::max(std::chrono::milliseconds(1),
                                       std::chrono::ceil<std::chrono::milliseconds>(left));
            m_HeaterTimer = m_Loop.AddTimer(wait, [this] { FlushHeaterSetPoint(true); });
        }
        m_HeaterPending = value;
        fw.HeaterSetPoint = value;
        return CommandResult::Success();
    });
}

bool DeviceService::WriteHeaterSetPoint(std::int16_t value) {
    constexpr int offset = offsetof(EEFilterWheelData, HeaterSetPoint);
    std::uint8_t bytes[2];
    PutU16(bytes, static_cast<std::uint16_t>(value));
    const bool ok = m_FW.WriteMemory(offset, 2, bytes);
    // A failed attempt counts too: it is the line and the memory that are spared.
    m_HeaterWrittenAt = m_FW.SteadyNow();
    if (ok) m_FW.HeaterSetPoint = value;
    return ok;
}

void DeviceService::FlushHeaterSetPoint(bool publish) {
    if (m_HeaterTimer != kNoTimer) {
        m_Loop.RemoveTimer(m_HeaterTimer);
        m_HeaterTimer = kNoTimer;
    }
    if (!m_HeaterPending) return;
    const std::int16_t value = *m_HeaterPending;
    // Without a link the next connection reads the memory again; back at the memory's value
    // there is nothing to write.
    if (!m_FW.IsOpen() || value == m_HeaterInMemory) {
        m_HeaterPending.reset();
        return;
    }
    if (m_FW.IsBusy() && publish) {
        // Another command holds the line: try again shortly.
        m_HeaterTimer = m_Loop.AddTimer(std::chrono::milliseconds(100), [this] { FlushHeaterSetPoint(true); });
        return;
    }
    m_HeaterPending.reset();
    if (!WriteHeaterSetPoint(value)) {
        m_FW.HeaterSetPoint = m_HeaterInMemory;  // readers see what the controller kept
        DebugOutput("velq3: the heater set point was not written to the controller's memory\n");
    }
    if (publish) Publish();
}

CommandResult DeviceService::SetRotatorReverse(bool reverse) {
    return ExecuteCommand([reverse](OrnFilterWheel& fw) {
        fw.RotatorReverse = reverse;
        return CommandResult::Success();
    });
}

CommandResult DeviceService::SetFocusPosition(int motor, int position) {
    return ExecuteCommand([motor, position](OrnFilterWheel& fw) {
        if (!fw.IsOpen()) return NotConnectedResult();
        if (motor != 0 && motor != 1) return CommandResult::Error(CommandStatus::InvalidValue, "No such motor");
        if (position < 0 || position > 0xFFFF)
            return CommandResult::Error(CommandStatus::InvalidValue, "The position is out of range");
        if (!fw.SetFocusPosition(position, motor))
            return CommandResult::Error(CommandStatus::Failed, "The position was not set");
        return CommandResult::Success();
    });
}

// ---- headless poll ----

void DeviceService::StartPoll() {
    if (m_PollTimer != kNoTimer) return;
    m_PollTimer = m_Loop.AddTimer(m_Options.pollInterval, [this] { PollOnce(); });
}

void DeviceService::StopPoll() {
    if (m_PollTimer == kNoTimer) return;
    m_Loop.RemoveTimer(m_PollTimer);
    m_PollTimer = kNoTimer;
}

bool DeviceService::PollOnce() {
    // A polling window has every second: it asks, or lets this service fill the ones it leaves.
    if (m_FW.PollingWindow != 0) return false;
    if (m_LastForeignStatus && m_FW.SteadyNow() - *m_LastForeignStatus < m_Options.foreignPollWindow) return false;
    return QueryStatus();
}

bool DeviceService::OtherClientHolds() const {
    return std::any_of(m_FW.ClientSet.begin(), m_FW.ClientSet.end(),
                       [window = m_FW.PollingWindow](ClientId c) { return c != window; });
}

void DeviceService::FillWindowSecond() {
    if (m_FillPending) return;
    m_FillPending = true;
    std::weak_ptr<bool> alive = m_Alive;
    m_Loop.PostTask([this, alive] {
        if (alive.expired()) return;
        m_FillPending = false;
        // With the window as the only holder there is nobody to ask for: its own poll shows
        // the status again once its dialog is closed.
        if (OtherClientHolds()) QueryStatus();
    });
}

bool DeviceService::QueryStatus() {
    if (!m_FW.IsOpen() || m_FW.IsBusy()) return false;
    m_InOwnPoll = true;
    bool answered = false;
    if (m_FW.m_bStatusPresent) {
        FWCurrentParameters s = EmptyStatus();
        answered = m_FW.GetAll(s);
    } else {
        // An older controller without the full status: the queries the window makes. A query
        // left without its answer may still get it late, and the next query would take that
        // for its own (a focuser position read as a temperature): the turn ends when a
        // position query fails, and the next turn's purge discards the late answer. (A
        // temperature query also fails for a missing sensor, so the others are still asked.)
        int value = 0;
        const auto ask = [&answered](bool ok) {
            answered = answered || ok;
            return ok;
        };
        bool going = !m_FW.m_bWheelPresent || ask(m_FW.GetFilter(value));
        if (going && m_FW.m_bFocuserPresent) {
            going = ask(m_FW.GetFocus(value, 0));
            if (going && m_FW.TwoMotorForm()) going = ask(m_FW.GetFocus(value, 1));
            const int sensors = std::min<int>(m_FW.SensorCount, kSensorCount);
            for (int k = 0; going && k < sensors; ++k) {
                float t = 0;
                ask(m_FW.GetTemperature(k, t));
            }
        }
        if (answered) m_FW.NoteAnswer();
    }
    m_InOwnPoll = false;
    Publish();
    return answered;
}

// ---- owner thread of its own ----

ServiceThread::ServiceThread(DeviceEnvironment env, ServiceOptions options) : m_Loop(std::make_unique<PollMainLoop>()) {
    env.loop = m_Loop.get();
    std::promise<void> ready;
    auto started = ready.get_future();
    m_Thread = std::thread([this, env = std::move(env), options, ready = std::move(ready)]() mutable {
        try {
            m_Device = std::make_unique<OrnFilterWheel>(std::move(env));
            m_Service = std::make_unique<DeviceService>(*m_Device, *m_Loop, options);
            m_Service->StartPoll();
            ready.set_value();
        } catch (...) {
            ready.set_exception(std::current_exception());
            return;
        }
        for (;;) {
            try {
                m_Loop->Run();
                break;
            } catch (const std::exception& e) {
                std::fprintf(stderr, "velq3: device service: %s\n", e.what());
            }
        }
        m_Service.reset();
        m_Device.reset();  // closes the link and saves the settings on the owner thread
    });
    try {
        started.get();
    } catch (...) {
        m_Thread.join();
        throw;
    }
}

ServiceThread::~ServiceThread() {
    m_Loop->Quit();
    if (m_Thread.joinable()) m_Thread.join();
}

void ServiceThread::Invoke(const std::function<void(OrnFilterWheel&)>& fn) {
    std::promise<void> done;
    auto finished = done.get_future();
    m_Loop->PostTask([&] {
        fn(*m_Device);
        done.set_value();
    });
    finished.get();
}

} // namespace velq3
