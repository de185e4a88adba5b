// Pure decoding of controller replies into values and records, testable without a port.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "link/Records.h"

namespace velq3 {

// "FWeesize": the reported size, or the largest image for a negative or oversized value.
int DecodeMemorySize(std::int16_t value);

// A position character '/'..':' gives -1..10; anything else is not a position.
std::optional<int> DecodePositionChar(std::uint8_t c);

// '+' gives +1, '-' gives -1, anything else 0.
int DecodeDirection(std::uint8_t c);

// The compensation sensor ('0' + n): -1 (or below) is off; above the last sensor it is the
// last sensor, so that the sensor kept as preferred is always one the status holds.
int DecodeCompensationSensor(std::uint8_t c);

// Hundredths of a degree; the no-sensor marker gives kNoTemperature.
float DecodeTemperature(std::int16_t hundredths);

// Output level byte to percent.
float DecodeOutputPercent(std::uint8_t b);

// Decodes an "FWAll" block of `len` bytes (at least 16) into `status`. Fields the block
// does not carry keep the values already in `status`.
void DecodeStatusBlock(const std::uint8_t* block, std::size_t len, FWCurrentParameters& status);

// False for a block (at least 16 bytes) whose three character fields (wheel position at 0,
// focuser direction at 1, compensating thermometer at 12) all lie outside the protocol's
// characters: line noise that happened to come in the announced length, not a status.
bool PlausibleStatusBlock(const std::uint8_t* block, std::size_t len);

} // namespace velq3
