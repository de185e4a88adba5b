// The system's own choosers in Win32: the colour chooser (fully opened), the settings-file
// open and save boxes ("Settings File (*.fws2)") and the folder browser.
#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>

namespace velq3::ui {

// The filter list's colours: 5-6-5 bits as the controller keeps them, and COLORREF.
COLORREF ColourFrom565(std::uint16_t c);
std::uint16_t ColourTo565(COLORREF colour);

// Nothing: cancelled.
std::optional<COLORREF> ChooseColourFor(HWND owner, COLORREF initial);
std::optional<std::string> ChooseSettingsFileFor(HWND owner, bool save);
std::optional<std::string> ChooseFolderFor(HWND owner, const std::string& title, const std::string& initial);

}  // namespace velq3::ui
