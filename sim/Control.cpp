// Parser of the control language.
//
// One command per line, words separated by blanks, numbers in decimal; the reply is one line,
// "ok" or "error: <reason>" ("help" sends its summary first), and a line with an error changes
// nothing:
//   fault KIND [WORD]          KIND = none|silent|garbage|short|foreign|fail|vanish, optionally
//                              only for the command word WORD ("fault short FWAll")
//   slow MS                    delay before acting on and answering each command
//   set mode N | sensors N | temp I V|drift|none | volt V | out B | sw B | wheel N | focus M P
//                              device values (mode is memory byte 1 and is saved)
//   set memory-size N | eesize V|auto|off | all-len L|auto|off
//                              firmware variants ("off": the command is not answered)
//   set move-ms MS | focus-speedup K
//                              motion timing
//   replug                     (served by the simulator itself) the line goes away and comes back
//   help
#include "sim/Control.h"

#include <cstdint>
#include <optional>
#include <vector>

#include "sim/Parse.h"
#include "sim/Protocol.h"

namespace velq3::sim {
namespace {

constexpr std::string_view kHelp =
    "  fault KIND [WORD]         KIND: none silent garbage short foreign fail vanish; WORD limits it\n"
    "                            to one command word (e.g. FWGOTO)\n"
    "  slow MS                   wait MS ms before acting on and answering each command (0 = off)\n"
    "  set mode N                memory byte 1 (-128..255; saved)\n"
    "  set sensors N             thermometers 0..N-1 present, N = 0..4\n"
    "  set temp I V|drift|none   thermometer I reads V hundredths of a degree / drifts / is absent\n"
    "  set volt V                supply voltage in hundredths of a volt\n"
    "  set out B                 output level byte 0..255\n"
    "  set sw B                  switch bits 0..15\n"
    "  set wheel N               the wheel stands at slot N (ends a move)\n"
    "  set focus M P             motor M (0, 1) stands at position P (ends a move)\n"
    "  set memory-size N         memory size 0..202: \"FWeesize\" answer and readable range\n"
    "  set eesize V|auto|off     \"FWeesize\" answers V (-32768..32767) / the memory size / nothing\n"
    "  set all-len L|auto|off    \"FWAll\" announces L (0..255; block cut or zero-padded) / 20 / nothing\n"
    "  set move-ms MS            time per wheel slot\n"
    "  set focus-speedup K       focusers move K times faster than the memory speed\n"
    "  replug                    pull the line out now: the pseudo-terminal closes and a new one\n"
    "                            comes after --replug-ms (--link follows it), as a USB adapter\n"
    "                            pulled out and plugged in again\n"
    "  help                      this summary\n";

std::vector<std::string_view> splitWords(std::string_view line) {
  std::vector<std::string_view> words;
  size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t' || line[i] == '\r' || line[i] == '\n')) ++i;
    const size_t start = i;
    while (i < line.size() && !(line[i] == ' ' || line[i] == '\t' || line[i] == '\r' || line[i] == '\n')) ++i;
    if (i > start) words.push_back(line.substr(start, i - start));
  }
  return words;
}

std::string rangeError(std::string_view what, long lo, long hi) {
  return "error: " + std::string(what) + " must be a number " + std::to_string(lo) + ".." + std::to_string(hi);
}

// Parses VALUE of "set eesize" / "set all-len": a number, "auto" or "off".
std::optional<std::pair<Settings::Answer, int>> answerValue(std::string_view v, long lo, long hi) {
  if (v == "auto") return std::pair{Settings::Answer::Auto, 0};
  if (v == "off") return std::pair{Settings::Answer::Off, 0};
  if (auto n = parseNumber(v, lo, hi)) return std::pair{Settings::Answer::Raw, static_cast<int>(*n)};
  return std::nullopt;
}

std::string applySet(const std::vector<std::string_view>& w, ControlTarget t, TimePoint now) {
  if (w.size() < 3) return "error: set needs a key and a value";
  const std::string_view key = w[1];
  const size_t values = w.size() - 2;
  auto single = [&](long lo, long hi) -> std::optional<long> {
    return values == 1 ? parseNumber(w[2], lo, hi) : std::nullopt;
  };

  if (key == "mode") {
    const auto v = single(-128, 255);
    if (!v) return rangeError("mode", -128, 255);
    const uint8_t old = t.memory.byte(mem::kMode);
    t.memory.setByte(mem::kMode, static_cast<uint8_t>(*v));
    std::string error;
    if (t.memory.save(&error)) return "ok";
    t.memory.setByte(mem::kMode, old);
    return "error: " + error;
  }
  if (key == "sensors") {
    const auto v = single(0, DeviceModel::kSensors);
    if (!v) return rangeError("sensors", 0, DeviceModel::kSensors);
    t.model.setSensorCount(static_cast<int>(*v));
    return "ok";
  }
  if (key == "temp") {
    const auto index = values == 2 ? parseNumber(w[2], 0, DeviceModel::kSensors - 1) : std::nullopt;
    if (!index) return "error: usage: set temp I V|drift|none, I = 0..3";
    const int i = static_cast<int>(*index);
    if (w[3] == "drift") {
      t.model.releaseTemperature(i);
    } else if (w[3] == "none") {
      t.model.removeSensor(i);
    } else if (auto v = parseNumber(w[3], -32767, 32767)) {
      t.model.pinTemperature(i, static_cast<int>(*v));
    } else {
      return "error: temperature must be hundredths of a degree (-32767..32767), drift or none";
    }
    return "ok";
  }
  if (key == "volt") {
    const auto v = single(-32768, 32767);
    if (!v) return rangeError("volt", -32768, 32767);
    t.model.volt = static_cast<int>(*v);
    return "ok";
  }
  if (key == "out" || key == "sw") {
    const long hi = key == "out" ? 255 : 15;
    const auto v = single(0, hi);
    if (!v) return rangeError(key, 0, hi);
    (key == "out" ? t.model.out : t.model.sw) = static_cast<uint8_t>(*v);
    return "ok";
  }
  if (key == "wheel") {
    const auto v = single(0, mem::kMaxFilters - 1);
    if (!v) return rangeError("wheel", 0, mem::kMaxFilters - 1);
    t.model.setWheel(static_cast<int>(*v));
    return "ok";
  }
  if (key == "focus") {
    const auto motor = values == 2 ? parseNumber(w[2], 0, 1) : std::nullopt;
    const auto pos = values == 2 ? parseNumber(w[3], -32768, 32767) : std::nullopt;
    if (!motor || !pos) return "error: usage: set focus M P, M = 0|1, P = -32768..32767";
    t.model.setFocuserPosition(static_cast<int>(*motor), static_cast<int>(*pos), now);
    return "ok";
  }
  if (key == "memory-size") {
    const auto v = single(0, static_cast<long>(Memory::kCapacity));
    if (!v) return rangeError("memory-size", 0, static_cast<long>(Memory::kCapacity));
    t.settings.memorySize = static_cast<int>(*v);
    return "ok";
  }
  if (key == "eesize" || key == "all-len") {
    const bool ee = key == "eesize";
    const auto v = values == 1 ? answerValue(w[2], ee ? -32768 : 0, ee ? 32767 : 255) : std::nullopt;
    if (!v) return ee ? "error: eesize must be -32768..32767, auto or off" : "error: all-len must be 0..255, auto or off";
    (ee ? t.settings.eesize : t.settings.all) = v->first;
    (ee ? t.settings.eesizeRaw : t.settings.allLength) = v->second;
    return "ok";
  }
  if (key == "move-ms") {
    const auto v = single(0, 600000);
    if (!v) return rangeError("move-ms", 0, 600000);
    t.settings.moveMs = static_cast<double>(*v);
    return "ok";
  }
  if (key == "focus-speedup") {
    const auto v = single(1, 100000);
    if (!v) return rangeError("focus-speedup", 1, 100000);
    t.settings.focusSpeedup = static_cast<double>(*v);
    return "ok";
  }
  return "error: unknown key " + std::string(key);
}

}  // namespace

std::string_view controlHelp() { return kHelp; }

std::string applyControl(std::string_view line, ControlTarget target, TimePoint now) {
  const auto w = splitWords(line);
  if (w.empty()) return "error: empty line";
  if (w[0] == "help") return std::string(kHelp) + "ok";
  if (w[0] == "fault") {
    if (w.size() < 2 || w.size() > 3) return "error: usage: fault KIND [WORD]";
    const auto kind = faultFromName(w[1]);
    if (!kind) return "error: unknown fault " + std::string(w[1]);
    if (w.size() == 3 && !cmdFromWord(w[2])) return "error: unknown command word " + std::string(w[2]);
    target.settings.fault = FaultSetting{*kind, w.size() == 3 ? std::string(w[2]) : std::string()};
    return "ok";
  }
  if (w[0] == "slow") {
    const auto v = w.size() == 2 ? parseNumber(w[1], 0, 600000) : std::nullopt;
    if (!v) return rangeError("slow", 0, 600000);
    target.settings.slowMs = static_cast<int>(*v);
    return "ok";
  }
  if (w[0] == "set") return applySet(w, target, now);
  return "error: unknown command " + std::string(w[0]);
}

}  // namespace velq3::sim
