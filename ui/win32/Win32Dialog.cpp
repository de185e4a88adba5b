// The control operations on Win32 controls, and the controls' notifications as the rules' events.
#include "ui/win32/Win32Dialog.h"

#include <commctrl.h>
#include <windowsx.h>

#include <cstdlib>
#include <tuple>

#include "ui/UiScaleSetting.h"
#include "ui/win32/DialogTemplateEx.h"
#include "ui/win32/Win32Look.h"

namespace velq3::ui {

namespace {

std::wstring WindowText(HWND w) {
    if (!w) return {};
    std::wstring s(static_cast<size_t>(::GetWindowTextLengthW(w)) + 1, L'\0');
    s.resize(static_cast<size_t>(::GetWindowTextW(w, s.data(), static_cast<int>(s.size()))));
    return s;
}

UINT IconStyle(MessageIcon icon) {
    switch (icon) {
        case MessageIcon::Information: return MB_ICONINFORMATION;
        case MessageIcon::Warning: return MB_ICONWARNING;
        case MessageIcon::Critical: return MB_ICONERROR;
        case MessageIcon::None: break;
    }
    return 0;
}

}  // namespace

void InitDialogControlClasses() {
    static const bool done = [] {
        INITCOMMONCONTROLSEX icc{sizeof(icc), ICC_UPDOWN_CLASS | ICC_LISTVIEW_CLASSES | ICC_STANDARD_CLASSES};
        return ::InitCommonControlsEx(&icc) != FALSE;
    }();
    (void)done;
}

Win32DialogControls::Win32DialogControls(const DialogTemplate& t) {
    for (const ControlTemplate& c : t.controls) {
        if (c.id == kNoId) continue;
        m_Kinds[c.id] = c.kind;
        m_Styles[c.id] = c.style;
    }
    m_Message = [](HWND owner, const std::wstring& title, const std::wstring& text, UINT icon) {
        ::MessageBoxW(owner, text.c_str(), title.c_str(), MB_OK | icon);
    };
}

HWND Win32DialogControls::Control(int id) const {
    return m_Dialog && m_Kinds.count(id) ? ::GetDlgItem(m_Dialog, id) : nullptr;
}

std::optional<ControlKind> Win32DialogControls::KindOf(int id) const {
    const auto it = m_Kinds.find(id);
    if (it == m_Kinds.end()) return std::nullopt;
    return it->second;
}

bool Win32DialogControls::RouteCommand(WPARAM wParam, LPARAM lParam) {
    const int id = LOWORD(wParam);
    const int code = HIWORD(wParam);
    if (!m_Rules) return false;
    // Esc, the close box and a cancel button: the rules decide whether the dialog ends.
    const auto style = m_Styles.find(id);
    if (id == IDCANCEL || (style != m_Styles.end() && (style->second & kCancel) && code == BN_CLICKED)) {
        m_Rules->OnCancel();
        return true;
    }
    const std::optional<ControlKind> kind = KindOf(id);
    if (!kind) {
        // Enter with no button of that id in the dialog.
        return lParam == 0;
    }
    switch (*kind) {
    case ControlKind::PushButton:
    case ControlKind::CheckBox:
    case ControlKind::ThreeStateBox:
        if (code != BN_CLICKED) return false;
        m_Rules->OnCommand(id, Notify::Clicked);
        return true;
    case ControlKind::Edit:
        if (code == EN_CHANGE) {
            if (m_ProgramSetting == 0) m_Rules->OnCommand(id, Notify::TextEdited);
            m_Rules->OnCommand(id, Notify::TextChanged);
            return true;
        }
        if (code == EN_KILLFOCUS) {
            m_Rules->OnCommand(id, Notify::EditDone);
            return true;
        }
        return false;
    case ControlKind::ComboList:
        if (code != CBN_SELCHANGE) return false;
        m_Rules->OnCommand(id, Notify::SelChanged);
        return true;
    default:
        return false;
    }
}

bool Win32DialogControls::RouteNotify(const NMHDR& header, LRESULT& result) {
    if (!m_Rules) return false;
    if (header.code == UDN_DELTAPOS) {
        const auto& n = reinterpret_cast<const NMUPDOWN&>(header);
        // A number typed into the buddy is where the step starts from.
        if (const auto b = m_BuddyInt.find(static_cast<int>(header.idFrom)); b != m_BuddyInt.end()) {
            const std::string text = Text(b->second);
            char* end = nullptr;
            const long typed = std::strtol(text.c_str(), &end, 10);
            if (!text.empty() && end && *end == '\0')
                ::SendMessageW(header.hwndFrom, UDM_SETPOS32, 0, static_cast<LPARAM>(typed));
        }
        m_Rules->OnDeltaPos(static_cast<int>(header.idFrom), n.iDelta);
        result = 0;  // the step goes ahead
        return true;
    }
    return false;
}

void Win32DialogControls::RouteScroll(HWND from) {
    const int id = ::GetDlgCtrlID(from);
    const auto b = m_BuddyInt.find(id);
    if (b == m_BuddyInt.end() || Control(id) != from) return;
    SetText(b->second, std::to_string(static_cast<int>(::SendMessageW(from, UDM_GETPOS32, 0, 0))));
}

bool Win32DialogControls::Has(int id) const { return Control(id) != nullptr; }

std::string Win32DialogControls::Text(int id) const { return Utf8(WindowText(Control(id))); }

void Win32DialogControls::SetText(int id, std::string_view text) {
    HWND w = Control(id);
    if (!w) return;
    const std::wstring wide = Wide(text);
    if (WindowText(w) == wide) return;
    ++m_ProgramSetting;
    ::SetWindowTextW(w, wide.c_str());
    --m_ProgramSetting;
}

void Win32DialogControls::ShowTextStart(int id) {
    if (HWND w = Control(id)) {
        ::SendMessageW(w, EM_SETSEL, 0, 0);
        ::SendMessageW(w, EM_SCROLLCARET, 0, 0);
    }
}

void Win32DialogControls::DigitsOnly(int id) {
    if (HWND w = Control(id)) ::SetWindowLongPtrW(w, GWL_STYLE, ::GetWindowLongPtrW(w, GWL_STYLE) | ES_NUMBER);
}

bool Win32DialogControls::Checked(int id) const {
    HWND w = Control(id);
    return w && ::SendMessageW(w, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void Win32DialogControls::SetChecked(int id, bool checked) {
    if (HWND w = Control(id)) ::SendMessageW(w, BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
}

int Win32DialogControls::CheckState(int id) const {
    HWND w = Control(id);
    if (!w) return 0;
    switch (::SendMessageW(w, BM_GETCHECK, 0, 0)) {
        case BST_CHECKED: return 1;
        case BST_INDETERMINATE: return 2;
        default: return 0;
    }
}

void Win32DialogControls::SetCheckState(int id, int state) {
    if (HWND w = Control(id))
        ::SendMessageW(w, BM_SETCHECK, state == 1 ? BST_CHECKED : state == 2 ? BST_INDETERMINATE : BST_UNCHECKED, 0);
}

bool Win32DialogControls::Enabled(int id) const {
    HWND w = Control(id);
    return w && ::IsWindowEnabled(w);
}

void Win32DialogControls::Enable(int id, bool enabled) {
    HWND w = Control(id);
    if (!w) return;
    // A disabled control loses the keyboard focus to nobody, and the dialog's keys (Esc, Enter,
    // Tab) go with it: the focus moves on to the next control first.
    if (!enabled && ::GetFocus() == w) ::SendMessageW(m_Dialog, WM_NEXTDLGCTL, 0, FALSE);
    ::EnableWindow(w, enabled);
}

bool Win32DialogControls::Shown(int id) const {
    HWND w = Control(id);
    return w && (::GetWindowLongPtrW(w, GWL_STYLE) & WS_VISIBLE);
}

void Win32DialogControls::Show(int id, bool shown) {
    if (HWND w = Control(id)) ::ShowWindow(w, shown ? SW_SHOWNA : SW_HIDE);
}

void Win32DialogControls::Focus(int id) {
    if (HWND w = Control(id)) ::SendMessageW(m_Dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(w), TRUE);
}

void Win32DialogControls::FocusAndSelect(int id) {
    HWND w = Control(id);
    if (!w) return;
    Focus(id);
    if (KindOf(id) == ControlKind::Edit) ::SendMessageW(w, EM_SETSEL, 0, -1);
}

void Win32DialogControls::SetDefaultButton(int id) {
    if (Control(id)) ::SendMessageW(m_Dialog, DM_SETDEFID, static_cast<WPARAM>(id), 0);
}

void Win32DialogControls::SetItems(int id, const std::vector<std::string>& items) {
    HWND w = Control(id);
    if (!w) return;
    ::SendMessageW(w, CB_RESETCONTENT, 0, 0);
    for (const std::string& item : items)
        ::SendMessageW(w, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Wide(item).c_str()));
}

int Win32DialogControls::ItemCount(int id) const {
    HWND w = Control(id);
    return w ? static_cast<int>(::SendMessageW(w, CB_GETCOUNT, 0, 0)) : 0;
}

int Win32DialogControls::Selection(int id) const {
    HWND w = Control(id);
    return w ? static_cast<int>(::SendMessageW(w, CB_GETCURSEL, 0, 0)) : -1;
}

void Win32DialogControls::Select(int id, int index) {
    HWND w = Control(id);
    if (!w) return;
    const int next = index >= 0 && index < ItemCount(id) ? index : -1;
    if (next == Selection(id)) return;
    ::SendMessageW(w, CB_SETCURSEL, static_cast<WPARAM>(next), 0);
    // The list does not report a change the program makes; the rules hear of it as of the
    // operator's, as with the other layers.
    if (m_Rules) m_Rules->OnCommand(id, Notify::SelChanged);
}

void Win32DialogControls::SetRange(int id, int lower, int upper) {
    if (HWND w = Control(id)) ::SendMessageW(w, UDM_SETRANGE32, static_cast<WPARAM>(lower), static_cast<LPARAM>(upper));
}

void Win32DialogControls::SetBuddy(int id, int buddyId, bool setBuddyInt) {
    HWND w = Control(id);
    HWND buddy = Control(buddyId);
    if (!w) return;
    // The layer writes the whole numbers itself (RouteScroll), the same way on every system;
    // the control's own buddy integer stays off so that nothing writes twice.
    ::SetWindowLongPtrW(w, GWL_STYLE, ::GetWindowLongPtrW(w, GWL_STYLE) & ~static_cast<LONG_PTR>(UDS_SETBUDDYINT));
    if (setBuddyInt && buddy) m_BuddyInt[id] = buddyId;
    else m_BuddyInt.erase(id);
    // Setting the same buddy again would make an aligned up-down shrink it once more.
    if (reinterpret_cast<HWND>(::SendMessageW(w, UDM_GETBUDDY, 0, 0)) != buddy)
        ::SendMessageW(w, UDM_SETBUDDY, reinterpret_cast<WPARAM>(buddy), 0);
}

int Win32DialogControls::ColumnCount(int id) const {
    HWND w = Control(id);
    HWND header = w ? reinterpret_cast<HWND>(::SendMessageW(w, LVM_GETHEADER, 0, 0)) : nullptr;
    return header ? static_cast<int>(::SendMessageW(header, HDM_GETITEMCOUNT, 0, 0)) : 0;
}

void Win32DialogControls::SetColumns(int id, const std::vector<std::string>& heads) {
    HWND w = Control(id);
    if (!w) return;
    ListView_DeleteAllItems(w);
    for (int n = ColumnCount(id); n > 0; --n) ListView_DeleteColumn(w, n - 1);
    RECT r{};
    ::GetClientRect(w, &r);
    const int width = heads.empty() ? 0 : (r.right - r.left) / static_cast<int>(heads.size());
    for (size_t i = 0; i < heads.size(); ++i) {
        std::wstring text = Wide(heads[i]);
        LVCOLUMNW col{};
        col.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
        col.pszText = text.data();
        col.cx = width;
        col.iSubItem = static_cast<int>(i);
        ::SendMessageW(w, LVM_INSERTCOLUMNW, i, reinterpret_cast<LPARAM>(&col));
    }
}

void Win32DialogControls::ClearRows(int id) {
    if (HWND w = Control(id)) ListView_DeleteAllItems(w);
}

void Win32DialogControls::AddRow(int id, const std::vector<std::string>& cells, int image) {
    HWND w = Control(id);
    if (!w) return;
    LVITEMW item{};
    item.mask = LVIF_TEXT | LVIF_IMAGE;
    item.iItem = RowCount(id);
    std::wstring first = cells.empty() ? std::wstring() : Wide(cells[0]);
    item.pszText = first.data();
    item.iImage = image;
    const int row = static_cast<int>(::SendMessageW(w, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
    for (size_t c = 1; c < cells.size(); ++c) SetCellText(id, row, static_cast<int>(c), cells[c]);
}

int Win32DialogControls::RowCount(int id) const {
    HWND w = Control(id);
    return w ? ListView_GetItemCount(w) : 0;
}

std::string Win32DialogControls::CellText(int id, int row, int column) const {
    HWND w = Control(id);
    if (!w || row < 0 || row >= RowCount(id)) return {};
    wchar_t buffer[512] = {};
    LVITEMW item{};
    item.iSubItem = column;
    item.pszText = buffer;
    item.cchTextMax = static_cast<int>(std::size(buffer));
    ::SendMessageW(w, LVM_GETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
    return Utf8(buffer);
}

void Win32DialogControls::SetCellText(int id, int row, int column, std::string_view text) {
    HWND w = Control(id);
    if (!w || row < 0 || row >= RowCount(id)) return;
    std::wstring wide = Wide(text);
    LVITEMW item{};
    item.iSubItem = column;
    item.pszText = wide.data();
    ::SendMessageW(w, LVM_SETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
}

void Win32DialogControls::SetRowImage(int id, int row, int image) {
    HWND w = Control(id);
    if (!w || row < 0 || row >= RowCount(id)) return;
    LVITEMW item{};
    item.mask = LVIF_IMAGE;
    item.iItem = row;
    item.iImage = image;
    ::SendMessageW(w, LVM_SETITEMW, 0, reinterpret_cast<LPARAM>(&item));
}

void Win32DialogControls::WaitCursor(bool on) {
    if (on) {
        if (m_WaitDepth++ == 0) m_CursorBeforeWait = ::SetCursor(::LoadCursorW(nullptr, IDC_WAIT));
    } else if (m_WaitDepth > 0 && --m_WaitDepth == 0) {
        ::SetCursor(m_CursorBeforeWait ? m_CursorBeforeWait : ::LoadCursorW(nullptr, IDC_ARROW));
    }
}

std::string Win32DialogControls::Caption() const { return Utf8(WindowText(m_Dialog)); }

ClientBox Win32DialogControls::ClientArea() const {
    RECT r{};
    if (m_Dialog) ::GetClientRect(m_Dialog, &r);
    return {r.left, r.top, r.right, r.bottom};
}

ClientBox Win32DialogControls::ControlBox(int id) const {
    HWND w = Control(id);
    if (!w) return {};
    RECT r{};
    ::GetWindowRect(w, &r);
    ::MapWindowPoints(HWND_DESKTOP, m_Dialog, reinterpret_cast<POINT*>(&r), 2);
    return {r.left, r.top, r.right, r.bottom};
}

void Win32DialogControls::Redraw() {
    if (m_Dialog) ::InvalidateRect(m_Dialog, nullptr, TRUE);
}

void Win32DialogControls::Message(std::string_view text, std::string_view caption, MessageIcon icon) {
    if (m_Message) m_Message(m_Dialog, caption.empty() ? m_ProgramName : Wide(caption), Wide(text), IconStyle(icon));
}

void Win32DialogControls::EndDialog(int result) {
    m_EndResult = result;
    if (!m_Dialog) return;
    if (m_Modal) ::EndDialog(m_Dialog, result);
    else ::ShowWindow(m_Dialog, SW_HIDE);
}

Win32RulesDialog::Win32RulesDialog(const DialogTemplate& t, DWORD extraStyle)
    : m_Ctl(t), m_Template(t), m_ExtraStyle(extraStyle) {
    InitDialogControlClasses();
}

LPCDLGTEMPLATEW Win32RulesDialog::BuildBytes() {
    m_Bytes = BuildDialogTemplateEx(m_Template, m_ExtraStyle, m_Look ? m_Look->Scale() : kDefaultUiScale);
    return reinterpret_cast<LPCDLGTEMPLATEW>(m_Bytes.data());
}

Win32RulesDialog::~Win32RulesDialog() {
    if (m_Modeless && Window()) ::DestroyWindow(Window());
}

HWND Win32RulesDialog::Create(HWND owner) {
    m_Modeless = true;
    m_Ctl.SetModal(false);
    return ::CreateDialogIndirectParamW(::GetModuleHandleW(nullptr), BuildBytes(), owner, &DialogProc, reinterpret_cast<LPARAM>(this));
}

INT_PTR Win32RulesDialog::RunModal(HWND owner) {
    m_Ctl.SetModal(true);
    const INT_PTR r = ::DialogBoxIndirectParamW(::GetModuleHandleW(nullptr), BuildBytes(), owner, &DialogProc, reinterpret_cast<LPARAM>(this));
    m_Ctl.SetWindow(nullptr);
    return r;
}

void SetProgramIcon(HWND window) {
    HINSTANCE module = ::GetModuleHandleW(nullptr);
    for (const auto& [which, cx, cy] :
         {std::tuple{ICON_BIG, SM_CXICON, SM_CYICON}, std::tuple{ICON_SMALL, SM_CXSMICON, SM_CYSMICON}}) {
        // Shared: loaded once per size, and never destroyed while the program runs.
        HANDLE icon = ::LoadImageW(module, MAKEINTRESOURCEW(kProgramIconId), IMAGE_ICON, ::GetSystemMetrics(cx),
                                   ::GetSystemMetrics(cy), LR_SHARED);
        if (icon) ::SendMessageW(window, WM_SETICON, which, reinterpret_cast<LPARAM>(icon));
    }
}

HMENU Win32RulesDialog::BuildContextMenu() const {
    HMENU menu = m_Look ? m_Look->BuildMenu(HasScaleMenu()) : ::CreatePopupMenu();
    if (!menu) return nullptr;
    AddMenuEntries(menu);
    if (::GetMenuItemCount(menu) > 0) return menu;
    ::DestroyMenu(menu);
    return nullptr;
}

INT_PTR CALLBACK Win32RulesDialog::DialogProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_INITDIALOG) {
        auto* self = reinterpret_cast<Win32RulesDialog*>(lParam);
        ::SetWindowLongPtrW(hwnd, DWLP_USER, lParam);
        self->m_Ctl.SetWindow(hwnd);
        SetProgramIcon(hwnd);
    }
    auto* self = reinterpret_cast<Win32RulesDialog*>(::GetWindowLongPtrW(hwnd, DWLP_USER));
    if (!self) return FALSE;
    const INT_PTR r = self->Handle(msg, wParam, lParam);
    if (msg == WM_INITDIALOG && self->m_Look) self->m_Look->Attach(hwnd);
    if (msg == WM_NCDESTROY) {
        if (self->m_Look) self->m_Look->Detach(hwnd);
        ::SetWindowLongPtrW(hwnd, DWLP_USER, 0);
        self->m_Ctl.SetWindow(nullptr);
    }
    return r;
}

INT_PTR Win32RulesDialog::Handle(UINT msg, WPARAM wParam, LPARAM lParam) {
    INT_PTR own = 0;
    if (OnMessage(msg, wParam, lParam, own)) return own;
    switch (msg) {
    case WM_INITDIALOG:
        Initialize();
        return TRUE;
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORBTN:
        // A dialog procedure answers these with the brush itself.
        return m_Look ? reinterpret_cast<INT_PTR>(m_Look->ControlColours(reinterpret_cast<HDC>(wParam))) : FALSE;
    case WM_DRAWITEM:
        return m_Look && m_Look->DrawButton(*reinterpret_cast<const DRAWITEMSTRUCT*>(lParam)) ? TRUE : FALSE;
    case WM_CONTEXTMENU:
        // The window's background only: the controls keep their own menus.
        if (reinterpret_cast<HWND>(wParam) != Window()) return FALSE;
        if (HMENU menu = BuildContextMenu()) {
            POINT at{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
            if (at.x == -1 && at.y == -1) {  // from the keyboard: the window's corner
                at = {0, 0};
                ::ClientToScreen(Window(), &at);
            }
            const UINT chosen = static_cast<UINT>(::TrackPopupMenu(
                menu, TPM_RETURNCMD | TPM_RIGHTBUTTON | TPM_NONOTIFY, at.x, at.y, 0, Window(), nullptr));
            ::DestroyMenu(menu);
            if (chosen != 0) ::SendMessageW(Window(), WM_COMMAND, MAKEWPARAM(chosen, 0), 0);
            return TRUE;
        }
        return FALSE;
    case WM_COMMAND:
        // The context menu's night switch (a menu's command comes without a control).
        if (lParam == 0 && m_Look && m_Look->OnCommand(LOWORD(wParam))) return TRUE;
        if (m_Ctl.RouteCommand(wParam, lParam)) return TRUE;
        if (!m_Rules && LOWORD(wParam) == IDCANCEL) {
            m_Ctl.EndDialog(kIdCancel);
            return TRUE;
        }
        return FALSE;
    case WM_VSCROLL:
    case WM_HSCROLL:
        if (lParam) m_Ctl.RouteScroll(reinterpret_cast<HWND>(lParam));
        return FALSE;
    case WM_NOTIFY: {
        LRESULT result = 0;
        if (!m_Ctl.RouteNotify(*reinterpret_cast<const NMHDR*>(lParam), result)) return FALSE;
        ::SetWindowLongPtrW(Window(), DWLP_MSGRESULT, result);
        return TRUE;
    }
    default:
        return FALSE;
    }
}

}  // namespace velq3::ui
