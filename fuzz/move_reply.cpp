// The reports of the moves: a filter change ('0' + slot, '/' for a failure, foreign messages of
// 'F' and 12 characters in between), a focuser move and homing ('!'). The first input byte
// picks the move and its target; the rest is what the controller sends while it runs.
#include "fuzz/LinkBench.h"

using namespace velq3;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    const std::uint8_t pick = data[0];
    const std::uint8_t current = data[1];
    fuzz::LinkBench bench;
    CDeviceLink& link = bench.link;
    const int count = 1 + (pick >> 4) % 10;  // 1..10 filters
    bench.filters.Filters.resize(static_cast<std::size_t>(count));
    bench.filters.CurrentFilter = static_cast<int>(current % (count + 1)) - 1;  // -1..count-1
    link.ChangeFilterTimeoutMs = 50;
    const std::uint8_t* replies = data + 2;
    const std::size_t n = size - 2;
    switch (pick % 4) {
    case 0: {
        const int target = (pick >> 2) % count;
        fuzz::LoadReplies(replies, n, '/');
        const bool ok = link.SelectFilter(target);
        FUZZ_CHECK(bench.filters.CurrentFilter == (ok ? target : -1));
        break;
    }
    case 1:
    case 2: {
        const int focuser = pick % 4 == 2;
        link.Mode = static_cast<std::int8_t>(focuser ? 0 : 5);
        link.FocuserSpeed = static_cast<std::uint16_t>(current * 4);
        std::int32_t& position = focuser ? link.Focus2Pos : link.FocusPos;
        position = (current & 1) ? kPositionNotRead : 1000;
        const int target = (pick >> 2) * 97;
        fuzz::LoadReplies(replies, n, '!');
        const bool ok = link.GoToPosition(target, focuser);
        // After a failure the position is unknown until it is read again.
        FUZZ_CHECK(position == (ok ? target : kPositionNotRead));
        break;
    }
    case 3: {
        fuzz::LoadReplies(replies, n, '!');
        if (!link.Home(0)) FUZZ_CHECK(bench.filters.CurrentFilter == -1);
        break;
    }
    }
    return 0;
}
