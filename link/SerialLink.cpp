// The link primitives over the platform serial port.
#include "link/SerialLink.h"

#include "platform/Stopwatch.h"

namespace velq3 {

PortHandle OpenSerialPort(const std::string& path, int baudRate, std::string* error) {
    return SerialOpen(path, baudRate, error);
}

size_t ReadBytes(PortHandle h, void* buffer, size_t n) { return SerialRead(h, buffer, n); }

bool WriteByte(PortHandle h, std::uint8_t byte) { return SerialWrite(h, &byte, 1) == 1; }

bool WriteBytes(PortHandle h, const void* buffer, size_t n) { return SerialWrite(h, buffer, n) == n; }

bool WriteText(PortHandle h, std::string_view text) { return WriteBytes(h, text.data(), text.size()); }

size_t Transact(PortHandle h, std::string_view command, void* reply, size_t n) {
    if (!WriteText(h, command)) return 0;
    SerialDrain(h);
    return ReadBytes(h, reply, n);
}

size_t TransactWithPayload(PortHandle h, std::string_view command, const void* payload, size_t m,
                           void* reply, size_t n) {
    if (!WriteText(h, command)) return 0;
    if (!WriteBytes(h, payload, m)) return 0;
    SerialDrain(h);
    return ReadBytes(h, reply, n);
}

size_t ReadWithDeadline(PortHandle h, void* buffer, size_t n, int deadlineMs) {
    // Nothing to wait for: without a port or with nothing asked, a read returns at once and
    // the loop below would spin until the deadline.
    if (h == kNoPort || n == 0) return 0;
    Stopwatch sw;
    for (;;) {
        if (sw.ElapsedWholeMs() >= deadlineMs) return 0;
        // Each read waits up to its own time-out, which paces this loop.
        if (size_t got = ReadBytes(h, buffer, n); got > 0) return got;
        if (LineHungUp(h)) return 0;  // nothing will come on a line that is gone
    }
}

void PurgePort(PortHandle h) { SerialPurge(h); }

bool LineHungUp(PortHandle h) { return SerialHungUp(h); }

} // namespace velq3
