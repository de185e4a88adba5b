// The look of the Win32 windows: the night palette (every window red on black through the control
// colour messages; push buttons, group boxes and check boxes, which those do not reach, drawn by
// the look at night only) and the scale (the dialog font, and with it the dialog units,
// enlarged). One object per program, given to each window; windows built without one are in the
// system colours at 100 %.
#pragma once

#include <windows.h>

#include <map>
#include <optional>
#include <utility>
#include <vector>

namespace velq3 {
class RegistryHive;
}

namespace velq3::ui {

class Win32Look {
public:
    // The context menu's commands, sent to the window as WM_COMMAND (no control uses these ids).
    static constexpr UINT kNightModeCommand = 0x7E00;
    static constexpr UINT kLargerCommand = 0x7E01;
    static constexpr UINT kSmallerCommand = 0x7E02;
    static constexpr UINT kScaleCommandBase = 0x7E10;  // + the step's index in kUiScaleSteps

    // `hive`, when given, holds the stored choices (`NightMode`, `UiScale`): read here, and the
    // operator's night switch is stored there.
    explicit Win32Look(RegistryHive* hive = nullptr);
    ~Win32Look();
    Win32Look(const Win32Look&) = delete;
    Win32Look& operator=(const Win32Look&) = delete;

    bool Night() const { return m_Night; }
    // Switches every open window between the system colours and the night palette, without
    // storing the choice.
    void SetNight(bool on);
    // The operator's switch (Ctrl+N, the "Night Mode" menu entry): the other palette, stored.
    void ToggleNight();

    int Scale() const { return m_Scale; }
    // Windows built afterwards are built at `percent` (one of the steps; others are ignored).
    void SetScale(int percent);
    // The operator's choice of a scale (the main window's menu and keys): set as SetScale does,
    // and stored.
    void ChooseScale(int percent);
    // The scale a scale command of the menu stands for at the present scale; nothing for any
    // other command.
    std::optional<int> ScaleOfCommand(UINT command) const;

    // A colour as drawn now: by day itself, at night a red of its lightness.
    COLORREF Colour(COLORREF day) const;
    // A coloured area behind text (the filters' colours): at night a dim red of its lightness.
    COLORREF AreaColour(COLORREF day) const;
    // The text and background of windows, lists and edits: the system's by day.
    COLORREF TextColour() const;
    COLORREF BackgroundColour() const;
    // The answer to WM_CTLCOLORDLG/STATIC/EDIT/LISTBOX/BTN: at night the colours are set in `dc`
    // and the background brush returned; by day nullptr (the system's answer stands).
    HBRUSH ControlColours(HDC dc) const;

    // The open windows the switch repaints (a window attaches itself while it exists).
    void Attach(HWND window);
    void Detach(HWND window);
    // Draws an attached window's push button at night (they are owner-drawn then: the control
    // colour messages do not reach them); false for anything else.
    bool DrawButton(const DRAWITEMSTRUCT& item) const;
    // The context menu of a window's background: the checkable "Night Mode" entry, and with
    // `withScale` (the main window) "Larger", "Smaller" and the "Scale" submenu with every step,
    // checked at the present one. The caller destroys it.
    HMENU BuildMenu(bool withScale) const;
    // A menu command the look acts on itself (the night switch); true when it was that.
    bool OnCommand(UINT command);
    // Ctrl+N in any attached window switches the palette; true when the key was that.
    bool PreTranslateKey(const MSG& msg);

private:
    // A report list's own colours by day, kept while it shows the night ones.
    struct ListColours {
        HWND window;
        COLORREF back, textBack, text;
    };

    void Apply(HWND window);
    void ApplyToList(HWND window, HWND list);
    void ApplyToButton(HWND window, HWND button);
    static BOOL CALLBACK ApplyToChild(HWND child, LPARAM lParam);

    RegistryHive* m_Hive;
    bool m_Night = false;
    int m_Scale = 100;
    HBRUSH m_Background = nullptr;
    std::vector<HWND> m_Windows;
    std::map<HWND, ListColours> m_DayLists;
    // Push buttons drawn by the look at night, with their window and their own type by day.
    std::map<HWND, std::pair<HWND, LONG_PTR>> m_NightButtons;
    HWND m_Applying = nullptr;  // the window whose children Apply walks
    HHOOK m_KeyHook = nullptr;
};

}  // namespace velq3::ui
