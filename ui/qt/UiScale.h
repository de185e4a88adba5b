// The operator windows' scale: one percentage that enlarges the dialog font, and with it the
// dialog units, of every window, so that the windows read from a step away or on a dense screen.
// The layout stays the template's, only larger.
#pragma once

#include <QFont>

#include <array>
#include <functional>

#include <QString>
#include <optional>
#include <string>
#include <string_view>

class QWidget;

namespace velq3 {
class RegistryHive;
struct RegValue;
}  // namespace velq3

class QStyle;

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

// The scale is the application's, as its font is: setting it scales the application font (what
// message boxes and file and colour choosers use) and the check boxes' indicators, and lays every
// open template window out again; windows built afterwards are built at it. `percent` must be a
// step. Needs the application object.
void ApplyUiScale(int percent);
// The application's scale; the default before any ApplyUiScale.
int CurrentUiScale();
// `pixels` at 100 % at the application's scale, rounded.
int ScaledPixels(int pixels);
// `font` (sized for 100 %) at the application's scale.
QFont ScaledFont(QFont font);
// A new application style named `baseName` (empty: the platform's default) whose check boxes and
// radio buttons grow with the scale. Another style layer (the night palette's) wraps it, so that
// the scale holds whichever palette is on.
QStyle* NewScaledStyle(const QString& baseName);

// The window menu's scale entries (the window's context menu stands in for its system menu):
// "Larger" (Ctrl++, also Ctrl+=), "Smaller" (Ctrl+-) and the "Scale" submenu with every step.
// Each calls `choose` with the scale chosen; the window's controls stay as they are.
void AddUiScaleActions(QWidget& window, std::function<void(int percent)> choose);

}  // namespace velq3::ui
