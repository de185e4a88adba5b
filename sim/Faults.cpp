// Names of the faults and the bytes they produce.
#include "sim/Faults.h"

#include <array>
#include <cstdio>
#include <cstdlib>
#include <utility>

namespace velq3::sim {
namespace {

constexpr std::array<std::pair<FaultKind, std::string_view>, 7> kNames{{
    {FaultKind::None, "none"},       {FaultKind::Silent, "silent"}, {FaultKind::Garbage, "garbage"},
    {FaultKind::Short, "short"},     {FaultKind::Foreign, "foreign"}, {FaultKind::Fail, "fail"},
    {FaultKind::Vanish, "vanish"},
}};

bool isSignal(uint8_t b) {
  return b == '!' || (b >= '/' && b <= ':') || b == '+' || b == '-' || b == 'F';
}

}  // namespace

std::optional<FaultKind> faultFromName(std::string_view name) {
  for (const auto& [kind, n] : kNames)
    if (n == name) return kind;
  return std::nullopt;
}

std::string_view faultName(FaultKind kind) {
  for (const auto& [k, n] : kNames)
    if (k == kind) return n;
  return "?";
}

Bytes garble(size_t n, std::mt19937& rng) {
  std::uniform_int_distribution<int> byte(0, 255);
  Bytes out;
  while (out.size() < n) {
    const auto b = static_cast<uint8_t>(byte(rng));
    if (!isSignal(b)) out.push_back(b);
  }
  return out;
}

std::string foreignMessage(int value) {
  char text[32];
  std::snprintf(text, sizeof text, "Focus:%c%06d", value < 0 ? '-' : '+', std::abs(value) % 1000000);
  return text;
}

}  // namespace velq3::sim
