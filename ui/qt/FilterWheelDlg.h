// The operator's main control window in Qt: template 202 built as widgets over the window's
// rules, the window's lifetime, the filter table's painting and in-place editor, the keyboard
// rules, the port list's paths and the dialogs and windows it opens.
#pragma once

#include <QColor>
#include <QIcon>
#include <QObject>
#include <QPointer>

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include "device/ClientWindow.h"
#include "device/OrnFilterWheel.h"
#include "platform/MainLoop.h"
#include "ui/FilterWheelRules.h"
#include "ui/qt/QtDialog.h"
#include "ui/qt/TermGraph.h"

class QCheckBox;
class QComboBox;
class QDialog;
class QKeyEvent;
class QLabel;
class QLineEdit;
class QPushButton;
class QTreeWidget;
class QWidget;

namespace velq3::ui {

class CUpDown;
class CFilterWheelWindow;

// The window object lives from start-up to exit; its window exists only while it is shown
// (run modally for the operator, or opened for a client). The fields keep their values
// between windows.
class CFilterWheelDlg : public QObject, public IClientWindow, public FilterWheelRules {
    Q_OBJECT
public:
    static constexpr int kNumberColumnWidth = 30;  // the "#" column, in pixels at 100 %
    static constexpr int kImageRole = QtDialogControls::kImageRole;  // row image index in column 0

    CFilterWheelDlg(OrnFilterWheel& device, MainLoop& loop);
    ~CFilterWheelDlg() override;

    // --- the window ---
    // Creates the window, runs it modally until it is closed and destroys it. Returns the
    // dialog's result. When the window exists already it is only brought to the front.
    int RunModal(QWidget* owner = nullptr);
    // Creates and shows the window without a modal loop; false when it exists already.
    bool CreateModeless(QWidget* owner = nullptr);
    bool WindowExists() const { return !m_Window.isNull(); }
    QDialog* Window() const;
    // A control of the window by id (the in-place editor's 3085 and 3086 included); nullptr
    // while there is no window or no such control.
    QWidget* Control(int id) const;

    // A note shown after the window's caption, e.g. why a network face did not start; empty
    // shows the caption alone.
    void SetTitleNote(const QString& note);

    // --- what clients' connections ask of the window ---
    void ShowForClient() override;
    void HideForClient() override;
    void BringToFront() override;

    // --- the in-place cell editor of the filter list ---
    // `listPoint` is in the coordinates of the list's viewport.
    void BeginCellEdit(QPoint listPoint);
    void CommitCellEdit();
    // Closes the editor and keeps the cell's value (Esc). Safe from the key hook while the
    // editor receives the key, as long as the key is then consumed.
    void CancelCellEdit();
    bool CellEditorOpen() const { return !m_CellEdit.isNull(); }

    // --- command handlers of the window itself ---
    void OnExit();
    void OnCancel() override;  // Exit, Esc and the close box
    void OnListClick(QPoint listPoint);
    void OnListDoubleClick(QPoint listPoint);
    // The keyboard rules, examined before any control of the window sees the key. True when
    // the key was consumed.
    bool PreTranslateKey(QKeyEvent& key, QObject* target);

    // The "#" cell colour of a row, when the memory image holds filter colours for it.
    std::optional<QColor> FilterColour(int row) const;
    static QColor ColourFrom565(std::uint16_t c);
    static std::uint16_t ColourTo565(const QColor& colour);

    // The colour chooser of the "#" column; the platform's by default. Nothing: cancelled.
    using ColourChooser = std::function<std::optional<QColor>(const QColor& initial, QWidget* parent)>;
    void SetColourChooser(ColourChooser chooser) { m_ChooseColour = std::move(chooser); }

    // The settings-file chooser (save or open); the platform's by default. Nothing: cancelled.
    using FileChooser = std::function<std::optional<QString>(bool save, QWidget* parent)>;
    void SetFileChooser(FileChooser chooser) { m_ChooseFile = std::move(chooser); }
    // The message box of a failed load (text, caption); the platform's by default.
    using MessageBox = std::function<void(const QString& text, const QString& caption, QWidget* parent)>;
    void SetMessageBox(MessageBox box) { m_MessageBox = std::move(box); }

    // Where a scale chosen in the window's menu is kept for the next start; nowhere by default.
    using UiScaleStore = std::function<void(int percent)>;
    void SetUiScaleStore(UiScaleStore store) { m_StoreUiScale = std::move(store); }
    // The window menu's choice of scale: every window at `percent` now, and stored.
    void OnUiScale(int percent);

    // The temperature graph window, once the Graphs... button created it.
    TermGraph* GraphWindow() const { return m_Graph; }

    QColor DefaultCellBackground;      // list background, remembered as each row paints

protected:
    // The buttons that open further windows, and the window order.
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

    // Runs `run` (a modal dialog owned by the window) with polling suspended, then reloads the
    // controls from the device and refills the filter list. Returns what `run` returned.
    int RunModalChild(const std::function<int(QWidget* owner)>& run);

    OrnFilterWheel& Device() { return m_FW; }

private:
    friend class CFilterWheelWindow;

    struct Controls {
        QComboBox* portList = nullptr;
        QPushButton* connect = nullptr;
        QPushButton* disconnect = nullptr;
        QPushButton* save = nullptr;
        QPushButton* load = nullptr;
        QCheckBox* showOnConnect = nullptr;
        QCheckBox* onTop = nullptr;
        QPushButton* go = nullptr;
        QLineEdit* target = nullptr;
        QPushButton* set = nullptr;
        std::array<QCheckBox*, kSensorRows> autoBox{};
        std::array<QLineEdit*, kSensorRows> temperature{};
        std::array<QLineEdit*, kSensorRows> sensorName{};
        QLineEdit* position = nullptr;
        CUpDown* jog = nullptr;
        QLabel* direction = nullptr;
        QLineEdit* step = nullptr;
        CUpDown* stepSpin = nullptr;
        QLineEdit* position2 = nullptr;
        CUpDown* jog2 = nullptr;
        QLabel* direction2 = nullptr;
        QLabel* powerLine = nullptr;
        QPushButton* focuserSettings = nullptr;
        QPushButton* wheelSettings = nullptr;
        QPushButton* heater = nullptr;
        QPushButton* graphs = nullptr;
        QPushButton* exit = nullptr;
        QTreeWidget* filterList = nullptr;
    };

    void CreateWindowObject(QWidget* owner, bool modal);
    void InitWindow();
    void FillPortList();
    void FitPortListColumns();
    void ApplyWindowOrder();
    // Forgets the window at once (timer, key filter) and deletes it now or, when its own
    // handlers may still be running, once control is back in the event loop.
    void DetachWindow(bool deleteLater);
    void OnCancelCommand();  // Exit, Esc and the close box
    // Runs a modal dialog of the window: no polling meanwhile, and a close of the window asked
    // for meanwhile is carried out afterwards (the dialog is the window's child).
    template <class F>
    auto WithModalChild(F&& run);
    // Gives the "#" column its fixed width and the others equal shares of the list's client
    // width, so that no horizontal scroll bar shows.
    void FitFilterColumns();
    void EditColour(int row);
    int HitColumnCount() const;
    bool OnAnyKey(QObject* watched, QEvent* event);
    bool OnListViewportEvent(QEvent* event);

    QPointer<CFilterWheelWindow> m_Window;
    std::unique_ptr<QtDialogControls> m_Ctl;  // the window's controls while it exists
    Controls m_C;
    bool m_RunningModal = false;
    int m_ModalChildren = 0;        // modal dialogs of the window now running
    bool m_DetachPending = false;   // the window goes when the last of them ends
    bool m_SkipNextRelease = false;  // the release that ends a double click is not a click
    std::unique_ptr<QObject> m_KeyHook;  // sees every key before the window's controls do
    int m_ColumnsClientWidth = -1;  // the client width the filter columns were last fitted to
    QPointer<QLineEdit> m_CellEdit;
    QPointer<CUpDown> m_CellSpin;
    std::array<QIcon, 2> m_Images;
    QIcon m_WindowIcon;
    QString m_TitleNote;
    QString m_NoteBeforePermission;  // the title note a permission problem covers
    bool m_PermissionNoted = false;
    QString m_BaseTitle;
    ColourChooser m_ChooseColour;
    FileChooser m_ChooseFile;
    MessageBox m_MessageBox;
    UiScaleStore m_StoreUiScale;
    QPointer<TermGraph> m_Graph;
};

}  // namespace velq3::ui
