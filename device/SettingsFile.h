// The settings file record: memory image, operator settings block, filter change time-out
// and thermometer names, stored with line feeds as carriage return + line feed.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace velq3 {

inline constexpr const char* kSettingsFileExtension = "fws2";
inline constexpr const char* kSettingsFileFilter = "Settings File (*.fws2)|*.fws2||";

// Every 0x0A becomes 0x0D 0x0A, as a text-mode stream stores it.
std::vector<std::uint8_t> EncodeTextStream(const std::vector<std::uint8_t>& record);
// Every 0x0D 0x0A pair becomes 0x0A; a record stored without the translation reads the same.
std::vector<std::uint8_t> DecodeTextStream(const std::vector<std::uint8_t>& stored);

} // namespace velq3
