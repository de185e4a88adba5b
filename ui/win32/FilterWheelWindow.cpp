// The main control window in Win32.
#include "ui/win32/FilterWheelWindow.h"

#include <commctrl.h>

#include <algorithm>

#include "link/Records.h"
#include "ui/DialogTemplates.h"
#include "ui/win32/CommonDialogs.h"
#include "ui/win32/DialogTemplateEx.h"
#include "ui/win32/SettingsDialogs.h"
#include "ui/win32/Win32Look.h"

namespace velq3::ui {

namespace {

// The end of a modal run that is followed at once by a run at another scale.
constexpr INT_PTR kRebuildResult = 0x7E7E;
constexpr int kFilterCountLimit = kImageFilterSlots;
constexpr int kColourMemorySize = 174;  // filter colours when the image is at least this large
constexpr int kCellInset = 5;           // editor inset from the cell's left and right
constexpr int kCellRangeLow = -1000, kCellRangeHigh = 1000;

// The window whose keys the thread's message hook examines: the one main window there is at a
// time (a message hook has no context of its own).
CWin32FilterWheelDlg* g_KeyWindow = nullptr;

LRESULT CALLBACK KeyHook(int code, WPARAM wParam, LPARAM lParam) {
    if (code >= 0 && g_KeyWindow && g_KeyWindow->PreTranslateKey(*reinterpret_cast<const MSG*>(lParam))) return 1;
    return ::CallNextHookEx(nullptr, code, wParam, lParam);
}

// The two row images: an ordinary filter (grey disc) and the filter in the light path (green
// disc with a white centre), 16 pixels.
HIMAGELIST MakeRowImages() {
    HIMAGELIST list = ::ImageList_Create(16, 16, ILC_COLOR24 | ILC_MASK, 2, 0);
    HDC screen = ::GetDC(nullptr);
    for (int i = 0; i < 2; ++i) {
        HDC dc = ::CreateCompatibleDC(screen);
        HBITMAP bitmap = ::CreateCompatibleBitmap(screen, 16, 16);
        HGDIOBJ oldBitmap = ::SelectObject(dc, bitmap);
        const RECT all{0, 0, 16, 16};
        HBRUSH mask = ::CreateSolidBrush(RGB(255, 0, 255));
        ::FillRect(dc, &all, mask);
        ::DeleteObject(mask);
        HPEN pen = ::CreatePen(PS_SOLID, 1, RGB(90, 90, 90));
        HBRUSH fill = ::CreateSolidBrush(i == 0 ? RGB(220, 220, 220) : RGB(40, 170, 60));
        HGDIOBJ oldPen = ::SelectObject(dc, pen);
        HGDIOBJ oldBrush = ::SelectObject(dc, fill);
        ::Ellipse(dc, 2, 2, 14, 14);
        if (i == 1) {
            ::SelectObject(dc, ::GetStockObject(WHITE_BRUSH));
            ::SelectObject(dc, ::GetStockObject(NULL_PEN));
            ::Ellipse(dc, 6, 6, 11, 11);
        }
        ::SelectObject(dc, oldBrush);
        ::SelectObject(dc, oldPen);
        ::DeleteObject(fill);
        ::DeleteObject(pen);
        ::SelectObject(dc, oldBitmap);
        ::DeleteDC(dc);
        ::ImageList_AddMasked(list, bitmap, RGB(255, 0, 255));
        ::DeleteObject(bitmap);
    }
    ::ReleaseDC(nullptr, screen);
    return list;
}

// Black or white text, whichever reads on `background`.
COLORREF TextOn(COLORREF background) {
    const int light = (GetRValue(background) * 299 + GetGValue(background) * 587 + GetBValue(background) * 114) / 1000;
    return light < 128 ? RGB(255, 255, 255) : RGB(0, 0, 0);
}

}  // namespace

// The dialog itself: its messages go to the window object first.
class CWin32FilterWheelDlg::CWindow : public Win32RulesDialog {
public:
    explicit CWindow(CWin32FilterWheelDlg& owner)
        : Win32RulesDialog(kFilterWheelDlgTemplate, WS_MINIMIZEBOX), m_Owner(owner) {}

protected:
    void Initialize() override { m_Owner.InitWindow(); }
    bool OnMessage(UINT msg, WPARAM wParam, LPARAM lParam, INT_PTR& result) override {
        return m_Owner.OnWindowMessage(msg, wParam, lParam, result);
    }
    bool HasScaleMenu() const override { return true; }

private:
    CWin32FilterWheelDlg& m_Owner;
};

CWin32FilterWheelDlg::CWin32FilterWheelDlg(OrnFilterWheel& device, MainLoop& loop, PollOn pollOn)
    : CWindowPollLoop(loop),
      FilterWheelRules(device, pollOn == PollOn::WindowTimer ? static_cast<MainLoop&>(pollTimers) : loop),
      m_WindowTimers(pollOn == PollOn::WindowTimer) {
    m_ChooseColour = [](COLORREF initial, HWND owner) { return ChooseColourFor(owner, initial); };
    m_ChooseFile = [](bool save, HWND owner) { return ChooseSettingsFileFor(owner, save); };
}

CWin32FilterWheelDlg::~CWin32FilterWheelDlg() {
    DetachWindow();
    if (m_Images) ::ImageList_Destroy(m_Images);
}

bool CWin32FilterWheelDlg::WindowExists() const { return m_Window && m_Window->Window(); }
HWND CWin32FilterWheelDlg::Window() const { return m_Window ? m_Window->Window() : nullptr; }
Win32DialogControls* CWin32FilterWheelDlg::Controls() const { return WindowExists() ? &m_Window->Controls() : nullptr; }
HWND CWin32FilterWheelDlg::Item(int id) const { return Window() ? ::GetDlgItem(Window(), id) : nullptr; }

// ---- window lifetime ------------------------------------------------------------------------

void CWin32FilterWheelDlg::InitWindow() {
    Win32DialogControls& ctl = m_Window->Controls();
    if (m_WindowTimers) pollTimers.Bind(Window());
    if (m_MessageHook) ctl.SetMessageHook(m_MessageHook);
    SetControls(&ctl);
    HWND list = Item(idc::kFilterList);
    ListView_SetExtendedListViewStyle(list, LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES);
    if (!m_Images) m_Images = MakeRowImages();
    ListView_SetImageList(list, m_Images, LVSIL_SMALL);
    FillPortList();
    ctl.Attach(this);
    if (!m_KeyHook) {
        g_KeyWindow = this;
        m_KeyHook = ::SetWindowsHookExW(WH_MSGFILTER, &KeyHook, nullptr, ::GetCurrentThreadId());
    }
    OnInitWindow();
    wchar_t title[256] = {};
    ::GetWindowTextW(Window(), title, 256);
    m_BaseTitle = title;
    SetTitleNote(m_TitleNote);
    ApplyWindowOrder();
    if (m_FW.IsOpen()) ctl.Focus(idc::kPosition);
    if (m_Rebuild) RestoreAfterRebuild();
}

void CWin32FilterWheelDlg::RestoreAfterRebuild() {
    const Rebuild before = *m_Rebuild;
    m_Rebuild.reset();
    ::SetWindowPos(Window(), nullptr, before.topLeft.x, before.topLeft.y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    // The port shown but not yet connected to is the operator's, not the stored one.
    PortIndex = before.portIndex;
    ExchangeData(Transfer::ToControls);
    if (before.graphShown) {
        OnGraphs();
        if (m_Graph && m_Graph->Window())
            ::SetWindowPos(m_Graph->Window(), nullptr, before.graphTopLeft.x, before.graphTopLeft.y, 0, 0,
                           SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
}

void CWin32FilterWheelDlg::OnUiScale(int percent) {
    if (!m_Look || !Window() || m_ModalChildren > 0) return;
    const int before = m_Look->Scale();
    m_Look->ChooseScale(percent);
    if (m_Look->Scale() == before) return;
    CommitCellEdit();
    ExchangeData(Transfer::ToFields);
    Rebuild rebuild;
    RECT frame{};
    ::GetWindowRect(Window(), &frame);
    rebuild.topLeft = {frame.left, frame.top};
    rebuild.owner = ::GetWindow(Window(), GW_OWNER);
    rebuild.portIndex = PortIndex;
    if (m_Graph && m_Graph->Visible()) {
        rebuild.graphShown = true;
        ::GetWindowRect(m_Graph->Window(), &frame);
        rebuild.graphTopLeft = {frame.left, frame.top};
    }
    m_Rebuild = rebuild;
    if (m_RunningModal) {
        // RunModal runs the window again when this run has ended.
        ::EndDialog(Window(), kRebuildResult);
        return;
    }
    m_Rebuilding = true;
    DetachWindow();
    m_Rebuilding = false;
    if (!CreateModeless(rebuild.owner)) {
        m_Rebuild.reset();
        if (OnWindowGone) OnWindowGone();
    }
}

void CWin32FilterWheelDlg::SetTitleNote(const std::string& note) {
    m_TitleNote = note;
    if (!Window()) return;
    const std::wstring title = note.empty() ? m_BaseTitle : m_BaseTitle + L" - " + Wide(note);
    ::SetWindowTextW(Window(), title.c_str());
}

// "Auto" and COM1..COM15; rows are the port indexes the window stores.
void CWin32FilterWheelDlg::FillPortList() {
    std::vector<std::string> names{"Auto"};
    for (int n = 1; n <= 15; ++n) names.push_back(m_FW.DescribePort(n).name);
    m_Window->Controls().SetItems(idc::kPortList, names);
}

void CWin32FilterWheelDlg::ApplyWindowOrder() {
    if (!Window()) return;
    ::SetWindowPos(Window(), m_FW.OnTop ? HWND_TOPMOST : HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    ::ShowWindow(Window(), SW_SHOW);
    ::SetForegroundWindow(Window());
}

int CWin32FilterWheelDlg::RunModal(HWND owner) {
    if (WindowExists()) {
        BringToFront();
        return kIdCancel;
    }
    for (;;) {
        m_Window = std::make_unique<CWindow>(*this);
        m_Window->SetLook(m_Look);
        m_RunningModal = true;
        const INT_PTR result = m_Window->RunModal(owner);
        m_RunningModal = false;
        // Ended for a new scale: the same run goes on in a window built at it.
        const bool again = result == kRebuildResult && m_Rebuild;
        m_Rebuilding = again;
        DetachWindow();
        m_Rebuilding = false;
        if (!again) {
            m_Rebuild.reset();
            return static_cast<int>(result);
        }
    }
}

bool CWin32FilterWheelDlg::CreateModeless(HWND owner) {
    if (WindowExists()) return false;
    m_Window = std::make_unique<CWindow>(*this);
    m_Window->SetLook(m_Look);
    if (!m_Window->Create(owner)) {
        m_Window.reset();
        return false;
    }
    return true;
}

void CWin32FilterWheelDlg::DetachWindow() {
    if (m_Detaching) return;
    if (m_ModalChildren > 0) {
        // Destroying the window now would destroy the dialog that is running on it.
        m_DetachPending = true;
        if (Window()) ::ShowWindow(Window(), SW_HIDE);
        return;
    }
    m_Detaching = true;
    m_DetachPending = false;
    StopPoll();
    pollTimers.Bind(nullptr);
    if (m_KeyHook) {
        ::UnhookWindowsHookEx(m_KeyHook);
        m_KeyHook = nullptr;
        g_KeyWindow = nullptr;
    }
    m_CellEdit = m_CellSpin = nullptr;  // children of the window: they go with it
    SetControls(nullptr);
    m_Graph.reset();
    const bool wasModeless = m_Window && !m_RunningModal;
    m_Window.reset();  // a modeless window is destroyed with its object
    m_Detaching = false;
    if (wasModeless && !m_Rebuilding && OnWindowGone) OnWindowGone();
}

void CWin32FilterWheelDlg::ShowForClient() {
    if (WindowExists()) return;
    OpenedForClient = true;
    CreateModeless(nullptr);
}

void CWin32FilterWheelDlg::HideForClient() {
    if (WindowExists() && OpenedForClient) {
        ExchangeData(Transfer::ToFields);
        if (m_RunningModal) ::EndDialog(Window(), kIdCancel);
        else DetachWindow();
    }
    OpenedForClient = false;
}

void CWin32FilterWheelDlg::BringToFront() {
    if (WindowExists()) ApplyWindowOrder();
    else RunModal();
}

// ---- the filter list ------------------------------------------------------------------------

void CWin32FilterWheelDlg::FitFilterColumns() {
    HWND list = Item(idc::kFilterList);
    if (!list) return;
    const int columns = WindowControls() ? WindowControls()->ColumnCount(idc::kFilterList) : 0;
    if (columns < 2) return;
    RECT client{};
    ::GetClientRect(list, &client);
    const int each = (client.right - kNumberColumnWidth) / (columns - 1);
    for (int c = 0; c < columns; ++c) ListView_SetColumnWidth(list, c, c == 1 ? kNumberColumnWidth : each);
}

void CWin32FilterWheelDlg::FilterListFilled(bool) { FitFilterColumns(); }

std::optional<COLORREF> CWin32FilterWheelDlg::FilterColour(int row) const {
    // Colours exist only in images that reach them; a smaller image would show stale bytes.
    if (m_FW.m_MemorySize < kColourMemorySize) return std::nullopt;
    if (row < 0 || row >= FilterCountFromMode(m_FW.Mode) || row >= kFilterCountLimit) return std::nullopt;
    return ColourFrom565(m_FW.FilterColor[row]);
}

void CWin32FilterWheelDlg::EditColour(int row) {
    if (row < 0 || row >= kFilterCountLimit) return;
    const COLORREF initial = ColourFrom565(m_FW.FilterColor[row]);
    PollingEnabled = 0;
    ++m_ModalChildren;
    const std::optional<COLORREF> chosen = m_ChooseColour(initial, Window());
    --m_ModalChildren;
    PollingEnabled = 1;
    if (m_DetachPending) {
        DetachWindow();
        return;
    }
    if (!chosen) return;
    m_FW.FilterColor[row] = ColourTo565(*chosen);
    m_FW.WriteMemoryImage(true);
    if (HWND list = Item(idc::kFilterList)) ::InvalidateRect(list, nullptr, TRUE);
}

void CWin32FilterWheelDlg::BeginCellEdit(int row, int column) {
    HWND list = Item(idc::kFilterList);
    if (!list || row < 0 || column < 1) return;
    if (column == 1 && m_FW.m_MemorySize >= kColourMemorySize) {
        EditColour(row);
        return;
    }
    CommitCellEdit();
    RECT cell{};
    if (!ListView_GetSubItemRect(list, row, column, LVIR_BOUNDS, &cell)) return;
    ::MapWindowPoints(list, Window(), reinterpret_cast<POINT*>(&cell), 2);
    cell.left += kCellInset;
    cell.right -= kCellInset;
    EditRow = row;
    EditColumn = column;
    const std::wstring text = Wide(WindowControls()->CellText(idc::kFilterList, row, column));
    HINSTANCE instance = ::GetModuleHandleW(nullptr);
    m_CellEdit = ::CreateWindowExW(0, L"Edit", text.c_str(), WS_CHILD | WS_VISIBLE | WS_BORDER | ES_AUTOHSCROLL,
                                   cell.left, cell.top, cell.right - cell.left, cell.bottom - cell.top, Window(),
                                   reinterpret_cast<HMENU>(static_cast<INT_PTR>(idc::kCellEdit)), instance, nullptr);
    m_CellSpin = ::CreateWindowExW(0, UPDOWN_CLASSW, L"",
                                   WS_CHILD | WS_VISIBLE | UDS_ALIGNRIGHT | UDS_ARROWKEYS | UDS_SETBUDDYINT | UDS_NOTHOUSANDS,
                                   0, 0, 0, 0, Window(), reinterpret_cast<HMENU>(static_cast<INT_PTR>(idc::kCellSpin)),
                                   instance, nullptr);
    ::SendMessageW(m_CellEdit, WM_SETFONT, ::SendMessageW(Window(), WM_GETFONT, 0, 0), FALSE);
    ::SendMessageW(m_CellSpin, UDM_SETRANGE32, static_cast<WPARAM>(kCellRangeLow), kCellRangeHigh);
    ::SendMessageW(m_CellSpin, UDM_SETBUDDY, reinterpret_cast<WPARAM>(m_CellEdit), 0);
    // Over the list.
    ::SetWindowPos(m_CellEdit, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    ::SetWindowPos(m_CellSpin, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    ::SetFocus(m_CellEdit);
    ::SendMessageW(m_CellEdit, EM_SETSEL, 0, -1);
}

void CWin32FilterWheelDlg::CommitCellEdit() {
    if (!m_CellEdit) return;
    wchar_t text[64] = {};
    ::GetWindowTextW(m_CellEdit, text, 64);
    HWND edit = m_CellEdit, spin = m_CellSpin;
    m_CellEdit = m_CellSpin = nullptr;
    ::DestroyWindow(spin);
    ::DestroyWindow(edit);
    CommitCellText(Utf8(text));
}

void CWin32FilterWheelDlg::CancelCellEdit() {
    if (!m_CellEdit) return;
    HWND edit = m_CellEdit, spin = m_CellSpin;
    m_CellEdit = m_CellSpin = nullptr;
    if (HWND list = Item(idc::kFilterList)) ::SetFocus(list);
    ::DestroyWindow(spin);
    ::DestroyWindow(edit);
    EditRow = -1;
    EditColumn = -1;
}

void CWin32FilterWheelDlg::AfterPoll() {
    // The edit ends when the operator has moved elsewhere.
    if (m_CellEdit && ::GetFocus() != m_CellEdit && ::GetFocus() != m_CellSpin) CommitCellEdit();
}

bool CWin32FilterWheelDlg::OnListNotify(const NMHDR& header, LRESULT& result) {
    switch (header.code) {
    case NM_CUSTOMDRAW: {
        // The "#" cells in the filters' colours, their numbers readable on them.
        auto& cd = const_cast<NMLVCUSTOMDRAW&>(reinterpret_cast<const NMLVCUSTOMDRAW&>(header));
        if (cd.nmcd.dwDrawStage == CDDS_PREPAINT) {
            result = CDRF_NOTIFYITEMDRAW;
        } else if (cd.nmcd.dwDrawStage == CDDS_ITEMPREPAINT) {
            result = CDRF_NOTIFYSUBITEMDRAW;
        } else if (cd.nmcd.dwDrawStage == (CDDS_ITEMPREPAINT | CDDS_SUBITEM)) {
            const std::optional<COLORREF> colour =
                cd.iSubItem == 1 ? FilterColour(static_cast<int>(cd.nmcd.dwItemSpec)) : std::nullopt;
            if (m_Look && m_Look->Night()) {
                // At night a dim red of the colour's lightness, under the night text.
                cd.clrTextBk = colour ? m_Look->AreaColour(*colour) : m_Look->BackgroundColour();
                cd.clrText = m_Look->TextColour();
            } else {
                cd.clrTextBk = colour ? *colour : ::GetSysColor(COLOR_WINDOW);
                cd.clrText = colour ? TextOn(*colour) : ::GetSysColor(COLOR_WINDOWTEXT);
            }
            result = CDRF_NEWFONT;
        } else {
            result = CDRF_DODEFAULT;
        }
        return true;
    }
    case NM_CLICK:
    case NM_DBLCLK: {
        const auto& item = reinterpret_cast<const NMITEMACTIVATE&>(header);
        LVHITTESTINFO hit{};
        hit.pt = item.ptAction;
        ListView_SubItemHitTest(header.hwndFrom, &hit);
        if (header.code == NM_DBLCLK && hit.iItem >= 0) {
            ActivateFilter(hit.iItem);
        } else if (header.code == NM_CLICK && hit.iItem >= 0 && hit.iSubItem >= 1) {
            BeginCellEdit(hit.iItem, hit.iSubItem);
        }
        result = 0;
        return true;
    }
    case LVN_ENDLABELEDITW: {
        // Names edit in place in the first column; the rules store them and show them.
        const auto& info = reinterpret_cast<const NMLVDISPINFOW&>(header);
        if (info.item.pszText) OnLabelEditEnded(info.item.iItem, Utf8(info.item.pszText));
        result = FALSE;
        return true;
    }
    default:
        return false;
    }
}

bool CWin32FilterWheelDlg::OnWindowMessage(UINT msg, WPARAM wParam, LPARAM lParam, INT_PTR& result) {
    switch (msg) {
    case WM_NOTIFY: {
        const auto& header = *reinterpret_cast<const NMHDR*>(lParam);
        LRESULT answer = 0;
        if (static_cast<int>(header.idFrom) != idc::kFilterList || !OnListNotify(header, answer)) return false;
        ::SetWindowLongPtrW(Window(), DWLP_MSGRESULT, answer);
        result = TRUE;
        return true;
    }
    case WM_COMMAND: {
        const int id = LOWORD(wParam);
        if (id == idc::kCellEdit || id == idc::kCellSpin) {
            // The editor's own notifications: it ends at the poll after the focus left it.
            result = TRUE;
            return true;
        }
        if (lParam == 0 && m_Look) {
            // The context menu's scale entries.
            if (const std::optional<int> percent = m_Look->ScaleOfCommand(static_cast<UINT>(id))) {
                OnUiScale(*percent);
                result = TRUE;
                return true;
            }
        }
        if (id == IDOK && m_CellEdit) {
            // Enter ends the cell edit.
            CommitCellEdit();
            result = TRUE;
            return true;
        }
        return false;
    }
    case WM_TIMER:
        if (!pollTimers.Fire(wParam)) return false;
        result = TRUE;
        return true;
    case WM_VSCROLL:
        if (reinterpret_cast<HWND>(lParam) == m_CellSpin && m_CellSpin && m_CellEdit) {
            const int pos = static_cast<int>(::SendMessageW(m_CellSpin, UDM_GETPOS32, 0, 0));
            ::SetWindowTextW(m_CellEdit, std::to_wstring(pos).c_str());
        }
        return false;
    case WM_DESTROY:
        if (!m_RunningModal && !m_Detaching && m_Window) {
            // The window went without Exit (the system closed it): the object forgets it.
            m_CellEdit = m_CellSpin = nullptr;
        }
        return false;
    default:
        return false;
    }
}

bool CWin32FilterWheelDlg::PreTranslateKey(const MSG& msg) {
    HWND window = Window();
    if (!window || msg.message != WM_KEYDOWN) return false;
    if (msg.hwnd != window && !::IsChild(window, msg.hwnd)) return false;
    const UINT key = static_cast<UINT>(msg.wParam);
    // Esc in the cell editor cancels that edit; it would otherwise end the window.
    if (key == VK_ESCAPE && m_CellEdit && (msg.hwnd == m_CellEdit || msg.hwnd == m_CellSpin)) {
        CancelCellEdit();
        return true;
    }
    if (key == VK_RETURN && m_CellEdit && msg.hwnd == m_CellEdit) {
        CommitCellEdit();
        return true;
    }
    const bool inPosition = msg.hwnd == Item(idc::kPosition);
    const bool ctrl = (::GetKeyState(VK_CONTROL) & 0x8000) != 0;
    // Ctrl++ (also Ctrl+= and the keypad's +) and Ctrl+- change the scale, as the menu does;
    // the window is built again after the key has been handled.
    if (ctrl && m_Look && (key == VK_OEM_PLUS || key == VK_ADD || key == VK_OEM_MINUS || key == VK_SUBTRACT)) {
        const bool larger = key == VK_OEM_PLUS || key == VK_ADD;
        ::PostMessageW(window, WM_COMMAND, MAKEWPARAM(larger ? Win32Look::kLargerCommand : Win32Look::kSmallerCommand, 0), 0);
        return true;
    }
    if (key == VK_RETURN) return OnWindowKey(WindowKey::Enter, 0, inPosition, ctrl);
    if (key >= '0' && key <= '9') return OnWindowKey(WindowKey::Digit, static_cast<int>(key - '0'), inPosition, ctrl);
    if (key == VK_LEFT) return OnWindowKey(WindowKey::Left, 0, inPosition, ctrl);
    if (key == VK_RIGHT) return OnWindowKey(WindowKey::Right, 0, inPosition, ctrl);
    return false;
}

// ---- command handlers -----------------------------------------------------------------------

void CWin32FilterWheelDlg::ShowPermissionProblem() {}

void CWin32FilterWheelDlg::OnCancel() {
    // Esc and the close box count only while the Exit button could be pressed.
    if (Window() && !::IsWindowEnabled(Item(idc::kExit))) return;
    OnExit();
}

void CWin32FilterWheelDlg::OnExit() {
    if (!Window()) return;
    CommitCellEdit();
    ExchangeData(Transfer::ToFields);
    m_FW.ComPort = PortIndex;
    m_FW.DisconnectMulti(ClientKey());
    if (m_RunningModal) ::EndDialog(Window(), kIdCancel);
    else DetachWindow();
}

void CWin32FilterWheelDlg::OnOnTop() {
    ExchangeData(Transfer::ToFields);
    ApplyWindowOrder();
}

int CWin32FilterWheelDlg::RunModalChild(const std::function<int(HWND owner)>& run) {
    PollingEnabled = 0;
    ++m_ModalChildren;
    const int result = run(Window());
    --m_ModalChildren;
    PollingEnabled = 1;
    if (m_ModalChildren == 0 && m_DetachPending) {
        DetachWindow();
        return result;
    }
    ExchangeData(Transfer::ToControls);
    RefillFilterList();
    return result;
}

std::optional<std::string> CWin32FilterWheelDlg::ChooseSettingsFile(bool save) { return m_ChooseFile(save, Window()); }

void CWin32FilterWheelDlg::RunModalStep(const std::function<void()>& step) {
    PollingEnabled = 0;
    ++m_ModalChildren;
    step();
    --m_ModalChildren;
    PollingEnabled = 1;
    if (m_ModalChildren == 0 && m_DetachPending) DetachWindow();
}

void CWin32FilterWheelDlg::OnWheelSettings() {
    RunModalChild([this](HWND owner) {
        CWin32FilterWheelSettingsDlg dialog(m_FW);
        dialog.SetLook(m_Look);
        if (m_MessageHook) dialog.Controls().SetMessageHook(m_MessageHook);
        return static_cast<int>(dialog.RunModal(owner));
    });
}

void CWin32FilterWheelDlg::OnFocuserSettings() {
    RunModalChild([this](HWND owner) {
        CWin32FocuserSettingsDlg dialog(m_FW);
        dialog.SetLook(m_Look);
        if (m_MessageHook) dialog.Controls().SetMessageHook(m_MessageHook);
        return static_cast<int>(dialog.RunModal(owner));
    });
}

void CWin32FilterWheelDlg::OnHeater() {
    RunModalChild([this](HWND owner) {
        CWin32HeaterControlDlg dialog(m_FW);
        dialog.SetLook(m_Look);
        if (m_MessageHook) dialog.Controls().SetMessageHook(m_MessageHook);
        return static_cast<int>(dialog.RunModal(owner));
    });
}

void CWin32FilterWheelDlg::OnGraphs() {
    ExchangeData(Transfer::ToFields);
    if (!m_Graph) {
        m_Graph = std::make_unique<CWin32TermGraph>(m_FW);
        m_Graph->SetLook(m_Look);
    }
    m_Graph->ToggleVisible(Window());
}

}  // namespace velq3::ui
