// The Win32 layer of the dialogs: the control operations over a dialog built from its template
// (DialogTemplateEx), the controls' notifications routed to the dialog's rules, and the dialog
// that hosts them, modal or modeless.
#pragma once

#include <windows.h>

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "ui/DialogControls.h"
#include "ui/DialogTemplate.h"

namespace velq3::ui {

class Win32Look;

// Registers the common control classes the templates use (up-down, list view); once per process.
void InitDialogControlClasses();

// The program's icon resource (the windows' icon), in each program that opens the windows.
inline constexpr int kProgramIconId = 1;
// Gives `window` the program's icon, large and small; nothing when the program has none.
void SetProgramIcon(HWND window);

class Win32DialogControls : public DialogControls {
public:
    // Shows a message box and returns once it is dismissed; tests inject one that only records.
    using MessageHook = std::function<void(HWND owner, const std::wstring& title, const std::wstring& text, UINT icon)>;

    explicit Win32DialogControls(const DialogTemplate& t);

    // The dialog window (set while it exists) and the rules its controls' events go to.
    void SetWindow(HWND dialog) { m_Dialog = dialog; }
    HWND Window() const { return m_Dialog; }
    HWND Control(int id) const;
    void Attach(DialogRules* rules) { m_Rules = rules; }
    void SetMessageHook(MessageHook hook) { m_Message = std::move(hook); }
    // The caption of message boxes that name none.
    void SetProgramName(std::wstring name) { m_ProgramName = std::move(name); }
    // The template kind of a control id (nothing for an unknown id).
    std::optional<ControlKind> KindOf(int id) const;
    // A WM_COMMAND or WM_NOTIFY of a control, as the rules' event; true when it was one of
    // theirs. `result` is what WM_NOTIFY answers.
    bool RouteCommand(WPARAM wParam, LPARAM lParam);
    bool RouteNotify(const NMHDR& header, LRESULT& result);
    // An up-down's WM_VSCROLL/WM_HSCROLL after it stepped: its buddy shows the new position when
    // SetBuddy asked for whole numbers.
    void RouteScroll(HWND from);
    // The result a modeless dialog ended with.
    std::optional<int> EndResult() const { return m_EndResult; }
    void SetModal(bool modal) { m_Modal = modal; }

    bool Has(int id) const override;
    std::string Text(int id) const override;
    void SetText(int id, std::string_view text) override;
    void ShowTextStart(int id) override;
    void DigitsOnly(int id) override;
    bool Checked(int id) const override;
    void SetChecked(int id, bool checked) override;
    int CheckState(int id) const override;
    void SetCheckState(int id, int state) override;
    bool Enabled(int id) const override;
    void Enable(int id, bool enabled) override;
    bool Shown(int id) const override;
    void Show(int id, bool shown) override;
    void Focus(int id) override;
    void FocusAndSelect(int id) override;
    void SetDefaultButton(int id) override;
    void SetItems(int id, const std::vector<std::string>& items) override;
    int ItemCount(int id) const override;
    int Selection(int id) const override;
    void Select(int id, int index) override;
    void SetRange(int id, int lower, int upper) override;
    void SetBuddy(int id, int buddyId, bool setBuddyInt) override;
    int ColumnCount(int id) const override;
    void SetColumns(int id, const std::vector<std::string>& heads) override;
    void ClearRows(int id) override;
    void AddRow(int id, const std::vector<std::string>& cells, int image) override;
    int RowCount(int id) const override;
    std::string CellText(int id, int row, int column) const override;
    void SetCellText(int id, int row, int column, std::string_view text) override;
    void SetRowImage(int id, int row, int image) override;
    void WaitCursor(bool on) override;
    std::string Caption() const override;
    ClientBox ClientArea() const override;
    ClientBox ControlBox(int id) const override;
    void Redraw() override;
    void Message(std::string_view text, std::string_view caption, MessageIcon icon) override;
    void EndDialog(int result) override;

private:
    HWND m_Dialog = nullptr;
    DialogRules* m_Rules = nullptr;
    std::map<int, ControlKind> m_Kinds;
    std::map<int, unsigned> m_Styles;
    std::map<int, int> m_BuddyInt;  // up-down id -> the edit that shows its position
    MessageHook m_Message;
    std::wstring m_ProgramName = L"velq3";
    int m_ProgramSetting = 0;  // > 0 while the program itself changes an edit's text
    int m_WaitDepth = 0;
    HCURSOR m_CursorBeforeWait = nullptr;
    bool m_Modal = false;
    std::optional<int> m_EndResult;
};

// A dialog built from `t` whose rules live in a toolkit-free class; Cancel, Esc and the close
// box go to the rules.
class Win32RulesDialog {
public:
    // `extraStyle` is added to the dialog's own styles (a sizable frame, a minimize box).
    explicit Win32RulesDialog(const DialogTemplate& t, DWORD extraStyle = 0);
    virtual ~Win32RulesDialog();
    Win32RulesDialog(const Win32RulesDialog&) = delete;
    Win32RulesDialog& operator=(const Win32RulesDialog&) = delete;

    // Modeless: the window is created hidden; nullptr when it could not be.
    HWND Create(HWND owner);
    // Modal: returns the end result (kIdOk or kIdCancel), -1 when it could not open.
    INT_PTR RunModal(HWND owner);

    HWND Window() const { return m_Ctl.Window(); }
    Win32DialogControls& Controls() { return m_Ctl; }
    // The program's look (night palette, scale); nullptr: system colours at 100 %. Takes effect
    // at the next Create or RunModal.
    void SetLook(Win32Look* look) { m_Look = look; }
    Win32Look* Look() const { return m_Look; }
    const DialogTemplate& Template() const { return m_Template; }
    // The context menu of the window's background: the look's entries, then the window's own;
    // nullptr when it would be empty. The caller destroys it.
    HMENU BuildContextMenu() const;

protected:
    // The window and its controls exist (WM_INITDIALOG): fill them, attach the rules.
    virtual void Initialize() {}
    // The dialog's bytes, built at the look's scale.
    LPCDLGTEMPLATEW BuildBytes();
    // Any message before the layer's own routing; true when it was handled (`result` is the
    // dialog procedure's answer).
    virtual bool OnMessage(UINT /*msg*/, WPARAM /*wParam*/, LPARAM /*lParam*/, INT_PTR& /*result*/) { return false; }
    void AttachRules(DialogRules& rules) { m_Rules = &rules; m_Ctl.Attach(&rules); }
    // True for a window whose context menu also offers the scale (the main window); it acts on
    // the scale commands in its OnMessage.
    virtual bool HasScaleMenu() const { return false; }
    // Appends the window's own entries to its context menu (their commands come back as
    // WM_COMMAND without a control).
    virtual void AddMenuEntries(HMENU /*menu*/) const {}

    Win32DialogControls m_Ctl;

private:
    static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
    INT_PTR Handle(UINT msg, WPARAM wParam, LPARAM lParam);

    const DialogTemplate& m_Template;
    DWORD m_ExtraStyle;
    Win32Look* m_Look = nullptr;
    std::vector<WORD> m_Bytes;
    DialogRules* m_Rules = nullptr;
    bool m_Modeless = false;
};

}  // namespace velq3::ui
