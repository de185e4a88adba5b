// Filter wheel members: names and offsets from the filter list, the position from the snapshot
// (-1 while the wheel turns), a new position started on the owner thread and answered at once.
#include "alpaca/FilterWheelDevice.h"

namespace velq3::alpaca {

FilterWheelDevice::FilterWheelDevice(DeviceService& service, std::uint32_t number)
    : ServiceDevice(DeviceIdentity{"filterwheel", "FilterWheel", number, 3, "velq3 filter wheel",
                                   "Filter wheel of the velq3 controller"},
                    service, DeviceKind::FilterWheel) {
    AddGet("focusoffsets", Json::array(), [this](const Params&) { return GetFocusOffsets(); });
    AddGet("names", Json::array(), [this](const Params&) { return GetNames(); });
    AddGet("position", -1, [this](const Params&) { return GetPosition(); });
    AddPut("position", [this](const Params& p) { return PutPosition(p); });
}

Outcome FilterWheelDevice::GetFocusOffsets() {
    const auto snap = Snap();
    return Outcome::Of(snap->focusOffsets);
}

Outcome FilterWheelDevice::GetNames() {
    const auto snap = Snap();
    Json names = Json::array();
    // Clients expect a name for every slot: an empty one reads as its slot number.
    for (std::size_t i = 0; i < snap->filterNames.size(); ++i)
        names.push_back(snap->filterNames[i].empty() ? "Filter " + std::to_string(i + 1) : snap->filterNames[i]);
    return Outcome::Of(std::move(names));
}

Outcome FilterWheelDevice::GetPosition() {
    Outcome error;
    const auto snap = Reading(error);
    if (!snap) return error;
    // -1 tells a client that the wheel turns; after a failed change it would wait for the end
    // of a move that is over. The slot stays unknown until a status query or a move finds it.
    const MoveOutcome& last = snap->lastMove;
    if (snap->currentFilter < 0 && !snap->Moving() && last.sequence != 0 && !last.ok &&
        (last.kind == MoveKind::Wheel || last.kind == MoveKind::Home))
        return Outcome::Error(ErrorCode::DeviceFailure, "The filter change failed; the wheel's position is unknown");
    return Outcome::Of(snap->currentFilter);
}

Outcome FilterWheelDevice::PutPosition(const Params& params) {
    std::int32_t position = 0;
    if (auto bad = RequireInt(params, "Position", position)) return *bad;
    const int count = Snap()->filterCount;
    if (position < 0 || position >= count)
        return Outcome::Error(ErrorCode::InvalidValue,
                              "Position " + std::to_string(position) + " is outside 0.." + std::to_string(count - 1));
    return FromCommand(m_Service.SelectFilter(position));
}

Json FilterWheelDevice::DeviceStateItems() {
    return Json::array({StateItem("Position", Snap()->currentFilter)});
}

} // namespace velq3::alpaca
