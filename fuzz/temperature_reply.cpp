// The single-value queries: temperatures of the four sensors, and beside them the focuser
// position and direction, the compensation sensor, the supply voltage and the filter, asked
// in turn as the window's refresh asks them.
#include <cmath>

#include "fuzz/LinkBench.h"

using namespace velq3;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::LinkBench bench;
    fuzz::LoadReplies(data, size, '!');
    CDeviceLink& link = bench.link;
    for (int step = 0; step < 64 && !fuzz::RepliesUsedUp(); ++step) {
        switch (step % 9) {
        case 0: case 1: case 2: case 3: {
            const int sensor = step % 9;
            float celsius = 0;
            if (link.GetTemperature(sensor, celsius)) {
                FUZZ_CHECK(std::isfinite(celsius) && std::fabs(celsius) <= 327.68f);
                FUZZ_CHECK(link.Temp[sensor] == celsius);
            } else {
                FUZZ_CHECK(link.Temp[sensor] == kNoTemperature);
            }
            break;
        }
        case 4: {
            int position = 0;
            if (link.GetFocus(position, step & 1)) FUZZ_CHECK(position >= -32768 && position <= 32767);
            break;
        }
        case 5: {
            int direction = 0;
            if (link.GetFocusDirection(direction, 0)) FUZZ_CHECK(direction == 1 || direction == -1);
            break;
        }
        case 6: {
            int sensor = 0;
            (void)link.GetAutoComp(sensor);
            break;
        }
        case 7: {
            float volts = 0, percent = 0;
            if (link.GetVolt(volts, percent)) FUZZ_CHECK(percent >= 0 && percent < 100);
            break;
        }
        case 8: {
            int position = 0;
            if (link.GetFilter(position)) FUZZ_CHECK(position >= -1 && position <= 10);
            FUZZ_CHECK(bench.filters.CurrentFilter >= -1 && bench.filters.CurrentFilter <= 10);
            break;
        }
        }
        fuzz::CheckSettings(link);
    }
    return 0;
}
