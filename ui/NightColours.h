// The night palette's colours and its setting, for both toolkit layers: every window in deep red
// on black, so that the operator's eyes stay adapted to the dark.
#pragma once

#include <string_view>

namespace velq3 {
class RegistryHive;
}

namespace velq3::ui {

// The value under the settings key that holds the choice (a DWORD, 0 or 1).
inline constexpr std::string_view kNightModeValue = "NightMode";

// No channel of anything drawn at night goes above this red level; green and blue stay 0.
inline constexpr int kNightBrightest = 200;
// The red levels of a window's background and of its text at night.
inline constexpr int kNightWindowRed = 18;
inline constexpr int kNightTextRed = 190;

struct Rgb {
    int r = 0, g = 0, b = 0;
    friend bool operator==(const Rgb&, const Rgb&) = default;
};

// Lightness as the eye weighs the channels, 0..1, lifted so that dark colours stay apart from
// black and from each other once they are all red.
double NightLightness(Rgb c);
// Any colour as a red of about the same lightness, at most kNightBrightest; a red that is already
// at most that bright and free of green and blue is kept.
Rgb NightRgb(Rgb c);
// A dim red for coloured areas behind text (the filters' colours): 24 to 96.
Rgb NightDimRgb(Rgb c);

// The stored choice; off when nothing (or something unreadable) is stored.
bool LoadNightMode(const RegistryHive& hive);
// Stores the choice for the next start; false when it could not be saved.
bool SaveNightMode(RegistryHive& hive, bool on);

}  // namespace velq3::ui
