// Command words and markers of the controller's wire protocol.
#pragma once

#include <cstdint>
#include <string_view>

namespace velq3::wire {

constexpr int kBaudRate = 9600;

constexpr std::string_view kEeSize = "FWeesize";
constexpr std::string_view kReadEe = "FWreadEE";
constexpr std::string_view kWriteEe = "FWwriteEE";
constexpr std::string_view kFilter = "FWFILTER";
constexpr std::string_view kWriteName = "FWWRITENAME";
constexpr std::string_view kTemperature = "FWtemperature";
constexpr std::string_view kFocus = "FWfocus";
constexpr std::string_view kSetFocus = "FWsetFocus";
constexpr std::string_view kDirFocus = "FWdirFocus";
constexpr std::string_view kAutoCompSet = "FWautoCompSet";
constexpr std::string_view kIsAuto = "FWisAuto";
constexpr std::string_view kMicrostep = "FWubStep";
constexpr std::string_view kReadTable = "FWzm";
constexpr std::string_view kWriteTable = "FWym";
constexpr std::string_view kVolt = "FWVolt";
constexpr std::string_view kAll = "FWAll";
constexpr std::string_view kHome = "FWHOME";
constexpr std::string_view kGoto = "FWGOTO";
constexpr std::string_view kGoFocus = "FWgoFocus";

constexpr char kAck = '!';
constexpr char kFailure = '/';        // '0' + -1: moving, unknown, or a failed move
constexpr char kForeignMessage = 'F'; // start of an unrelated message during a move
constexpr int kForeignMessageTail = 12;
constexpr std::int16_t kNoSensor = -32768;
constexpr int kMinStatusBlock = 16;   // shortest "FWAll" block
constexpr int kStatusBlockWithFocuser2 = 19;
constexpr int kStatusBlockWithSwitches = 20;
constexpr int kMicrostepTableSize = 128;

// Small numbers travel as the character '0' + n.
constexpr std::uint8_t SmallNumber(int n) { return static_cast<std::uint8_t>('0' + n); }

} // namespace velq3::wire
