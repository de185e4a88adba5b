// The operator's main control window: port and connection, focuser moves, temperatures and
// sensor names, the filter table edited in place, and the once-a-second status poll.
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
class CFilterWheelDlg : public QObject, public IClientWindow {
    Q_OBJECT
public:
    enum class Transfer { ToControls, ToFields };

    static constexpr int kPollPeriodMs = 1000;
    static constexpr int kNumberColumnWidth = 30;  // the "#" column, in pixels at 100 %
    static constexpr int kImageRole = Qt::UserRole + 1;  // row image index in column 0
    static constexpr int kSensorRows = 4;

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
    // The window's identity in the multi-client connection.
    ClientId ClientKey() const { return reinterpret_cast<ClientId>(this); }

    // A note shown after the window's caption, e.g. why a network face did not start; empty
    // shows the caption alone.
    void SetTitleNote(const QString& note);

    // --- what clients' connections ask of the window ---
    void ShowForClient() override;
    void HideForClient() override;
    void BringToFront() override;

    // --- transfers and refreshes ---
    void ExchangeData(Transfer direction);
    // Refills the filter list; its columns share the list's width (see FitFilterColumns).
    void RefillFilterList();
    void RefreshFilterMarks();
    void RefreshAutoBoxes();

    // --- the in-place cell editor of the filter list ---
    // `listPoint` is in the coordinates of the list's viewport.
    void BeginCellEdit(QPoint listPoint);
    void CommitCellEdit();
    // Closes the editor and keeps the cell's value (Esc). Safe from the key hook while the
    // editor receives the key, as long as the key is then consumed.
    void CancelCellEdit();
    bool CellEditorOpen() const { return !m_CellEdit.isNull(); }

    // The once-a-second poll.
    void StatusTick();

    // --- command handlers, one per control or event ---
    void OnConnect();
    void OnDisconnect();
    void OnExit();
    void OnGo();
    void OnSetPosition();
    void OnJog(int focuser, int delta);
    void OnStepSpin(int delta);
    void OnStepEdited();
    void OnOnTop();
    void OnAutoBox(int sensor);
    void OnSensorNameEdited(int sensor);  // an edit of a sensor name box ended
    void OnListClick(QPoint listPoint);
    void OnListDoubleClick(QPoint listPoint);
    void OnLabelEditEnded(int row, const QString& text);
    // The keyboard rules, examined before any control of the window sees the key. True when
    // the key was consumed.
    bool PreTranslateKey(QKeyEvent& key, QObject* target);

    // The "#" cell colour of a row, when the memory image holds filter colours for it.
    std::optional<QColor> FilterColour(int row) const;
    static QColor ColourFrom565(std::uint16_t c);
    static std::uint16_t ColourTo565(const QColor& colour);
    // "0000" .. "1111": four switch bits, most significant first.
    static const char* SwitchText(unsigned bits);

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

    // --- window fields ---
    std::int32_t PortIndex = 0;        // 0 = "Auto", n = COMn
    std::int32_t AutoSensor = -1;      // sensor driving temperature compensation; -1 none
    std::int32_t PollingEnabled = 1;   // cleared while a modal dialog from this window is up
    std::int32_t MarkedFilter = -1;    // row drawn with the current-filter image
    FWCurrentParameters LastStatus = EmptyStatus();  // what the window last displayed
    bool OpenedForClient = false;      // created by ShowForClient; Exit disabled meanwhile
    bool WasConnected = false;         // port state seen at the previous tick
    QColor DefaultCellBackground;      // list background, remembered as each row paints
    int EditRow = -1;
    int EditColumn = -1;

protected:
    // The buttons that open further windows.
    void OnSaveSettings();               // Save... 3036
    void OnLoadSettings();               // Load... 3037
    void OnWheelSettings();              // Wheel... 3024
    void OnFocuserSettings();            // Focuser... 3025
    void OnHeater();                     // Heater... 3060
    void OnGraphs();                     // Graphs... 3061

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
    void ConnectSignals();
    void FillPortList();
    void FitPortListColumns();
    void ShowPermissionProblem();
    void ApplyWindowOrder();
    // Forgets the window at once (timer, key filter) and deletes it now or, when its own
    // handlers may still be running, once control is back in the event loop.
    void DetachWindow(bool deleteLater);
    void OnCancelCommand();  // Exit, Esc and the close box
    // Runs a modal dialog of the window: no polling meanwhile, and a close of the window asked
    // for meanwhile is carried out afterwards (the dialog is the window's child).
    template <class F>
    auto WithModalChild(F&& run);
    bool DisconnectAllowed() const;
    int SensorRows() const;
    // One tick's queries; each tells whether the controller answered.
    bool StatusPath();
    WindowPoll OlderDevicePath();
    bool SelectFilterWithWaitCursor(int filter);
    // Gives the "#" column its fixed width and the others equal shares of the list's client
    // width, so that no horizontal scroll bar shows.
    void FitFilterColumns();
    void EditColour(int row);
    int HitColumnCount() const;
    bool OnAnyKey(QObject* watched, QEvent* event);
    bool OnListViewportEvent(QEvent* event);

    OrnFilterWheel& m_FW;
    MainLoop& m_Loop;
    QPointer<CFilterWheelWindow> m_Window;
    Controls m_C;
    TimerId m_PollTimer = kNoTimer;
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
