// Link benchmarks: a full "FWAll" status exchange against the simulator paced at 9600 baud,
// beside the wire time of its bytes, and how soon a byte written by the far side is returned
// by a read.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "common/SimProcess.h"
#include "link/DeviceLink.h"

namespace {

using Clock = std::chrono::steady_clock;

double Percentile(std::vector<double> v, double p) {
    std::sort(v.begin(), v.end());
    return v[static_cast<size_t>(p * static_cast<double>(v.size() - 1))];
}

int StatusExchange(int rounds) {
    velq3::test::SimProcess sim({"--realtime"});
    velq3::CFilterTable filters;
    velq3::CTimeLogFile log;
    velq3::CDeviceLink link(filters, log);
    link.m_hPort = velq3::OpenSerialPort(sim.ttyPath(), 9600);
    if (link.m_hPort == velq3::kNoPort) return 1;
    // The block length the simulator announces, read once by hand.
    std::uint8_t announced = 0;
    velq3::Transact(link.m_hPort, "FWAll", &announced, 1);
    velq3::SleepMs(100);
    velq3::PurgePort(link.m_hPort);
    const int len = announced;
    std::vector<double> ms;
    for (int i = 0; i < rounds; ++i) {
        velq3::FWCurrentParameters s = velq3::EmptyStatus();
        auto t0 = Clock::now();
        if (!link.GetAll(s)) {
            std::fprintf(stderr, "FWAll failed\n");
            return 1;
        }
        ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
    }
    // 10 bits a byte at 9600 baud: the command word, the length byte and the block.
    const double wire = (5 + 1 + len) * 10.0 * 1000.0 / 9600.0;
    const double median = Percentile(ms, 0.5);
    std::printf("FWAll exchange (realtime simulator, %d rounds): median %.2f ms, p90 %.2f ms, max %.2f ms\n", rounds,
                median, Percentile(ms, 0.9), *std::max_element(ms.begin(), ms.end()));
    std::printf("  wire time of its %d bytes: %.2f ms; target at most wire + 12 ms = %.2f ms: %s\n", 5 + 1 + len, wire,
                wire + 12, median <= wire + 12 ? "met" : "MISSED");
    velq3::SerialClose(link.m_hPort);
    return median <= wire + 12 ? 0 : 1;
}

int ByteLatency(int rounds) {
    int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    ::grantpt(master);
    ::unlockpt(master);
    char name[128] = {};
    ::ptsname_r(master, name, sizeof name);
    termios tio{};
    ::tcgetattr(master, &tio);
    ::cfmakeraw(&tio);
    ::tcsetattr(master, TCSANOW, &tio);
    velq3::PortHandle h = velq3::OpenSerialPort(name, 9600);
    std::vector<double> ms;
    for (int i = 0; i < rounds; ++i) {
        std::atomic<long long> sentAt{0};
        std::thread writer([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
            sentAt = Clock::now().time_since_epoch().count();
            unsigned char c = 'x';
            (void)!::write(master, &c, 1);
        });
        unsigned char c = 0;
        size_t got = velq3::ReadBytes(h, &c, 1);
        auto seen = Clock::now().time_since_epoch().count();
        writer.join();
        if (got == 1) ms.push_back(static_cast<double>(seen - sentAt.load()) / 1e6);
    }
    velq3::SerialClose(h);
    ::close(master);
    const double median = Percentile(ms, 0.5);
    std::printf("Reply byte seen after it was sent (%zu rounds): median %.3f ms, p99 %.3f ms, max %.3f ms; target median "
                "under 1 ms: %s\n",
                ms.size(), median, Percentile(ms, 0.99), *std::max_element(ms.begin(), ms.end()),
                median < 1.0 ? "met" : "MISSED");
    return median < 1.0 ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    int rounds = argc > 1 ? std::atoi(argv[1]) : 50;
    int rc = StatusExchange(rounds);
    rc |= ByteLatency(rounds * 10);
    return rc;
}
