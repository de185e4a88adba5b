// The windows' scale as a setting, for both toolkit layers: the percentages the operator can
// choose, their form on the command line, and the per-user value that keeps the choice.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

namespace velq3 {
class RegistryHive;
struct RegValue;
}  // namespace velq3

namespace velq3::ui {

// The scales the operator can choose, in percent.
inline constexpr std::array<int, 5> kUiScaleSteps = {100, 125, 150, 175, 200};
inline constexpr int kDefaultUiScale = 100;
// The per-user value (a DWORD, percent) under the settings key.
inline constexpr std::string_view kUiScaleValueName = "UiScale";

// A scale as given on the command line: one of the steps, with or without a "%" after it.
// Nothing for anything else.
std::optional<int> ParseUiScale(std::string_view text);
// "100, 125, 150, 175 or 200": the steps for an error message.
std::string UiScaleStepsText();

// The scale a stored value stands for: a number is clamped to the steps' range and taken to the
// nearest step (the larger one on a tie); no value, or one that is not a DWORD, is the default.
int UiScaleFromStored(const std::optional<RegValue>& stored);
int LoadUiScale(const RegistryHive& hive);
// Stores `percent` (a step) for the next start; false when it could not be saved.
bool SaveUiScale(RegistryHive& hive, int percent);

// The step after `percent` towards larger (direction > 0) or smaller windows; the same at the end.
int NextUiScale(int percent, int direction);
// True for one of the steps.
bool IsUiScaleStep(int percent);

}  // namespace velq3::ui
