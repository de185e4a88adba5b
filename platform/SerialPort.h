// Serial port access: exclusive open in 8N1 without flow control, and reads and writes whose
// time-outs follow the controller link's rules. Linux: a terminal device through termios.
// Windows: a COM port ("\\.\COMn") through the communications functions.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace velq3 {

// An open serial port: a file descriptor (Linux) or a file HANDLE as an integer (Windows, where
// INVALID_HANDLE_VALUE is -1 too); kNoPort means none.
#ifdef _WIN32
using PortHandle = std::intptr_t;
#else
using PortHandle = int;
#endif
constexpr PortHandle kNoPort = -1;

// Read and write time-outs, in milliseconds. A read of n bytes returns as soon as n bytes
// are in, when more than `readIntervalMs` pass between two received bytes, or at the
// latest after readTotalConstantMs + readTotalMultiplierMs * n. A write of n bytes gives
// up after writeTotalConstantMs + writeTotalMultiplierMs * n.
struct SerialTimeouts {
    int readIntervalMs = 100;
    int readTotalMultiplierMs = 100;
    int readTotalConstantMs = 100;
    int writeTotalMultiplierMs = 100;
    int writeTotalConstantMs = 100;
};

// Opens an existing terminal device for reading and writing, refusing a port that another
// program holds (TIOCEXCL plus an advisory lock), and configures it: raw mode, the given
// baud rate, 8 data bits, no parity, one stop bit, no hardware or software flow control,
// DTR and RTS dropped. Returns kNoPort on failure, with the reason in `error` if given; a
// device the user may not open gives PermissionMessage (the group to join). When the open
// itself fails, errno keeps its cause.
// Windows: opens the COM port without sharing, sets 512-byte driver queues (a failure there
// fails the open), the line settings above and the default time-outs, and received-character
// events; errno is ENOENT for a port that does not exist and EBUSY for one held elsewhere.
PortHandle SerialOpen(const std::string& path, int baud, std::string* error = nullptr);

// One read of up to n bytes under the read time-outs. Returns the number of bytes read.
// A hung-up or failing line (a vanished adapter, a closed pseudo-terminal) reads as a
// silent one: the call sleeps out its time-out instead of returning at once, so callers
// that loop on reads never spin.
size_t SerialRead(PortHandle h, void* buf, size_t n, const SerialTimeouts& t = {});

// Writes n bytes within the write time-out. Returns how many were written.
size_t SerialWrite(PortHandle h, const void* buf, size_t n, const SerialTimeouts& t = {});

// Waits until written output has left the port (tcdrain).
bool SerialDrain(PortHandle h);

// Discards pending input and output.
void SerialPurge(PortHandle h);

// True when the line behind the port hung up or failed (a USB adapter pulled out, the far end
// of a pseudo-terminal closed): nothing will ever be read or written on this handle again.
// Does not wait.
bool SerialHungUp(PortHandle h);

// Clears the exclusive-use flag that SerialOpen set and closes the port.
void SerialClose(PortHandle h);

} // namespace velq3
