// Cover members over the shared cover rule; the calibrator is not present, so its members
// answer 0x400 and CalibratorState reads NotPresent.
#include "alpaca/CoverCalibratorDevice.h"

namespace velq3::alpaca {

namespace {

constexpr int kCalibratorNotPresent = 0;

Outcome NoCalibrator() { return Outcome::Error(ErrorCode::NotImplemented, "The cover has no calibrator"); }

} // namespace

CoverState ToCoverState(CoverStatus status) {
    switch (status) {
    case CoverStatus::Open: return CoverState::Open;
    case CoverStatus::Closed: return CoverState::Closed;
    case CoverStatus::Opening:
    case CoverStatus::Closing: return CoverState::Moving;
    case CoverStatus::Error: return CoverState::Error;
    }
    return CoverState::Unknown;
}

CoverState ToCoverState(const Snapshot& snap) {
    return snap.CoverPositionUnknown() ? CoverState::Unknown : ToCoverState(snap.Cover());
}

CoverCalibratorDevice::CoverCalibratorDevice(DeviceService& service, std::uint32_t number)
    : ServiceDevice(DeviceIdentity{"covercalibrator", "CoverCalibrator", number, 2, "velq3 cover",
                                   "Telescope cover of the velq3 controller"},
                    service, DeviceKind::Cover) {
    AddGet("coverstate", static_cast<int>(CoverState::Unknown), [this](const Params&) {
        Outcome error;
        const auto snap = Reading(error);
        return snap ? Outcome::Of(static_cast<int>(ToCoverState(*snap))) : error;
    });
    AddGet("covermoving", false, [this](const Params&) {
        Outcome error;
        const auto snap = Reading(error);
        return snap ? Outcome::Of(snap->Moving(MoveKind::SecondMotor)) : error;
    });
    AddPut("opencover", [this](const Params&) { return FromCommand(m_Service.MoveCover(true)); });
    AddPut("closecover", [this](const Params&) { return FromCommand(m_Service.MoveCover(false)); });
    AddPut("haltcover", [this](const Params&) {
        // A move still waiting for the line is dropped; a running one cannot be stopped.
        if (m_Service.DropQueuedMove(MoveKind::SecondMotor) && !Snap()->Moving(MoveKind::SecondMotor))
            return Outcome::Done();
        return Outcome::Error(ErrorCode::NotImplemented, "The controller cannot stop the cover");
    });
    AddGet("calibratorstate", kCalibratorNotPresent, [](const Params&) { return Outcome::Of(kCalibratorNotPresent); });
    AddGet("calibratorchanging", false, [](const Params&) { return Outcome::Of(false); });
    AddGet("brightness", 0, [](const Params&) { return NoCalibrator(); });
    AddGet("maxbrightness", 0, [](const Params&) { return NoCalibrator(); });
    AddPut("calibratoron", [](const Params& p) {
        std::int32_t brightness = 0;
        if (auto bad = RequireInt(p, "Brightness", brightness)) return *bad;
        return NoCalibrator();
    });
    AddPut("calibratoroff", [](const Params&) { return NoCalibrator(); });
}

Json CoverCalibratorDevice::DeviceStateItems() {
    const auto snap = Snap();
    return Json::array({StateItem("CalibratorState", kCalibratorNotPresent),
                        StateItem("CoverState", static_cast<int>(ToCoverState(*snap))),
                        StateItem("CalibratorChanging", false),
                        StateItem("CoverMoving", snap->Moving(MoveKind::SecondMotor))});
}

} // namespace velq3::alpaca
