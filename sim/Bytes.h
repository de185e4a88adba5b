// Byte strings as they travel on the line, with the little-endian 16-bit helpers of the wire format.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace velq3::sim {

using Bytes = std::vector<uint8_t>;

inline void putS16(Bytes& out, int value) {
  const auto v = static_cast<uint16_t>(value);
  out.push_back(static_cast<uint8_t>(v & 0xFF));
  out.push_back(static_cast<uint8_t>(v >> 8));
}

inline int16_t getS16(const uint8_t* p) {
  return static_cast<int16_t>(static_cast<uint16_t>(p[0] | (p[1] << 8)));
}

inline uint16_t getU16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

// A small number as one character: '0' + n (so -1 is '/').
inline uint8_t digitChar(int n) { return static_cast<uint8_t>('0' + n); }

}  // namespace velq3::sim
