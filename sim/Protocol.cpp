// Command word table and the incremental command parser.
#include "sim/Protocol.h"

#include <array>
#include <utility>

namespace velq3::sim {
namespace {

constexpr std::array<std::pair<Cmd, std::string_view>, 19> kWords{{
    {Cmd::EeSize, "FWeesize"},   {Cmd::ReadEE, "FWreadEE"},           {Cmd::WriteEE, "FWwriteEE"},
    {Cmd::Filter, "FWFILTER"},   {Cmd::WriteName, "FWWRITENAME"},     {Cmd::Temperature, "FWtemperature"},
    {Cmd::Focus, "FWfocus"},     {Cmd::SetFocus, "FWsetFocus"},       {Cmd::DirFocus, "FWdirFocus"},
    {Cmd::AutoCompSet, "FWautoCompSet"}, {Cmd::IsAuto, "FWisAuto"},   {Cmd::UbStep, "FWubStep"},
    {Cmd::Zm, "FWzm"},           {Cmd::Ym, "FWym"},                   {Cmd::Volt, "FWVolt"},
    {Cmd::All, "FWAll"},         {Cmd::Home, "FWHOME"},               {Cmd::Goto, "FWGOTO"},
    {Cmd::GoFocus, "FWgoFocus"},
}};

bool isPrefixOfAWord(std::string_view s) {
  for (const auto& [cmd, word] : kWords)
    if (word.substr(0, s.size()) == s) return true;
  return false;
}

}  // namespace

std::string_view wordOf(Cmd cmd) {
  for (const auto& [c, word] : kWords)
    if (c == cmd) return word;
  return "?";
}

std::optional<Cmd> cmdFromWord(std::string_view word) {
  for (const auto& [cmd, w] : kWords)
    if (w == word) return cmd;
  return std::nullopt;
}

CommandParser::CommandParser(ContextFn context) : context_(std::move(context)) {}

void CommandParser::reset() {
  skipped_ += word_.size() + (current_ ? wordOf(current_->cmd).size() + current_->payload.size() : 0);
  word_.clear();
  current_.reset();
}

size_t CommandParser::payloadSize(const Command& c, const Context& ctx) const {
  const size_t motor = ctx.twoMotors ? 1 : 0;
  switch (c.cmd) {
    case Cmd::ReadEE: return 2;
    case Cmd::WriteEE: return c.payload.size() < 2 ? 2 : 2 + size_t{c.payload[1]};
    case Cmd::WriteName: return 1 + 8;
    case Cmd::Temperature: return 1;
    case Cmd::Focus: return motor;
    case Cmd::SetFocus: return motor + 2;
    case Cmd::DirFocus: return motor;
    case Cmd::AutoCompSet: return 1;
    case Cmd::UbStep: return 1;
    case Cmd::Ym: return ctx.microstepTableLen;
    case Cmd::Goto: return 1;
    case Cmd::GoFocus: return motor + 2;
    case Cmd::EeSize: case Cmd::Filter: case Cmd::IsAuto: case Cmd::Zm:
    case Cmd::Volt: case Cmd::All: case Cmd::Home:
      return 0;
  }
  return 0;
}

void CommandParser::feed(const uint8_t* data, size_t n, const Sink& sink) {
  for (size_t i = 0; i < n; ++i) feedByte(data[i], sink);
}

void CommandParser::feedByte(uint8_t b, const Sink& sink) {
  if (current_) {
    current_->payload.push_back(b);
  } else {
    word_.push_back(static_cast<char>(b));
    // Keep the longest tail that can still begin a command word.
    while (!word_.empty() && !isPrefixOfAWord(word_)) {
      word_.erase(0, 1);
      ++skipped_;
    }
    const auto cmd = cmdFromWord(word_);
    if (!cmd) return;
    word_.clear();
    current_ = Command{*cmd, {}};
    currentContext_ = context_();
  }
  if (current_->payload.size() >= payloadSize(*current_, currentContext_)) {
    Command done = std::move(*current_);
    current_.reset();
    sink(std::move(done));
  }
}

}  // namespace velq3::sim
