// The DLGTEMPLATEEX writer: header, font, then each item on a DWORD boundary.
#include "ui/win32/DialogTemplateEx.h"

#include <commctrl.h>

#include <cstring>
#include <string>

namespace velq3::ui {

namespace {

class TemplateWriter {
public:
    void Word(WORD w) { m_Words.push_back(w); }
    void Dword(DWORD d) {
        Word(static_cast<WORD>(d & 0xFFFF));
        Word(static_cast<WORD>(d >> 16));
    }
    void Short(int v) { Word(static_cast<WORD>(static_cast<short>(v))); }
    void String(std::wstring_view s) {
        for (wchar_t c : s) Word(static_cast<WORD>(c));
        Word(0);
    }
    void AlignDword() {
        if (m_Words.size() % 2) Word(0);
    }
    std::vector<WORD> Take() { return std::move(m_Words); }

private:
    std::vector<WORD> m_Words;
};

}  // namespace

std::wstring Wide(std::string_view utf8) {
    if (utf8.empty()) return {};
    const int n = ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(n), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), n);
    return out;
}

std::string Utf8(std::wstring_view wide) {
    if (wide.empty()) return {};
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), out.data(), n, nullptr, nullptr);
    return out;
}

Win32ControlClass ControlClassOf(const ControlTemplate& c) {
    const DWORD base = WS_CHILD | WS_VISIBLE | ((c.style & kDisabled) ? WS_DISABLED : 0);
    const bool lines = c.text && std::strchr(c.text, '\n');
    switch (c.kind) {
    case ControlKind::GroupBox:
        return {L"Button", base | BS_GROUPBOX, 0};
    case ControlKind::PushButton:
        return {L"Button", base | WS_TABSTOP | BS_PUSHBUTTON | (lines ? BS_MULTILINE : 0), 0};
    case ControlKind::CheckBox:
    case ControlKind::ThreeStateBox: {
        // A three-state box changes state only when the program says so; a click just reports.
        DWORD s = base | WS_TABSTOP | (c.kind == ControlKind::CheckBox ? BS_AUTOCHECKBOX : BS_3STATE);
        if (c.style & kTextLeft) s |= BS_LEFTTEXT | BS_RIGHT;
        if (lines) s |= BS_MULTILINE;
        return {L"Button", s, 0};
    }
    case ControlKind::Label:
        return {L"Static", base | ((c.style & kCentred) ? SS_CENTER : SS_LEFT), 0};
    case ControlKind::Edit: {
        DWORD s = base | WS_TABSTOP | ES_AUTOHSCROLL | ((c.style & kReadOnly) ? ES_READONLY : 0);
        return {L"Edit", s, (c.style & kNoBorder) ? 0u : static_cast<DWORD>(WS_EX_CLIENTEDGE)};
    }
    case ControlKind::ComboList:
        // The template's height is that of the opened list.
        return {L"ComboBox", base | WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWNLIST, 0};
    case ControlKind::UpDown: {
        DWORD s = base | UDS_NOTHOUSANDS;
        if (c.style & kAlignRightOfPrevious) s |= UDS_ALIGNRIGHT | UDS_AUTOBUDDY;
        if (c.style & kArrowKeys) s |= UDS_ARROWKEYS;
        return {UPDOWN_CLASSW, s, 0};
    }
    case ControlKind::ListView:
        return {WC_LISTVIEWW,
                base | WS_TABSTOP | LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS | LVS_EDITLABELS,
                static_cast<DWORD>(WS_EX_CLIENTEDGE)};
    }
    return {L"Static", base, 0};
}

int ScaledPointSize(int pointSize, int scalePercent) { return (pointSize * scalePercent + 50) / 100; }

std::vector<WORD> BuildDialogTemplateEx(const DialogTemplate& t, DWORD extraStyle, int scalePercent) {
    TemplateWriter w;
    w.Word(1);       // dlgVer
    w.Word(0xFFFF);  // signature
    w.Dword(0);      // helpID
    w.Dword(0);      // exStyle
    w.Dword(kDialogStyle | extraStyle);
    w.Word(static_cast<WORD>(t.controls.size()));
    w.Short(0);
    w.Short(0);
    w.Short(t.cx);
    w.Short(t.cy);
    w.Word(0);  // no menu
    w.Word(0);  // the dialog class
    w.String(Wide(t.caption ? t.caption : ""));
    w.Word(static_cast<WORD>(ScaledPointSize(t.pointSize, scalePercent)));
    w.Word(FW_NORMAL);
    w.Word(MAKEWORD(FALSE, DEFAULT_CHARSET));  // italic, charset
    w.String(Wide(t.fontFace ? t.fontFace : "MS Sans Serif"));
    for (const ControlTemplate& c : t.controls) {
        const Win32ControlClass cls = ControlClassOf(c);
        w.AlignDword();
        w.Dword(0);  // helpID
        w.Dword(cls.exStyle);
        w.Dword(cls.style);
        w.Short(c.x);
        w.Short(c.y);
        w.Short(c.cx);
        w.Short(c.cy);
        w.Dword(static_cast<DWORD>(c.id));
        w.String(cls.className);
        w.String(Wide(c.text ? c.text : ""));
        w.Word(0);  // no creation data
    }
    return w.Take();
}

}  // namespace velq3::ui
