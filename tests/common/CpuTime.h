// CPU time used so far, for checking that waiting code sleeps instead of spinning.
#pragma once

#include <sys/resource.h>

namespace velq3::test {

// User plus system time of the calling thread (RUSAGE_THREAD) or process, in milliseconds.
inline double CpuMs(int who = RUSAGE_THREAD) {
    rusage u{};
    getrusage(who, &u);
    return (u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1e3 + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e3;
}

} // namespace velq3::test
