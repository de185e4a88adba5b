// Turns a dialog template into the in-memory DLGTEMPLATEEX that the Win32 dialog functions take:
// the template's caption, font and size, and one item per control with its window class and
// styles, all in dialog units as the template gives them.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>
#include <vector>

#include "ui/DialogTemplate.h"

namespace velq3::ui {

// The dialog's own window styles: a popup with a caption and a close box, the template font.
inline constexpr DWORD kDialogStyle = DS_SETFONT | DS_MODALFRAME | DS_3DLOOK | WS_POPUP | WS_CAPTION | WS_SYSMENU;

// Window class, styles and extended styles of one template control.
struct Win32ControlClass {
    const wchar_t* className;
    DWORD style;
    DWORD exStyle;
};
Win32ControlClass ControlClassOf(const ControlTemplate& c);

// The DLGTEMPLATEEX of `t` (DWORD-aligned words); `extraStyle` is added to kDialogStyle. The
// font is the template's at `scalePercent`: dialog units follow the font, so the whole dialog
// grows with it.
std::vector<WORD> BuildDialogTemplateEx(const DialogTemplate& t, DWORD extraStyle = 0, int scalePercent = 100);
// The template's point size at `scalePercent`, rounded.
int ScaledPointSize(int pointSize, int scalePercent);

// UTF-8 and UTF-16 both ways.
std::wstring Wide(std::string_view utf8);
std::string Utf8(std::wstring_view wide);

}  // namespace velq3::ui
