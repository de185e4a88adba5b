// The shared command sequences.
#include "device/DeviceMoves.h"

#include "platform/Stopwatch.h"

namespace velq3 {

bool SelectFilterWithRetry(OrnFilterWheel& fw, int position) {
    if (fw.SelectFilter(position)) return true;
    SleepMs(kSelectFilterRetryDelayMs);
    return fw.SelectFilter(position);
}

bool MoveCoverTravel(OrnFilterWheel& fw, bool open) {
    const int travel = fw.MaxSteps;
    const int target = CoverMoveTarget(fw.Focus2Pos, travel, open);
    fw.Log("m_FW.GoToPosition(%i)\n", target);
    if (!fw.GoToPosition(target, 1)) return false;
    fw.SetFocusPosition(CoverEndPosition(travel, open), 1);  // the counter follows the travel; its result is not needed
    return true;
}

} // namespace velq3
