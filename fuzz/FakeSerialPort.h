// The controller's side of the link for the fuzz targets: the serial port functions are
// replaced at link time, so that every device command runs its own code over bytes the
// harness supplies. Reads hand out the loaded bytes; once they are used up the line stays
// silent for one read and then repeats one filler byte, so that loops that wait for a report
// end at once instead of waiting out their time-outs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/SerialPort.h"

namespace velq3::fuzz {

inline constexpr PortHandle kFakePort = 1000;

// Replaces the reply bytes; forgets what was written.
void LoadReplies(const std::uint8_t* data, std::size_t size, std::uint8_t filler);
// True once every loaded byte has been read.
bool RepliesUsedUp();
// Everything the commands wrote since the last LoadReplies.
const std::vector<std::uint8_t>& Written();

} // namespace velq3::fuzz
