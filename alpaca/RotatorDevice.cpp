// Rotator members: angles from the snapshot through the shared rotator rules, moves started on
// the owner thread and answered at once.
#include "alpaca/RotatorDevice.h"

#include <cmath>

namespace velq3::alpaca {

RotatorDevice::RotatorDevice(DeviceService& service, std::uint32_t number, double syncOffset,
                             std::function<void(double)> storeOffset)
    : ServiceDevice(DeviceIdentity{"rotator", "Rotator", number, 4, "velq3 rotator",
                                   "Field rotator of the velq3 controller (second motor)"},
                    service, DeviceKind::Rotator),
      m_StoreOffset(std::move(storeOffset)), m_SyncOffset(std::isfinite(syncOffset) ? WrapDegrees(syncOffset) : 0.0) {
    AddGet("canreverse", true, [](const Params&) { return Outcome::Of(true); });
    AddGet("ismoving", false, [this](const Params&) {
        Outcome error;
        const auto snap = Reading(error);
        return snap ? Outcome::Of(snap->Moving(MoveKind::SecondMotor)) : error;
    });
    AddGet("mechanicalposition", 0.0, [this](const Params&) { return GetAngle(true); });
    AddGet("position", 0.0, [this](const Params&) { return GetAngle(false); });
    AddGet("reverse", false, [this](const Params&) { return Outcome::Of(Snap()->rotatorReverse); });
    AddPut("reverse", [this](const Params& p) {
        bool reverse = false;
        if (auto bad = RequireBool(p, "Reverse", reverse)) return *bad;
        return SetReverse(reverse);
    });
    AddGet("stepsize", 0.0, [this](const Params&) { return DoubleValue(Snap()->RotatorStepSize(), "StepSize"); });
    AddGet("targetposition", 0.0, [this](const Params&) { return GetTargetPosition(); });
    AddPut("halt", [this](const Params&) {
        // A move still waiting for the line is dropped; a running one cannot be stopped.
        if (m_Service.DropQueuedMove(MoveKind::SecondMotor) && !Snap()->Moving(MoveKind::SecondMotor))
            return Outcome::Done();
        return Outcome::Error(ErrorCode::NotImplemented, "The controller cannot stop a rotator move");
    });
    AddPut("move", [this](const Params& p) { return Move(p); });
    AddPut("moveabsolute", [this](const Params& p) { return MoveAbsolute(p); });
    AddPut("movemechanical", [this](const Params& p) { return MoveMechanical(p); });
    AddPut("sync", [this](const Params& p) { return Sync(p); });
}

double RotatorDevice::SkyPosition(const Snapshot& snap) const {
    std::lock_guard lock(m_Mutex);
    return WrapDegrees(static_cast<double>(snap.RotatorPosition()) + m_SyncOffset);
}

Outcome RotatorDevice::GetAngle(bool mechanical) {
    Outcome error;
    const auto snap = Reading(error);
    if (!snap) return error;
    // Lost by a failed move, or never carried by this controller's status.
    if (!PositionKnown(snap->status.Focus2Pos))
        return Outcome::Error(ErrorCode::NoValue, "The rotator's position is unknown");
    const double angle = mechanical ? WrapDegrees(snap->RotatorMechanicalPosition()) : SkyPosition(*snap);
    return DoubleValue(angle, mechanical ? "MechanicalPosition" : "Position");
}

Outcome RotatorDevice::GetTargetPosition() {
    Outcome error;
    const auto snap = Reading(error);
    if (!snap) return error;
    {
        std::lock_guard lock(m_Mutex);
        if (snap->Moving(MoveKind::SecondMotor) && m_Target) return Outcome::Of(*m_Target);
    }
    if (!PositionKnown(snap->status.Focus2Pos))
        return Outcome::Error(ErrorCode::NoValue, "The rotator's position is unknown");
    return DoubleValue(SkyPosition(*snap), "TargetPosition");
}

std::optional<Outcome> RotatorDevice::RequireAngle(const Params& params, double& angle) {
    if (auto bad = RequireDouble(params, "Position", angle)) return bad;
    if (angle < 0.0 || angle >= 360.0) return Outcome::Error(ErrorCode::InvalidValue, "The angle must be in 0..360");
    return std::nullopt;
}

Outcome RotatorDevice::StartMove(const CommandResult& result, double skyTarget) {
    if (result.Ok()) {
        std::lock_guard lock(m_Mutex);
        m_Target = WrapDegrees(skyTarget);
    }
    return FromCommand(result);
}

Outcome RotatorDevice::Move(const Params& params) {
    double delta = 0.0;
    if (auto bad = RequireDouble(params, "Position", delta)) return *bad;
    // One turn at most either way; more is taken as a mistake rather than wound round.
    if (std::fabs(delta) >= 360.0) return Outcome::Error(ErrorCode::InvalidValue, "A relative move must be below 360 degrees");
    const double from = SkyPosition(*Snap());
    return StartMove(m_Service.MoveRotatorRelative(static_cast<float>(delta)), from + delta);
}

Outcome RotatorDevice::MoveAbsolute(const Params& params) {
    double angle = 0.0;
    if (auto bad = RequireAngle(params, angle)) return *bad;
    double offset;
    {
        std::lock_guard lock(m_Mutex);
        offset = m_SyncOffset;
    }
    return StartMove(m_Service.MoveRotatorAbsolute(static_cast<float>(WrapDegrees(angle - offset))), angle);
}

Outcome RotatorDevice::MoveMechanical(const Params& params) {
    double angle = 0.0;
    if (auto bad = RequireAngle(params, angle)) return *bad;
    const auto snap = Snap();
    // The sky angle the mechanical one will show: mirrored when reversed, plus the offset.
    double offset;
    {
        std::lock_guard lock(m_Mutex);
        offset = m_SyncOffset;
    }
    const double sky = (snap->rotatorReverse ? 360.0 - angle : angle) + offset;
    return StartMove(m_Service.MoveRotatorMechanical(static_cast<float>(angle)), sky);
}

Outcome RotatorDevice::SetReverse(bool reverse) {
    const auto before = Snap();
    const Outcome outcome = FromCommand(m_Service.SetRotatorReverse(reverse));
    double offset = 0.0;
    {
        // The camera did not turn: Position stays where it was.
        std::lock_guard lock(m_Mutex);
        const double was = m_SyncOffset;
        m_SyncOffset = RotatorOffsetAfterReverse(was, before->status.Focus2Pos, before->MaxSteps(), before->rotatorReverse,
                                                 Snap()->rotatorReverse);
        if (m_SyncOffset == was) return outcome;
        offset = m_SyncOffset;
    }
    if (m_StoreOffset) m_StoreOffset(offset);
    return outcome;
}

Outcome RotatorDevice::Sync(const Params& params) {
    double angle = 0.0;
    if (auto bad = RequireAngle(params, angle)) return *bad;
    const auto snap = Snap();
    const double device = snap->RotatorPosition();
    if (!std::isfinite(device)) return Outcome::Error(ErrorCode::InvalidOperation, "The rotator has no steps per turn");
    const double offset = WrapDegrees(angle - device);
    {
        std::lock_guard lock(m_Mutex);
        m_SyncOffset = offset;
        m_Target.reset();
    }
    if (m_StoreOffset) m_StoreOffset(offset);
    return Outcome::Done();
}

Json RotatorDevice::DeviceStateItems() {
    const auto snap = Snap();
    Json items = Json::array({StateItem("IsMoving", snap->Moving(MoveKind::SecondMotor))});
    if (snap->status.Focus2Pos == kPositionNotRead) return items;  // unknown after a failed move
    const double mechanical = WrapDegrees(snap->RotatorMechanicalPosition());
    const double sky = SkyPosition(*snap);
    if (std::isfinite(mechanical)) items.push_back(StateItem("MechanicalPosition", mechanical));
    if (std::isfinite(sky)) items.push_back(StateItem("Position", sky));
    return items;
}

} // namespace velq3::alpaca
