// The main control window: built from template 202, bound to the one device object, with the
// command handlers, the in-place filter editing, the keyboard rules and the status poll.
#include "ui/qt/FilterWheelDlg.h"

#include <QApplication>
#include <QCheckBox>
#include <QColorDialog>
#include <QComboBox>
#include <QDialog>
#include <QFileDialog>
#include <QMessageBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QScrollBar>
#include <QStandardItemModel>
#include <QStyledItemDelegate>
#include <QTreeView>
#include <QTreeWidget>
#include <QWindow>

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>

#include "device/SettingsFile.h"
#include "ui/DialogTemplates.h"
#include "ui/qt/DialogBuilder.h"
#include "ui/qt/FilterWheelSettingsDlg.h"
#include "ui/qt/FocuserSettingsDlg.h"
#include "ui/qt/HeaterControlDlg.h"
#include "ui/qt/MicrostepsDlg.h"
#include "ui/qt/NightPalette.h"
#include "ui/NumberText.h"
#include "ui/qt/UiScale.h"
#include "ui/qt/UpDown.h"

namespace velq3::ui {

// ---------------------------------------------------------------------------------------------
// The dialog itself: its cancel command (Exit, Esc, the close box) goes to the window object.
class CFilterWheelWindow : public QDialog {
public:
    CFilterWheelWindow(CFilterWheelDlg& owner, QWidget* parent) : QDialog(parent), m_Owner(owner) {}
    void reject() override { m_Owner.OnCancelCommand(); }

private:
    CFilterWheelDlg& m_Owner;
};

namespace {

constexpr int kFilterCountLimit = kImageFilterSlots;
constexpr int kColourMemorySize = 174;   // filter colours when the image is at least this large
constexpr int kCellInset = 5;                    // editor inset from the cell's left and right
constexpr int kCellRangeLow = -1000, kCellRangeHigh = 1000;

// Paints the "#" cells in the filters' colours and edits only the name column in place.
class CFilterListDelegate : public QStyledItemDelegate {
public:
    CFilterListDelegate(CFilterWheelDlg& dlg, QObject* parent) : QStyledItemDelegate(parent), m_Dlg(dlg) {}

    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        if (index.column() != 0) return nullptr;
        return QStyledItemDelegate::createEditor(parent, option, index);
    }

    // The end of a name edit that was not cancelled.
    void setModelData(QWidget* editor, QAbstractItemModel*, const QModelIndex& index) const override {
        if (auto* edit = qobject_cast<QLineEdit*>(editor))
            m_Dlg.OnLabelEditEnded(index.row(), edit->text().toUtf8().toStdString());
    }

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
        QStyledItemDelegate::initStyleOption(option, index);
        if (index.column() == 0) m_Dlg.DefaultCellBackground = option->palette.color(QPalette::Base);
        if (index.column() != 1) return;
        if (auto colour = m_Dlg.FilterColour(index.row())) {
            // At night a dim red of the colour's lightness, under the palette's own text.
            if (IsNightPalette(option->palette)) {
                option->backgroundBrush = QBrush(NightDimColour(*colour));
                return;
            }
            option->backgroundBrush = QBrush(*colour);
            // Keep the number readable on dark colours.
            const QColor text = colour->lightness() < 128 ? Qt::white : Qt::black;
            option->palette.setColor(QPalette::Text, text);
        }
    }

private:
    CFilterWheelDlg& m_Dlg;
};

// Hands the events of the objects it watches to a function.
class CEventHook : public QObject {
public:
    using Handler = std::function<bool(QObject*, QEvent*)>;
    CEventHook(Handler handler, QObject* parent = nullptr) : QObject(parent), m_Handler(std::move(handler)) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override { return m_Handler(watched, event); }

private:
    Handler m_Handler;
};

std::string Utf8(const QString& s) { return s.toUtf8().toStdString(); }

// The two row images: an ordinary filter, and the filter in the light path; drawn at 16 pixels
// and at 32 for the larger scales.
std::array<QIcon, 2> MakeRowImages() {
    std::array<QIcon, 2> images;
    for (int i = 0; i < 2; ++i) {
        for (int size : {16, 32}) {
            QPixmap pm(size, size);
            pm.fill(Qt::transparent);
            QPainter p(&pm);
            p.setRenderHint(QPainter::Antialiasing);
            p.scale(size / 16.0, size / 16.0);
            p.setPen(QPen(QColor(90, 90, 90), 1.2));
            p.setBrush(i == 0 ? QColor(220, 220, 220) : QColor(40, 170, 60));
            p.drawEllipse(QRectF(2.5, 2.5, 11, 11));
            if (i == 1) {
                p.setBrush(Qt::white);
                p.setPen(Qt::NoPen);
                p.drawEllipse(QRectF(6, 6, 4, 4));
            }
            p.end();
            images[static_cast<size_t>(i)].addPixmap(pm);
        }
    }
    return images;
}

// The window's small icon: a filter wheel.
QIcon MakeWindowIcon() {
    QPixmap pm(32, 32);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(60, 60, 60), 2));
    p.setBrush(QColor(200, 200, 200));
    p.drawEllipse(QRectF(2, 2, 28, 28));
    const QColor colours[] = {Qt::red, Qt::green, Qt::blue, QColor(200, 0, 0), QColor(0, 200, 200)};
    for (int i = 0; i < 5; ++i) {
        const double a = i * 2 * std::numbers::pi / 5 - std::numbers::pi / 2;
        p.setBrush(colours[i]);
        p.setPen(Qt::NoPen);
        p.drawEllipse(QPointF(16 + 8.5 * std::cos(a), 16 + 8.5 * std::sin(a)), 4.5, 4.5);
    }
    p.end();
    return QIcon(pm);
}

}  // namespace

// ---------------------------------------------------------------------------------------------

CFilterWheelDlg::CFilterWheelDlg(OrnFilterWheel& device, MainLoop& loop)
    : FilterWheelRules(device, loop) {
    m_ChooseFile = [](bool save, QWidget* parent) -> std::optional<QString> {
        // The settings files' filter, "Settings File (*.fws2)|*.fws2||", in Qt's notation.
        QFileDialog chooser(parent, QString(), QString(), QStringLiteral("Settings File (*.fws2)"));
        chooser.setDefaultSuffix(QString::fromLatin1(kSettingsFileExtension));
        chooser.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
        chooser.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
        if (chooser.exec() != QDialog::Accepted || chooser.selectedFiles().isEmpty()) return std::nullopt;
        return chooser.selectedFiles().front();
    };
    m_MessageBox = [](const QString& text, const QString& caption, QWidget* parent) {
        QMessageBox::warning(parent, caption, text, QMessageBox::Ok);
    };
    m_ChooseColour = [](const QColor& initial, QWidget* parent) -> std::optional<QColor> {
        const QColor c = QColorDialog::getColor(initial, parent);
        if (!c.isValid()) return std::nullopt;
        return c;
    };
}

CFilterWheelDlg::~CFilterWheelDlg() { DetachWindow(false); }

QDialog* CFilterWheelDlg::Window() const { return m_Window.data(); }

QWidget* CFilterWheelDlg::Control(int id) const {
    if (!m_Window) return nullptr;
    if (id == idc::kCellEdit) return m_CellEdit.data();
    if (id == idc::kCellSpin) return m_CellSpin.data();
    return m_Window->findChild<QWidget*>(QString::number(id));
}

// ---- window lifetime ------------------------------------------------------------------------

void CFilterWheelDlg::CreateWindowObject(QWidget* owner, bool modal) {
    m_Window = new CFilterWheelWindow(*this, owner);
    m_Window->setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                             Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    if (modal) m_Window->setWindowModality(Qt::ApplicationModal);
    const ControlMap controls = BuildDialog(*m_Window, kFilterWheelDlgTemplate);
    auto get = [&](int id) { return controls.at(id); };
    m_C.portList = static_cast<QComboBox*>(get(idc::kPortList));
    m_C.connect = static_cast<QPushButton*>(get(idc::kConnect));
    m_C.disconnect = static_cast<QPushButton*>(get(idc::kDisconnect));
    m_C.save = static_cast<QPushButton*>(get(idc::kSave));
    m_C.load = static_cast<QPushButton*>(get(idc::kLoad));
    m_C.showOnConnect = static_cast<QCheckBox*>(get(idc::kShowOnConnect));
    m_C.onTop = static_cast<QCheckBox*>(get(idc::kOnTop));
    m_C.go = static_cast<QPushButton*>(get(idc::kGo));
    m_C.target = static_cast<QLineEdit*>(get(idc::kTarget));
    m_C.set = static_cast<QPushButton*>(get(idc::kSet));
    for (int k = 0; k < kSensorRows; ++k) {
        m_C.autoBox[static_cast<size_t>(k)] = static_cast<QCheckBox*>(get(idc::kAutoBox0 + k));
        m_C.temperature[static_cast<size_t>(k)] = static_cast<QLineEdit*>(get(idc::kTemperature0 + k));
        m_C.sensorName[static_cast<size_t>(k)] = static_cast<QLineEdit*>(get(idc::kSensorName0 + k));
    }
    m_C.position = static_cast<QLineEdit*>(get(idc::kPosition));
    m_C.jog = static_cast<CUpDown*>(get(idc::kJog));
    m_C.direction = static_cast<QLabel*>(get(idc::kDirection));
    m_C.step = static_cast<QLineEdit*>(get(idc::kStep));
    m_C.stepSpin = static_cast<CUpDown*>(get(idc::kStepSpin));
    m_C.position2 = static_cast<QLineEdit*>(get(idc::kPosition2));
    m_C.jog2 = static_cast<CUpDown*>(get(idc::kJog2));
    m_C.direction2 = static_cast<QLabel*>(get(idc::kDirection2));
    m_C.powerLine = static_cast<QLabel*>(get(idc::kPowerLine));
    m_C.focuserSettings = static_cast<QPushButton*>(get(idc::kFocuserSettings));
    m_C.wheelSettings = static_cast<QPushButton*>(get(idc::kWheelSettings));
    m_C.heater = static_cast<QPushButton*>(get(idc::kHeater));
    m_C.graphs = static_cast<QPushButton*>(get(idc::kGraphs));
    m_C.exit = static_cast<QPushButton*>(get(idc::kExit));
    m_C.filterList = static_cast<QTreeWidget*>(get(idc::kFilterList));

    m_C.filterList->setItemDelegate(new CFilterListDelegate(*this, m_C.filterList));
    m_C.filterList->setEditTriggers(QAbstractItemView::SelectedClicked | QAbstractItemView::EditKeyPressed);
    // The hook lives with the list, which a closed window may keep a little longer than the
    // window object lives: it looks at the window object only while that one exists.
    m_C.filterList->viewport()->installEventFilter(new CEventHook(
        [this, alive = QPointer<CFilterWheelDlg>(this)](QObject*, QEvent* e) { return alive && OnListViewportEvent(e); },
        m_C.filterList));
    if (m_Images[0].isNull()) m_Images = MakeRowImages();
    m_Ctl = std::make_unique<QtDialogControls>(*m_Window, controls);
    m_Ctl->SetRowImages({m_Images[0], m_Images[1]});
    m_Ctl->SetMessageHook([this](QWidget* parent, const QString& caption, const QString& text, QMessageBox::Icon) {
        m_MessageBox(text, caption, parent);
    });
    SetControls(m_Ctl.get());
    FillPortList();
    // Connected in this object's name: a window deleted later than this object sends nothing.
    m_Ctl->Attach(*this, this);
    m_KeyHook = std::make_unique<CEventHook>([this](QObject* w, QEvent* e) { return OnAnyKey(w, e); });
    qApp->installEventFilter(m_KeyHook.get());
    AddUiScaleActions(*m_Window, [this, alive = QPointer<CFilterWheelDlg>(this)](int percent) {
        if (alive) OnUiScale(percent);
    });
    InitWindow();
}

void CFilterWheelDlg::OnUiScale(int percent) {
    CommitCellEdit();  // its rectangle is the old scale's
    ApplyUiScale(percent);
    if (m_Window) {
        m_C.filterList->setIconSize(QSize(ScaledPixels(16), ScaledPixels(16)));
        m_ColumnsClientWidth = -1;
        FitFilterColumns();
        FitPortListColumns();
    }
    if (m_StoreUiScale) m_StoreUiScale(percent);
}

void CFilterWheelDlg::InitWindow() {
    m_C.filterList->setIconSize(QSize(ScaledPixels(16), ScaledPixels(16)));
    OnInitWindow();
    if (m_WindowIcon.isNull()) m_WindowIcon = MakeWindowIcon();
    m_Window->setWindowIcon(m_WindowIcon);
    m_BaseTitle = m_Window->windowTitle();
    SetTitleNote(m_TitleNote);
    ApplyWindowOrder();
    if (m_FW.IsOpen()) m_C.position->setFocus();
}

void CFilterWheelDlg::SetTitleNote(const QString& note) {
    m_TitleNote = note;
    if (!m_Window) return;
    m_Window->setWindowTitle(note.isEmpty() ? m_BaseTitle : m_BaseTitle + QStringLiteral(" - ") + note);
}

// "Auto" and COM1..COM15; the open list shows beside each port's name its device path (links
// resolved) and, where udev made one, its stable /dev/serial/by-id name. Rows and their order
// are the port indexes the window stores.
void CFilterWheelDlg::FillPortList() {
    auto* model = new QStandardItemModel(0, 3, m_C.portList);
    auto addRow = [&](const QString& name, const QString& path, const QString& byId) {
        auto* pathItem = new QStandardItem(path);
        pathItem->setForeground(QColor(96, 96, 96));
        auto* byIdItem = new QStandardItem(byId);
        byIdItem->setForeground(QColor(96, 96, 96));
        model->appendRow({new QStandardItem(name), pathItem, byIdItem});
    };
    addRow(QStringLiteral("Auto"), QStringLiteral("scan all ports"), QString());
    for (int n = 1; n <= 15; ++n) {
        const PortInfo port = m_FW.DescribePort(n);
        addRow(QString::fromStdString(port.name), QString::fromStdString(port.path),
               QString::fromStdString(port.byId));
    }
    m_C.portList->setModel(model);
    auto* view = new QTreeView(m_C.portList);
    view->setHeaderHidden(true);
    view->setRootIsDecorated(false);
    view->setItemsExpandable(false);
    view->setAllColumnsShowFocus(true);
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_C.portList->setView(view);
    m_C.portList->setModelColumn(0);
    FitPortListColumns();
}

// The open port list's columns as wide as their widest text at the list's font.
void CFilterWheelDlg::FitPortListColumns() {
    auto* view = qobject_cast<QTreeView*>(m_C.portList->view());
    const QAbstractItemModel* model = m_C.portList->model();
    if (!view || !model) return;
    const QFontMetrics fm(m_C.portList->font());
    const int padding = ScaledPixels(16);
    int total = 0;
    for (int c = 0; c < model->columnCount(); ++c) {
        int width = 0;
        for (int r = 0; r < model->rowCount(); ++r)
            width = std::max(width, fm.horizontalAdvance(model->index(r, c).data().toString()));
        view->setColumnWidth(c, width + padding);
        total += width + padding;
    }
    view->setMinimumWidth(total + view->verticalScrollBar()->sizeHint().width());
}

void CFilterWheelDlg::ApplyWindowOrder() {
    if (!m_Window) return;
    const bool onTop = m_FW.OnTop != 0;
    if (m_Window->windowFlags().testFlag(Qt::WindowStaysOnTopHint) != onTop) {
        const Qt::WindowFlags flags = m_Window->windowFlags().setFlag(Qt::WindowStaysOnTopHint, onTop);
        if (QWindow* handle = m_Window->windowHandle()) {
            // Changed on the live window: re-creating it would end a modal run.
            m_Window->overrideWindowFlags(flags);
            handle->setFlags(flags);
        } else {
            m_Window->setWindowFlags(flags);
        }
    }
    m_Window->show();
    // Platforms without window stacking (the offscreen one) would complain about raise().
    if (QGuiApplication::platformName() != QLatin1String("offscreen")) m_Window->raise();
    m_Window->activateWindow();
}

int CFilterWheelDlg::RunModal(QWidget* owner) {
    if (m_Window) {
        BringToFront();
        return QDialog::Rejected;
    }
    CreateWindowObject(owner, true);
    m_RunningModal = true;
    const int result = m_Window->exec();
    m_RunningModal = false;
    DetachWindow(false);
    return result;
}

bool CFilterWheelDlg::CreateModeless(QWidget* owner) {
    if (m_Window) return false;
    CreateWindowObject(owner, false);
    return true;
}

template <class F>
auto CFilterWheelDlg::WithModalChild(F&& run) {
    PollingEnabled = 0;
    ++m_ModalChildren;
    auto result = run();
    --m_ModalChildren;
    PollingEnabled = 1;
    if (m_ModalChildren == 0 && m_DetachPending) DetachWindow(true);
    return result;
}

void CFilterWheelDlg::DetachWindow(bool deleteLater) {
    if (deleteLater && m_ModalChildren > 0) {
        // Deleting the window now would delete the dialog that is running.
        m_DetachPending = true;
        if (m_Window) m_Window->hide();
        return;
    }
    m_DetachPending = false;
    StopPoll();
    if (!m_Window) return;
    m_KeyHook.reset();  // also leaves the application's filters
    CFilterWheelWindow* window = m_Window.data();
    m_Window.clear();
    SetControls(nullptr);
    m_Ctl.reset();
    m_C = Controls{};
    if (deleteLater) {
        window->hide();
        window->deleteLater();
    } else {
        delete window;
    }
}

void CFilterWheelDlg::ShowForClient() {
    if (m_Window) return;
    OpenedForClient = true;
    CreateWindowObject(nullptr, false);
}

void CFilterWheelDlg::HideForClient() {
    if (m_Window && OpenedForClient) {
        ExchangeData(Transfer::ToFields);
        // A driver's call may arrive while one of the window's own handlers waits in a nested
        // loop: the window goes once control is back in the event loop.
        DetachWindow(true);
    }
    OpenedForClient = false;
}

void CFilterWheelDlg::BringToFront() {
    if (m_Window) ApplyWindowOrder();
    else RunModal();
}

// ---- transfers ------------------------------------------------------------------------------

void CFilterWheelDlg::FitFilterColumns() {
    QTreeWidget* list = m_C.filterList;
    const int wide = list->columnCount() - 1;
    if (wide < 1) return;
    // The client width: inside the frame, beside the vertical scroll bar when the rows will need
    // one. The rows are only laid out later, so the need is worked out from the row height
    // rather than read from the scroll bar.
    const int frame = 2 * list->frameWidth();
    const int header = list->isHeaderHidden() ? 0 : list->header()->sizeHint().height();
    const int rows = list->topLevelItemCount();
    int clientWidth = list->width() - frame;
    if (rows > 0 && rows * list->sizeHintForRow(0) > list->height() - frame - header)
        clientWidth -= list->verticalScrollBar()->sizeHint().width();
    // Widths the operator has dragged stay until the room changes.
    if (clientWidth == m_ColumnsClientWidth) return;
    m_ColumnsClientWidth = clientWidth;
    const int number = ScaledPixels(kNumberColumnWidth);
    const int each = (clientWidth - number) / wide;
    for (int c = 0; c <= wide; ++c) list->setColumnWidth(c, c == 1 ? number : each);
}

// ---- filter colours -------------------------------------------------------------------------

QColor CFilterWheelDlg::ColourFrom565(std::uint16_t c) {
    return QColor((c >> 8) & 0xF8, (c >> 3) & 0xFC, (c << 3) & 0xF8);
}

std::uint16_t CFilterWheelDlg::ColourTo565(const QColor& colour) {
    const unsigned r = static_cast<unsigned>(colour.red()), g = static_cast<unsigned>(colour.green()),
                   b = static_cast<unsigned>(colour.blue());
    return static_cast<std::uint16_t>(((r >> 3) << 11) | ((g >> 2) << 5) | (b >> 3));
}

std::optional<QColor> CFilterWheelDlg::FilterColour(int row) const {
    // Colours exist only in images that reach them; a smaller image would show stale bytes.
    if (m_FW.m_MemorySize < kColourMemorySize) return std::nullopt;
    if (row < 0 || row >= FilterCountFromMode(m_FW.Mode)) return std::nullopt;
    return ColourFrom565(m_FW.FilterColor[row]);
}

// ---- the in-place editor --------------------------------------------------------------------

int CFilterWheelDlg::HitColumnCount() const { return m_C.filterList ? m_C.filterList->columnCount() : 0; }

void CFilterWheelDlg::BeginCellEdit(QPoint listPoint) {
    if (!m_Window) return;
    QTreeWidget* list = m_C.filterList;
    int row = -1, column = -1;
    QRect cell;
    for (int i = 0; i < list->topLevelItemCount() && row < 0; ++i) {
        for (int j = 1; j < HitColumnCount(); ++j) {
            const QRect r = list->visualRect(list->model()->index(i, j));
            if (r.contains(listPoint)) {
                row = i;
                column = j;
                cell = r;
                break;
            }
        }
    }
    if (row < 0) return;
    if (column == 1 && m_FW.m_MemorySize >= kColourMemorySize) {
        EditColour(row);
        return;
    }
    CommitCellEdit();
    cell.adjust(ScaledPixels(kCellInset), 0, -ScaledPixels(kCellInset), 0);
    EditRow = row;
    EditColumn = column;
    auto* edit = new QLineEdit(list->viewport());
    edit->setObjectName(QString::number(idc::kCellEdit));
    const int side = cell.height();
    edit->setGeometry(cell.adjusted(0, 0, -side, 0));
    auto* spin = new CUpDown(list->viewport());
    spin->setObjectName(QString::number(idc::kCellSpin));
    spin->setGeometry(cell.right() + 1 - side, cell.top(), side, side);
    spin->SetBuddy(edit, true);
    spin->SetArrowKeys(true);
    spin->SetRange(kCellRangeLow, kCellRangeHigh);
    edit->setFont(list->font());
    edit->setText(list->topLevelItem(row)->text(column));
    edit->show();
    spin->show();
    edit->setFocus();
    m_CellEdit = edit;
    m_CellSpin = spin;
}

void CFilterWheelDlg::CommitCellEdit() {
    if (!m_CellEdit) return;
    delete m_CellSpin.data();
    const std::string text = Utf8(m_CellEdit->text());
    delete m_CellEdit.data();
    CommitCellText(text);
}

void CFilterWheelDlg::CancelCellEdit() {
    if (!m_CellEdit) return;
    // The keyboard goes back to the list. The editor may be the receiver of the key being
    // handled: Qt allows deleting it here because the key is consumed (not passed on to it).
    if (m_Window) m_C.filterList->setFocus();
    delete m_CellSpin.data();
    delete m_CellEdit.data();
    EditRow = -1;
    EditColumn = -1;
}

void CFilterWheelDlg::EditColour(int row) {
    if (row >= kFilterCountLimit) return;
    const QColor initial = ColourFrom565(m_FW.FilterColor[row]);
    const std::optional<QColor> chosen = WithModalChild([&] { return m_ChooseColour(initial, m_Window); });
    if (!chosen) return;
    m_FW.FilterColor[row] = ColourTo565(*chosen);
    m_FW.WriteMemoryImage(true);
    if (m_Window) m_C.filterList->viewport()->update();
}

// ---- command handlers -----------------------------------------------------------------------

// A port refused for lack of permission is named in the title (one line, with the group to
// join) until a connection succeeds; the note it covered comes back then.
void CFilterWheelDlg::ShowPermissionProblem() {
    if (!m_Window) return;
    const QString problem = QString::fromStdString(m_FW.PermissionProblem());
    if (m_C.portList) m_C.portList->setToolTip(problem);
    if (!problem.isEmpty()) {
        if (!m_PermissionNoted) m_NoteBeforePermission = m_TitleNote;
        m_PermissionNoted = true;
        SetTitleNote(problem);
    } else if (m_PermissionNoted) {
        m_PermissionNoted = false;
        SetTitleNote(m_NoteBeforePermission);
    }
}

void CFilterWheelDlg::OnCancel() { OnCancelCommand(); }

void CFilterWheelDlg::OnCancelCommand() {
    // Esc and the close box count only while the Exit button could be pressed.
    if (m_Window && !m_C.exit->isEnabled()) return;
    OnExit();
}

void CFilterWheelDlg::OnExit() {
    if (!m_Window) return;
    ExchangeData(Transfer::ToFields);
    m_FW.ComPort = PortIndex;
    m_FW.DisconnectMulti(ClientKey());
    if (m_RunningModal) m_Window->done(QDialog::Rejected);
    else DetachWindow(true);
}

void CFilterWheelDlg::OnOnTop() {
    ExchangeData(Transfer::ToFields);
    ApplyWindowOrder();
}

void CFilterWheelDlg::OnListClick(QPoint listPoint) { BeginCellEdit(listPoint); }

void CFilterWheelDlg::OnListDoubleClick(QPoint listPoint) {
    if (!m_Window) return;
    const int row = m_C.filterList->indexAt(listPoint).row();
    if (row < 0) {
        BeginCellEdit(listPoint);
        return;
    }
    ActivateFilter(row);
}

bool CFilterWheelDlg::PreTranslateKey(QKeyEvent& key, QObject* target) {
    if (!m_Window) return false;
    const int code = key.key();
    // Esc in the cell editor cancels that edit, as it does in the name editor; it would
    // otherwise reach the window as its cancel command.
    if (code == Qt::Key_Escape && m_CellEdit && (target == m_CellEdit.data() || target == m_CellSpin.data())) {
        CancelCellEdit();
        return true;
    }
    const bool inPosition = target == m_C.position;
    const bool ctrl = key.modifiers().testFlag(Qt::ControlModifier);
    if (code == Qt::Key_Return || code == Qt::Key_Enter) return OnWindowKey(WindowKey::Enter, 0, inPosition, ctrl);
    if (code >= Qt::Key_0 && code <= Qt::Key_9 && !key.modifiers().testFlag(Qt::KeypadModifier))
        return OnWindowKey(WindowKey::Digit, code - Qt::Key_0, inPosition, ctrl);
    if (code == Qt::Key_Left) return OnWindowKey(WindowKey::Left, 0, inPosition, ctrl);
    if (code == Qt::Key_Right) return OnWindowKey(WindowKey::Right, 0, inPosition, ctrl);
    return false;
}

bool CFilterWheelDlg::OnAnyKey(QObject* watched, QEvent* event) {
    if (!m_Window || event->type() != QEvent::KeyPress) return false;
    auto* widget = qobject_cast<QWidget*>(watched);
    if (!widget || widget->window() != m_Window.data()) return false;
    return PreTranslateKey(*static_cast<QKeyEvent*>(event), watched);
}

bool CFilterWheelDlg::OnListViewportEvent(QEvent* event) {
    const bool dbl = event->type() == QEvent::MouseButtonDblClick;
    if (!m_Window || !(dbl || event->type() == QEvent::MouseButtonRelease)) return false;
    const auto* mouse = static_cast<QMouseEvent*>(event);
    if (mouse->button() != Qt::LeftButton) return false;
    const QPoint at = mouse->position().toPoint();
    if (dbl) {
        m_SkipNextRelease = true;
        OnListDoubleClick(at);
    } else if (m_SkipNextRelease) {
        m_SkipNextRelease = false;
    } else {
        OnListClick(at);
    }
    return false;  // the list still selects, and starts name edits, as usual
}

int CFilterWheelDlg::RunModalChild(const std::function<int(QWidget* owner)>& run) {
    const int result = WithModalChild([&] {
        const int r = run(m_Window);
        ExchangeData(Transfer::ToControls);
        RefillFilterList();
        return r;
    });
    return result;
}

// ---- what the rules ask of the window ----------------------------------------------------

std::optional<std::string> CFilterWheelDlg::ChooseSettingsFile(bool save) {
    const std::optional<QString> path = m_ChooseFile(save, m_Window);
    if (!path) return std::nullopt;
    return path->toStdString();
}

void CFilterWheelDlg::RunModalStep(const std::function<void()>& step) {
    WithModalChild([&] {
        step();
        return 0;
    });
}

void CFilterWheelDlg::FilterListFilled(bool columnsChanged) {
    if (columnsChanged) m_ColumnsClientWidth = -1;
    FitFilterColumns();
}

void CFilterWheelDlg::AfterPoll() {
    // The edit ends when the operator has moved elsewhere.
    if (m_Window && m_CellEdit && m_Window->focusWidget() != m_CellEdit.data()) CommitCellEdit();
}

// ---- the dialogs and the graph ------------------------------------------------------------

void CFilterWheelDlg::OnWheelSettings() {
    RunModalChild([this](QWidget* owner) {
        CFilterWheelSettingsDlg dialog(m_FW, owner);
        return dialog.exec();
    });
}

void CFilterWheelDlg::OnFocuserSettings() {
    RunModalChild([this](QWidget* owner) {
        CFocuserSettingsDlg dialog(m_FW, owner);
        dialog.OpenMicrosteps = [this](QWidget* parent) {
            CMicrostepsDlg microsteps(m_FW, parent);
            microsteps.exec();
        };
        return dialog.exec();
    });
}

void CFilterWheelDlg::OnHeater() {
    RunModalChild([this](QWidget* owner) {
        CHeaterControlDlg dialog(m_FW, owner);
        return dialog.exec();
    });
}

void CFilterWheelDlg::OnGraphs() {
    if (m_Graph && m_Graph->isVisible()) {
        m_Graph->hide();
        return;
    }
    ExchangeData(Transfer::ToFields);
    if (!m_Graph) m_Graph = new TermGraph(m_FW, m_Window);
    m_Graph->ToggleVisible();
}

}  // namespace velq3::ui
