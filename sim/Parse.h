// Strict decimal number parsing shared by the command line and the control language.
#pragma once

#include <charconv>
#include <optional>
#include <string_view>

namespace velq3::sim {

// The whole of s as a decimal number within lo..hi, else nullopt.
inline std::optional<long> parseNumber(std::string_view s, long lo, long hi) {
  long v = 0;
  const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
  if (ec != std::errc() || end != s.data() + s.size() || v < lo || v > hi) return std::nullopt;
  return v;
}

}  // namespace velq3::sim
