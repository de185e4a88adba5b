// Focuser members. Moves are absolute, clamped to 0..MaxStep, started on the owner thread and
// answered at once; IsMoving and Position come from the snapshot.
#include "alpaca/FocuserDevice.h"

#include <algorithm>
#include <cmath>

namespace velq3::alpaca {

FocuserDevice::FocuserDevice(DeviceService& service, std::uint32_t number, int motor)
    : ServiceDevice(DeviceIdentity{"focuser", "Focuser", number, 4,
                                   motor == 0 ? "velq3 focuser" : "velq3 second focuser",
                                   motor == 0 ? "Focuser of the velq3 controller"
                                              : "Second focuser of the velq3 controller (second motor)"},
                    service, motor == 0 ? DeviceKind::Focuser : DeviceKind::Focuser2),
      m_Motor(motor) {
    AddGet("absolute", true, [](const Params&) { return Outcome::Of(true); });
    AddGet("ismoving", false, [this](const Params&) {
        Outcome error;
        const auto snap = Reading(error);
        return snap ? Outcome::Of(IsMoving(*snap)) : error;
    });
    AddGet("maxincrement", 0, [this](const Params&) {
        const std::int32_t maxStep = Snap()->settings.AscomMaxFocusPos;
        return Outcome::Of(std::max<std::int32_t>(1, std::min(kFocuserMaxIncrement, maxStep)));
    });
    AddGet("maxstep", 0, [this](const Params&) { return Outcome::Of(Snap()->settings.AscomMaxFocusPos); });
    AddGet("position", 0, [this](const Params&) {
        Outcome error;
        const auto snap = Reading(error);
        if (!snap) return error;
        // Lost by a failed move until a status or the next move tells it, or never carried by
        // this controller's status.
        if (!PositionKnown(snap->MotorPosition(m_Motor)))
            return Outcome::Error(ErrorCode::NoValue, "The focuser's position is unknown");
        return Outcome::Of(snap->FocuserPosition(m_Motor));
    });
    AddGet("stepsize", 0.0, [this](const Params&) { return DoubleValue(Snap()->settings.StepLenInMicrons, "StepSize"); });
    AddGet("tempcomp", false, [this](const Params&) {
        return Outcome::Of(m_Motor == 0 && Snap()->status.AutoComp >= 0);
    });
    AddPut("tempcomp", [this](const Params& p) { return PutTempComp(p); });
    // Compensation follows a chosen thermometer; without one it cannot be turned on.
    AddGet("tempcompavailable", false, [this](const Params&) {
        return Outcome::Of(m_Motor == 0 && Snap()->settings.AscomPreferredTermometer >= 0);
    });
    AddGet("temperature", 0.0, [this](const Params&) { return GetTemperature(); });
    AddPut("halt", [this](const Params&) {
        // A move still waiting for the line is dropped; a running one cannot be stopped.
        const MoveKind kind = FocuserMoveKind(m_Motor, Snap()->mode);
        if (m_Service.DropQueuedMove(kind) && !Snap()->Moving(kind)) return Outcome::Done();
        return Outcome::Error(ErrorCode::NotImplemented, "The controller cannot stop a focuser move");
    });
    AddPut("move", [this](const Params& p) { return Move(p); });
}

Outcome FocuserDevice::GetTemperature() {
    Outcome error;
    const auto snap = Reading(error);
    if (!snap) return error;
    double celsius = 0.0;
    // The second focuser reports 0 without a reading, as its automation object does.
    if (!snap->Temperature(celsius) && m_Motor == 0)
        return Outcome::Error(ErrorCode::NoValue, "The thermometer has no reading");
    return DoubleValue(celsius, "Temperature");
}

Outcome FocuserDevice::PutTempComp(const Params& params) {
    bool on = false;
    if (auto bad = RequireBool(params, "TempComp", on)) return *bad;
    if (m_Motor != 0) {
        if (on) return Outcome::Error(ErrorCode::NotImplemented, "The second focuser has no temperature compensation");
        return Outcome::Done();
    }
    // Compensation is unavailable until a thermometer is chosen; clients expect "not
    // implemented" for turning on what is unavailable.
    if (on && Snap()->settings.AscomPreferredTermometer < 0)
        return Outcome::Error(ErrorCode::NotImplemented,
                              "No compensation thermometer is chosen: choose one on this focuser's setup page "
                              "(/setup/v1/focuser/" + std::to_string(Identity().number) +
                                  "/setup) or in the control window");
    return FromCommand(m_Service.SetTempComp(on));
}

Outcome FocuserDevice::Move(const Params& params) {
    std::int32_t position = 0;
    if (auto bad = RequireInt(params, "Position", position)) return *bad;
    // Targets beyond the travel stop at its ends, as clients expect of an absolute focuser.
    const std::int32_t maxStep = Snap()->settings.AscomMaxFocusPos;
    const std::int64_t target = std::clamp<std::int64_t>(position, 0, std::max<std::int32_t>(0, maxStep));
    return FromCommand(m_Service.MoveFocuser(m_Motor, target));
}

Json FocuserDevice::DeviceStateItems() {
    const auto snap = Snap();
    Json items = Json::array({StateItem("IsMoving", IsMoving(*snap))});
    if (snap->MotorPosition(m_Motor) != kPositionNotRead) items.push_back(StateItem("Position", snap->FocuserPosition(m_Motor)));
    double celsius = 0.0;
    if (snap->Temperature(celsius) && std::isfinite(celsius)) items.push_back(StateItem("Temperature", celsius));
    return items;
}

} // namespace velq3::alpaca
