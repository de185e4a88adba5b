// Sleeping on Linux, on the monotonic clock.
#include "platform/Stopwatch.h"

#include <thread>

namespace velq3 {

void SleepMs(int ms) {
    if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

} // namespace velq3
