// The system choosers, their texts UTF-8 to the rules.
#include "ui/win32/CommonDialogs.h"

#include <commdlg.h>
#include <shlobj.h>

#include <array>
#include <vector>

#include "ui/win32/DialogTemplateEx.h"

namespace velq3::ui {

COLORREF ColourFrom565(std::uint16_t c) {
    return RGB((c >> 8) & 0xF8, (c >> 3) & 0xFC, (c << 3) & 0xF8);
}

std::uint16_t ColourTo565(COLORREF colour) {
    const unsigned r = GetRValue(colour), g = GetGValue(colour), b = GetBValue(colour);
    return static_cast<std::uint16_t>(((r >> 3) << 11) | ((g >> 2) << 5) | (b >> 3));
}

std::optional<COLORREF> ChooseColourFor(HWND owner, COLORREF initial) {
    // The custom colours live as long as the program, as the chooser expects.
    static std::array<COLORREF, 16> custom{};
    CHOOSECOLORW cc{};
    cc.lStructSize = sizeof(cc);
    cc.hwndOwner = owner;
    cc.rgbResult = initial;
    cc.lpCustColors = custom.data();
    cc.Flags = CC_FULLOPEN | CC_RGBINIT | CC_ANYCOLOR;
    if (!::ChooseColorW(&cc)) return std::nullopt;
    return cc.rgbResult;
}

std::optional<std::string> ChooseSettingsFileFor(HWND owner, bool save) {
    // "Settings File (*.fws2)|*.fws2||" as the common dialogs take it: pairs ended by NULs.
    static const wchar_t kFilter[] = L"Settings File (*.fws2)\0*.fws2\0\0";
    std::vector<wchar_t> path(32768, L'\0');
    OPENFILENAMEW ofn{};
    ofn.lStructSize = sizeof(ofn);
    ofn.hwndOwner = owner;
    ofn.lpstrFilter = kFilter;
    ofn.lpstrFile = path.data();
    ofn.nMaxFile = static_cast<DWORD>(path.size());
    ofn.lpstrDefExt = L"fws2";
    ofn.Flags = OFN_HIDEREADONLY | OFN_NOCHANGEDIR | OFN_EXPLORER |
                (save ? OFN_OVERWRITEPROMPT : (OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST));
    const BOOL ok = save ? ::GetSaveFileNameW(&ofn) : ::GetOpenFileNameW(&ofn);
    if (!ok) return std::nullopt;
    return Utf8(path.data());
}

namespace {

int CALLBACK StartInFolder(HWND hwnd, UINT msg, LPARAM, LPARAM data) {
    if (msg == BFFM_INITIALIZED && data) ::SendMessageW(hwnd, BFFM_SETSELECTIONW, TRUE, data);
    return 0;
}

}  // namespace

std::optional<std::string> ChooseFolderFor(HWND owner, const std::string& title, const std::string& initial) {
    const std::wstring wideTitle = Wide(title);
    const std::wstring start = Wide(initial);
    BROWSEINFOW bi{};
    bi.hwndOwner = owner;
    bi.lpszTitle = wideTitle.c_str();
    bi.ulFlags = BIF_RETURNONLYFSDIRS | BIF_NEWDIALOGSTYLE;
    bi.lpfn = &StartInFolder;
    bi.lParam = start.empty() ? 0 : reinterpret_cast<LPARAM>(start.c_str());
    PIDLIST_ABSOLUTE chosen = ::SHBrowseForFolderW(&bi);
    if (!chosen) return std::nullopt;
    std::vector<wchar_t> path(MAX_PATH * 4, L'\0');
    const bool ok = ::SHGetPathFromIDListW(chosen, path.data()) != FALSE;
    ::CoTaskMemFree(chosen);
    if (!ok) return std::nullopt;
    return Utf8(path.data());
}

}  // namespace velq3::ui
