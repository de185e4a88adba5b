// Timer bookkeeping shared by the main-loop bindings.
#pragma once

#include <algorithm>
#include <chrono>

namespace velq3::detail {

template <typename Duration>
Duration AtLeastOneMs(std::chrono::milliseconds interval) {
    return std::chrono::duration_cast<Duration>(std::max(interval, std::chrono::milliseconds(1)));
}

// The timer with the smallest due time not after `limit`, the older one on a tie; end() if none.
template <typename Map, typename Time>
typename Map::iterator NextDue(Map& timers, Time limit) {
    auto best = timers.end();
    for (auto it = timers.begin(); it != timers.end(); ++it) {
        if (it->second.due > limit) continue;
        if (best == timers.end() || it->second.due < best->second.due) best = it;
    }
    return best;
}

}  // namespace velq3::detail
