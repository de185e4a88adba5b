// The shared command sequences.
#include "device/DeviceMoves.h"

#include "platform/Stopwatch.h"

namespace velq3 {

bool SelectFilterWithRetry(OrnFilterWheel& fw, int position) {
    if (fw.SelectFilter(position)) return true;
    SleepMs(kSelectFilterRetryDelayMs);
    return fw.SelectFilter(position);
}

bool PositionForRelativeMove(OrnFilterWheel& fw, int focuser, std::int32_t& position) {
    const auto stored = [&fw, focuser] { return focuser != 0 && fw.TwoMotorForm() ? fw.Focus2Pos : fw.FocusPos; };
    if (int read = 0; !PositionKnown(stored()) && !fw.GetFocus(read, focuser)) return false;
    position = stored();
    return PositionKnown(position);
}

bool MoveCoverTravel(OrnFilterWheel& fw, bool open) {
    const int travel = fw.MaxSteps;
    std::int32_t from = 0;
    if (!PositionForRelativeMove(fw, 1, from)) return false;
    const int target = CoverMoveTarget(from, travel, open);
    fw.Log("m_FW.GoToPosition(%i)\n", target);
    if (!fw.GoToPosition(target, 1)) return false;
    fw.SetFocusPosition(CoverEndPosition(travel, open), 1);  // the counter follows the travel; its result is not needed
    // With end-stop sensors the shutter's state is the switch bits of the status: read them
    // now, so that a client asking right after the move does not see the bits from before it.
    if (fw.HomeMark != 0) {
        FWCurrentParameters status;
        fw.GetAll(status);  // a failed read keeps the previous status, as a failed poll does
    }
    return true;
}

} // namespace velq3
