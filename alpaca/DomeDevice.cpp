// Dome members: ShutterStatus from the shared cover rule, Slewing while the cover moves, the
// shutter opened and closed by cover moves; the other capabilities answer 0x400.
#include "alpaca/DomeDevice.h"

namespace velq3::alpaca {

namespace {

Outcome NotImplemented(const std::string& what) {
    return Outcome::Error(ErrorCode::NotImplemented, "The dome has no " + what);
}

} // namespace

DomeDevice::DomeDevice(DeviceService& service, std::uint32_t number)
    : ServiceDevice(DeviceIdentity{"dome", "Dome", number, 3, "velq3 cover (dome shutter)",
                                   "Telescope cover of the velq3 controller as a dome shutter"},
                    service, DeviceKind::Cover) {
    for (const char* member : {"canfindhome", "canpark", "cansetaltitude", "cansetazimuth", "cansetpark", "canslave",
                               "cansyncazimuth"})
        AddGet(member, false, [](const Params&) { return Outcome::Of(false); });
    AddGet("cansetshutter", true, [](const Params&) { return Outcome::Of(true); });
    AddGet("slaved", false, [](const Params&) { return Outcome::Of(false); });
    AddPut("slaved", [](const Params& p) {
        bool slaved = false;
        if (auto bad = RequireBool(p, "Slaved", slaved)) return *bad;
        return slaved ? NotImplemented("slaving") : Outcome::Done();
    });
    AddGet("altitude", 0.0, [](const Params&) { return NotImplemented("altitude"); });
    AddGet("azimuth", 0.0, [](const Params&) { return NotImplemented("azimuth"); });
    AddGet("athome", false, [](const Params&) { return NotImplemented("home position"); });
    AddGet("atpark", false, [](const Params&) { return NotImplemented("park position"); });
    AddGet("shutterstatus", static_cast<int>(CoverStatus::Error), [this](const Params&) {
        Outcome error;
        const auto snap = Reading(error);
        return snap ? Outcome::Of(static_cast<int>(snap->Cover())) : error;
    });
    AddGet("slewing", false, [this](const Params&) {
        Outcome error;
        const auto snap = Reading(error);
        return snap ? Outcome::Of(snap->Moving(MoveKind::SecondMotor)) : error;
    });
    AddPut("abortslew", [this](const Params&) {
        // A move still waiting for the line is dropped; nothing else to abort unless the cover
        // moves, and the controller cannot stop it.
        m_Service.DropQueuedMove(MoveKind::SecondMotor);
        if (Snap()->Moving(MoveKind::SecondMotor))
            return Outcome::Error(ErrorCode::InvalidOperation, "The controller cannot stop the cover");
        return Outcome::Done();
    });
    AddPut("openshutter", [this](const Params&) { return FromCommand(m_Service.MoveCover(true)); });
    AddPut("closeshutter", [this](const Params&) { return FromCommand(m_Service.MoveCover(false)); });
    AddPut("findhome", [](const Params&) { return NotImplemented("home position"); });
    AddPut("park", [](const Params&) { return NotImplemented("park position"); });
    AddPut("setpark", [](const Params&) { return NotImplemented("park position"); });
    AddPut("slewtoaltitude", [](const Params& p) {
        double v = 0;
        if (auto bad = RequireDouble(p, "Altitude", v)) return *bad;
        return NotImplemented("altitude");
    });
    for (const char* member : {"slewtoazimuth", "synctoazimuth"}) {
        AddPut(member, [](const Params& p) {
            double v = 0;
            if (auto bad = RequireDouble(p, "Azimuth", v)) return *bad;
            return NotImplemented("azimuth");
        });
    }
}

Json DomeDevice::DeviceStateItems() {
    const auto snap = Snap();
    return Json::array({StateItem("ShutterStatus", static_cast<int>(snap->Cover())),
                        StateItem("Slewing", snap->Moving(MoveKind::SecondMotor))});
}

} // namespace velq3::alpaca
