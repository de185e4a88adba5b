// The operator's main control window in Win32: template 202 built over the window's rules, the
// window's lifetime, the filter list's custom drawing and in-place editor (3085/3086), the
// keyboard rules, and the dialogs and windows it opens.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "device/ClientWindow.h"
#include "device/OrnFilterWheel.h"
#include "platform/MainLoop.h"
#include "ui/FilterWheelRules.h"
#include "ui/win32/TermGraphWindow.h"
#include "ui/win32/Win32Dialog.h"
#include "ui/win32/WindowTimers.h"

namespace velq3::ui {

// The timers the window's rules run on, made before the rules (a base listed first).
struct CWindowPollLoop {
    explicit CWindowPollLoop(MainLoop& loop) : pollTimers(loop) {}
    WindowTimers pollTimers;
};

// The window object lives from start-up to exit; its window exists only while it is shown
// (run modally for the operator, or opened for a client). The fields keep their values
// between windows.
class CWin32FilterWheelDlg : private CWindowPollLoop, public IClientWindow, public FilterWheelRules {
public:
    // The poll's timers: window timers of the window (the program), or the given loop's own
    // (tests driving virtual time). Tasks always go to `loop`.
    enum class PollOn { WindowTimer, Loop };
    static constexpr int kNumberColumnWidth = 30;  // the "#" column, in pixels

    CWin32FilterWheelDlg(OrnFilterWheel& device, MainLoop& loop, PollOn pollOn = PollOn::WindowTimer);
    ~CWin32FilterWheelDlg() override;

    // --- the window ---
    // Creates the window, runs it modally until it is closed and destroys it; kIdCancel when
    // it exists already (it is only brought to the front then).
    int RunModal(HWND owner = nullptr);
    // Creates and shows the window without a modal loop; false when it exists already.
    bool CreateModeless(HWND owner = nullptr);
    bool WindowExists() const;
    HWND Window() const;
    // The window's controls while it exists.
    Win32DialogControls* Controls() const;
    // Called when a modeless window has gone (Exit, or a client's disconnection).
    std::function<void()> OnWindowGone;
    // The program's look (night palette, scale) for this window and the ones it opens; windows
    // opened afterwards take it.
    void SetLook(Win32Look* look) { m_Look = look; }
    // The operator's choice of a scale (the context menu, Ctrl++ / Ctrl+= / Ctrl+-): stored, and
    // the window built again at it where it was, with what it showed (the fields, the port
    // chosen, the graph window); a dialog's layout is fixed by its font when it is created.
    void OnUiScale(int percent);
    // A note shown after the caption; empty shows the caption alone.
    void SetTitleNote(const std::string& note);

    // --- what clients' connections ask of the window ---
    void ShowForClient() override;
    void HideForClient() override;
    void BringToFront() override;

    // --- the in-place cell editor of the filter list ---
    void BeginCellEdit(int row, int column);
    void CommitCellEdit();
    void CancelCellEdit();
    bool CellEditorOpen() const { return m_CellEdit != nullptr; }
    HWND CellEditor() const { return m_CellEdit; }

    void OnExit();
    void OnCancel() override;  // Exit, Esc and the close box
    // The keyboard rules, examined before any control sees the key; true when consumed.
    bool PreTranslateKey(const MSG& msg);

    // The "#" cell colour of a row, when the memory image holds filter colours for it.
    std::optional<COLORREF> FilterColour(int row) const;

    // Choosers and message boxes: the system's by default, tests inject their own.
    using ColourChooser = std::function<std::optional<COLORREF>(COLORREF initial, HWND owner)>;
    using FileChooser = std::function<std::optional<std::string>(bool save, HWND owner)>;
    void SetColourChooser(ColourChooser chooser) { m_ChooseColour = std::move(chooser); }
    void SetFileChooser(FileChooser chooser) { m_ChooseFile = std::move(chooser); }
    void SetMessageHook(Win32DialogControls::MessageHook hook) { m_MessageHook = std::move(hook); }

    CWin32TermGraph* GraphWindow() const { return m_Graph.get(); }

protected:
    void OnOnTop() override;
    void OnWheelSettings() override;
    void OnFocuserSettings() override;
    void OnHeater() override;
    void OnGraphs() override;
    std::optional<std::string> ChooseSettingsFile(bool save) override;
    void RunModalStep(const std::function<void()>& step) override;
    void ShowPermissionProblem() override;
    void FilterListFilled(bool columnsChanged) override;
    void AfterPoll() override;

private:
    class CWindow;
    friend class CWindow;

    void InitWindow();
    bool OnWindowMessage(UINT msg, WPARAM wParam, LPARAM lParam, INT_PTR& result);
    bool OnListNotify(const NMHDR& header, LRESULT& result);
    void FillPortList();
    void ApplyWindowOrder();
    void FitFilterColumns();
    void EditColour(int row);
    void DetachWindow();
    void RestoreAfterRebuild();
    int RunModalChild(const std::function<int(HWND owner)>& run);
    HWND Item(int id) const;

    std::unique_ptr<CWindow> m_Window;
    bool m_WindowTimers;
    bool m_RunningModal = false;
    bool m_Detaching = false;
    int m_ModalChildren = 0;
    bool m_DetachPending = false;
    HWND m_CellEdit = nullptr;
    HWND m_CellSpin = nullptr;
    HIMAGELIST m_Images = nullptr;
    HHOOK m_KeyHook = nullptr;
    std::string m_TitleNote;
    std::wstring m_BaseTitle;
    ColourChooser m_ChooseColour;
    FileChooser m_ChooseFile;
    Win32DialogControls::MessageHook m_MessageHook;
    std::unique_ptr<CWin32TermGraph> m_Graph;
    Win32Look* m_Look = nullptr;
    // What a window built again at another scale takes over from the one before it.
    struct Rebuild {
        POINT topLeft{};
        HWND owner = nullptr;
        int portIndex = 0;
        bool graphShown = false;
        POINT graphTopLeft{};
    };
    std::optional<Rebuild> m_Rebuild;
    bool m_Rebuilding = false;  // the old window goes without ending the window's run
};

}  // namespace velq3::ui
