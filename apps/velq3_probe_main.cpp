// velq3-probe: connects to a controller on a terminal device, reads its memory image and
// filter names, then prints a live status line once a second.
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>

#include "link/DeviceLink.h"
#include "platform/PortMap.h"
#include "platform/Stopwatch.h"

namespace {

volatile std::sig_atomic_t g_stop = 0;

void OnSignal(int) { g_stop = 1; }

void Usage() {
    std::puts("usage: velq3-probe [--count N] DEVICE|COMn\n"
              "  Reads the controller on DEVICE (a terminal path, or COMn for the port table)\n"
              "  and prints its status once a second, N times (default: until interrupted).");
}

std::string Temps(const velq3::FWCurrentParameters& s, int sensors) {
    std::string out;
    char buf[32];
    for (int k = 0; k < sensors && k < velq3::kSensorCount; ++k) {
        if (s.Temp[k] == velq3::kNoTemperature) std::snprintf(buf, sizeof buf, " T%d=--", k);
        else std::snprintf(buf, sizeof buf, " T%d=%.2f", k, static_cast<double>(s.Temp[k]));
        out += buf;
    }
    return out;
}

} // namespace

int main(int argc, char** argv) {
    std::string device;
    long count = -1;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--help" || a == "-h") {
            Usage();
            return 0;
        } else if (a == "--count" && i + 1 < argc) {
            count = std::strtol(argv[++i], nullptr, 10);
        } else {
            device = a;
        }
    }
    if (device.empty()) {
        Usage();
        return 2;
    }
    if (device.rfind("COM", 0) == 0) device = velq3::DevicePathForPort(std::atoi(device.c_str() + 3));

    std::signal(SIGINT, OnSignal);
    std::signal(SIGTERM, OnSignal);

    velq3::CFilterTable filters;
    velq3::CTimeLogFile log;
    velq3::CDeviceLink link(filters, log);
    link.m_hPort = velq3::OpenSerialPort(device, 9600);
    if (link.m_hPort == velq3::kNoPort) {
        std::fprintf(stderr, "velq3-probe: cannot open %s\n", device.c_str());
        return 1;
    }
    int size = velq3::kDefaultMemorySize;
    if (!link.GetMemorySize(size)) size = velq3::kDefaultMemorySize;
    link.m_MemorySize = size;
    if (!link.ReadMemory(0, size, link.ImageBytes())) {
        std::fprintf(stderr, "velq3-probe: no answer from %s\n", device.c_str());
        velq3::SerialClose(link.m_hPort);
        return 1;
    }
    link.FiltersFromImage();
    std::printf("Connected to %s: memory %d bytes, mode %d, %d sensor(s)\n", device.c_str(), size, link.Mode,
                link.SensorCount);
    for (size_t i = 0; i < filters.Filters.size(); ++i)
        std::printf("  filter %zu: %-8s offset %d\n", i, filters.Filters[i].Name.c_str(), filters.Filters[i].FocuserPos);

    for (long n = 0; !g_stop && (count < 0 || n < count); ++n) {
        velq3::FWCurrentParameters s = velq3::EmptyStatus();
        if (link.GetAll(s)) {
            std::printf("filter=%d focus=%d%s%s Vin=%.2f Out=%.1f%% Sw=%X\n", s.FilterPos, s.FocusPos,
                        s.FocusDir > 0 ? "U" : "D", Temps(s, link.SensorCount).c_str(), static_cast<double>(s.Vin),
                        static_cast<double>(s.Out), s.Sw & 0x0F);
        } else {
            std::printf("status: ???\n");
        }
        std::fflush(stdout);
        if (count < 0 || n + 1 < count) velq3::SleepMs(1000);
    }
    velq3::SerialClose(link.m_hPort);
    return 0;
}
