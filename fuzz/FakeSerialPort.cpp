// Stand-ins for platform/linux/SerialPort.cpp and SleepMs (platform/linux/Stopwatch.cpp) in
// the fuzz targets: no device, no waiting.
#include "fuzz/FakeSerialPort.h"

#include <algorithm>
#include <cstring>

#include "platform/Stopwatch.h"

namespace velq3 {
namespace {

struct Line {
    const std::uint8_t* data = nullptr;
    std::size_t size = 0;
    std::size_t pos = 0;
    std::uint8_t filler = 0;
    bool silentOnce = false;  // the read after the last byte returned nothing
    std::vector<std::uint8_t> written;
};

Line& TheLine() {
    static Line line;
    return line;
}

} // namespace

namespace fuzz {

void LoadReplies(const std::uint8_t* data, std::size_t size, std::uint8_t filler) {
    Line& l = TheLine();
    l.data = data;
    l.size = size;
    l.pos = 0;
    l.filler = filler;
    l.silentOnce = false;
    l.written.clear();
}

bool RepliesUsedUp() { return TheLine().pos == TheLine().size; }

const std::vector<std::uint8_t>& Written() { return TheLine().written; }

} // namespace fuzz

PortHandle SerialOpen(const std::string&, int, std::string*) { return fuzz::kFakePort; }

size_t SerialRead(PortHandle h, void* buf, size_t n, const SerialTimeouts&) {
    if (h == kNoPort || n == 0) return 0;
    Line& l = TheLine();
    auto* out = static_cast<std::uint8_t*>(buf);
    if (l.pos < l.size) {
        const std::size_t k = std::min(n, l.size - l.pos);
        std::memcpy(out, l.data + l.pos, k);
        l.pos += k;
        return k;
    }
    if (!l.silentOnce) {
        l.silentOnce = true;
        return 0;
    }
    std::memset(out, l.filler, n);
    return n;
}

size_t SerialWrite(PortHandle h, const void* buf, size_t n, const SerialTimeouts&) {
    if (h == kNoPort) return 0;
    const auto* in = static_cast<const std::uint8_t*>(buf);
    Line& l = TheLine();
    // Bounded: a target that loops must not grow this without end.
    if (l.written.size() < (1u << 16)) l.written.insert(l.written.end(), in, in + n);
    return n;
}

bool SerialDrain(PortHandle h) { return h != kNoPort; }
void SerialPurge(PortHandle) {}
// The fake line never goes away: every reply comes from the fuzz input.
bool SerialHungUp(PortHandle) { return false; }
void SerialClose(PortHandle) {}

void SleepMs(int) {}

} // namespace velq3
