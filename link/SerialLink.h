// Byte-level primitives of the controller link: open, read, write, command exchanges and
// reads with a deadline. None throws; all report counts or flags.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/SerialPort.h"

namespace velq3 {

// Opens and configures a port at the given baud rate (always 9600 for the controller); on
// failure the reason goes to `error` when given.
PortHandle OpenSerialPort(const std::string& path, int baudRate, std::string* error = nullptr);

// One read of up to n bytes under the link time-outs: returns 0..n.
size_t ReadBytes(PortHandle h, void* buffer, size_t n);

bool WriteByte(PortHandle h, std::uint8_t byte);
bool WriteBytes(PortHandle h, const void* buffer, size_t n);
bool WriteText(PortHandle h, std::string_view text);

// Writes the command word, waits until it has left, then reads a reply of n bytes.
// Returns the reply length read; 0 when the command could not be written.
size_t Transact(PortHandle h, std::string_view command, void* reply, size_t n);

// As Transact, with m payload bytes written after the command word in a second write.
size_t TransactWithPayload(PortHandle h, std::string_view command, const void* payload, size_t m,
                           void* reply, size_t n);

// Repeats reads of n bytes until one returns something or `deadlineMs` has passed.
// Returns what that read returned (possibly fewer than n), or 0 at the deadline or as soon as
// the line has hung up.
size_t ReadWithDeadline(PortHandle h, void* buffer, size_t n, int deadlineMs);

// Discards everything pending in both directions.
void PurgePort(PortHandle h);

// True when the port's line has gone (hung up): the handle is dead for good.
bool LineHungUp(PortHandle h);

} // namespace velq3
