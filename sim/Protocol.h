// Command words of the controller and the incremental parser that cuts the received byte stream
// into commands with their payloads.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "sim/Bytes.h"

namespace velq3::sim {

enum class Cmd {
  EeSize, ReadEE, WriteEE, Filter, WriteName, Temperature, Focus, SetFocus, DirFocus,
  AutoCompSet, IsAuto, UbStep, Zm, Ym, Volt, All, Home, Goto, GoFocus,
};

std::string_view wordOf(Cmd cmd);
std::optional<Cmd> cmdFromWord(std::string_view word);

struct Command {
  Cmd cmd;
  Bytes payload;
};

// Commands are ASCII words without terminator, immediately followed by a binary payload whose size
// depends on the command, on the mode (two-motor focuser forms) and, for "FWwriteEE", on its own
// length byte. No command word is a prefix of another, so a word is complete the moment it matches.
// Bytes that cannot start or continue a word are skipped, which resynchronises on the next "FW".
class CommandParser {
 public:
  struct Context {
    bool twoMotors = false;      // focuser commands carry a focuser-number byte
    size_t microstepTableLen = 0;  // payload size of "FWym"
  };
  using ContextFn = std::function<Context()>;
  using Sink = std::function<void(Command&&)>;

  // The context is asked when a command word completes, after every earlier command has been
  // handed to the sink, so a mode change by a memory write applies to the very next command.
  explicit CommandParser(ContextFn context);

  void feed(const uint8_t* data, size_t n, const Sink& sink);
  // True while a command word or its payload is incomplete.
  bool midCommand() const { return !word_.empty() || current_.has_value(); }
  // Drops an incomplete command (the sender went quiet in the middle of it).
  void reset();
  // Bytes skipped so far because they belonged to no command.
  size_t skipped() const { return skipped_; }

 private:
  size_t payloadSize(const Command& c, const Context& ctx) const;
  void feedByte(uint8_t b, const Sink& sink);

  ContextFn context_;
  std::string word_;
  std::optional<Command> current_;
  Context currentContext_;
  size_t skipped_ = 0;
};

}  // namespace velq3::sim
