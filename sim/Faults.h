// Faults the simulated line can show on purpose, and the byte transformations they apply.
#pragma once

#include <optional>
#include <random>
#include <string>
#include <string_view>

#include "sim/Bytes.h"

namespace velq3::sim {

enum class FaultKind {
  None,
  Silent,   // commands are consumed and ignored: no effect, no reply
  Garbage,  // every reply byte (and move report) is replaced by a random byte
  Short,    // the last byte of every reply is dropped; moves never send their final report
  Foreign,  // wheel moves carry one foreign message, 'F' + 12 characters, before the target
  Fail,     // wheel moves and homing get stuck and report '/'
  Vanish,   // the line goes away in the middle of the next reply or move
};

std::optional<FaultKind> faultFromName(std::string_view name);
std::string_view faultName(FaultKind kind);

// The selected fault, optionally limited to one command word.
struct FaultSetting {
  FaultKind kind = FaultKind::None;
  std::string word;  // empty: every command

  FaultKind forWord(std::string_view w) const {
    return word.empty() || word == w ? kind : FaultKind::None;
  }
};

// Random bytes for the garbage fault. They never form a protocol signal ('!', '/', the digits
// '0'..':', '+', '-' or 'F'), so garbage reads as garbage rather than as a chance success.
Bytes garble(size_t n, std::mt19937& rng);

// A message of another device on the line: 'F' then 12 characters, e.g. "Focus:+001234".
std::string foreignMessage(int value);

}  // namespace velq3::sim
