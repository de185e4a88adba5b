// The night palette, the style that turns the images it draws (icons, item views' own colours)
// red, and the switch with its stored setting.
#include "ui/qt/NightPalette.h"

#include <QAction>
#include <QApplication>
#include <QContextMenuEvent>
#include <QDialog>
#include <QGraphicsEffect>
#include <QLineEdit>
#include <QIconEngine>
#include <QKeyEvent>
#include <QMenu>
#include <QPainter>
#include <QProxyStyle>
#include <QStyleFactory>
#include <QStyleOption>

#include <cmath>
#include <memory>

#include "device/OrnFilterWheel.h"
#include "platform/Registry.h"
#include "ui/qt/UiScale.h"

namespace velq3::ui {
namespace {

QColor Red(int level) { return QColor(level, 0, 0); }

double Lightness(const QColor& c) { return NightLightness({c.red(), c.green(), c.blue()}); }

const QColor kWindow = Red(kNightWindowRed);
const QColor kText = Red(kNightTextRed);
const QColor kLink = Red(170);
const QColor kLinkVisited = Red(130);
const QColor kToolTipBase = Red(30);

// Fusion draws its frames and bevels partly in fixed white and black shades; these rules give
// the controls frames and fills from the night colours instead.
const char* const kNightStyleSheet = R"(
QPushButton, QToolButton {
    color: rgb(190,0,0); background: rgb(40,0,0);
    border: 1px solid rgb(80,0,0); border-radius: 2px; padding: 1px 3px;
}
QToolButton { padding: 1px; }
QPushButton:hover, QToolButton:hover { background: rgb(52,0,0); }
QPushButton:pressed, QToolButton:pressed, QToolButton:checked { background: rgb(70,0,0); }
QPushButton:disabled, QToolButton:disabled { color: rgb(85,0,0); border-color: rgb(45,0,0); }
QPushButton:default { border-color: rgb(130,0,0); }
QPushButton:focus, QToolButton:focus { border-color: rgb(150,0,0); }
QLineEdit, QAbstractSpinBox, QPlainTextEdit, QTextEdit {
    color: rgb(190,0,0); background: rgb(0,0,0); border: 1px solid rgb(70,0,0);
    selection-background-color: rgb(120,0,0); selection-color: rgb(0,0,0);
}
QLineEdit:read-only { background: rgb(18,0,0); }
QLineEdit:focus { border-color: rgb(150,0,0); }
QLineEdit:disabled { color: rgb(85,0,0); border-color: rgb(40,0,0); }
QComboBox {
    color: rgb(190,0,0); background: rgb(40,0,0); border: 1px solid rgb(80,0,0); padding: 1px 4px;
}
QComboBox:editable { background: rgb(0,0,0); }
QComboBox:disabled { color: rgb(85,0,0); border-color: rgb(45,0,0); }
QComboBox::drop-down { border-left: 1px solid rgb(80,0,0); width: 14px; }
QComboBox QAbstractItemView {
    color: rgb(190,0,0); background: rgb(0,0,0); border: 1px solid rgb(80,0,0);
    selection-background-color: rgb(120,0,0); selection-color: rgb(0,0,0);
}
QCheckBox, QRadioButton, QLabel, QGroupBox { color: rgb(190,0,0); }
QCheckBox:disabled, QRadioButton:disabled, QLabel:disabled, QGroupBox:disabled { color: rgb(85,0,0); }
QCheckBox::indicator, QRadioButton::indicator {
    width: 11px; height: 11px; background: rgb(0,0,0); border: 1px solid rgb(110,0,0);
}
QRadioButton::indicator { border-radius: 6px; }
QCheckBox::indicator:checked, QRadioButton::indicator:checked { background: rgb(160,0,0); }
QCheckBox::indicator:indeterminate { background: rgb(70,0,0); }
QCheckBox::indicator:disabled, QRadioButton::indicator:disabled { border-color: rgb(50,0,0); }
QGroupBox { border: 1px solid rgb(60,0,0); margin-top: 0.6em; }
QGroupBox::title { subcontrol-origin: margin; left: 6px; padding: 0 2px; }
QAbstractItemView {
    color: rgb(190,0,0); background: rgb(0,0,0); alternate-background-color: rgb(14,0,0);
    border: 1px solid rgb(70,0,0);
    selection-background-color: rgb(120,0,0); selection-color: rgb(0,0,0);
}
QHeaderView::section {
    color: rgb(190,0,0); background: rgb(32,0,0); border: 0; border-right: 1px solid rgb(70,0,0);
    border-bottom: 1px solid rgb(70,0,0); padding: 1px 4px;
}
QScrollBar { background: rgb(12,0,0); border: 0; }
QScrollBar:vertical { width: 12px; }
QScrollBar:horizontal { height: 12px; }
QScrollBar::handle { background: rgb(60,0,0); border: 1px solid rgb(90,0,0); }
QScrollBar::handle:vertical { min-height: 16px; }
QScrollBar::handle:horizontal { min-width: 16px; }
QScrollBar::add-line, QScrollBar::sub-line { width: 0; height: 0; border: 0; }
QScrollBar::add-page, QScrollBar::sub-page { background: none; }
QMenu { color: rgb(190,0,0); background: rgb(18,0,0); border: 1px solid rgb(80,0,0); }
QMenu::item { padding: 3px 20px 3px 20px; }
QMenu::item:selected { background: rgb(120,0,0); color: rgb(0,0,0); }
QMenu::separator { height: 1px; background: rgb(60,0,0); }
QMenu::indicator { width: 9px; height: 9px; border: 1px solid rgb(110,0,0); left: 5px; }
QMenu::indicator:checked { background: rgb(160,0,0); }
QToolTip { color: rgb(190,0,0); background: rgb(30,0,0); border: 1px solid rgb(80,0,0); }
QSplitter::handle { background: rgb(30,0,0); }
QSizeGrip { background: transparent; }
)";

// Icons drawn through NightPixmap, whatever size and mode they are asked for in.
class NightIconEngine : public QIconEngine {
public:
    explicit NightIconEngine(QIcon icon) : m_Icon(std::move(icon)) {}

    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State state) override {
        const qreal ratio = painter->device() ? painter->device()->devicePixelRatio() : 1.0;
        painter->drawPixmap(rect, pixmap(rect.size() * ratio, mode, state));
    }
    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override {
        return NightPixmap(m_Icon.pixmap(size, mode, state));
    }
    QSize actualSize(const QSize& size, QIcon::Mode mode, QIcon::State state) override {
        return m_Icon.actualSize(size, mode, state);
    }
    QList<QSize> availableSizes(QIcon::Mode mode, QIcon::State state) override {
        return m_Icon.availableSizes(mode, state);
    }
    QString key() const override { return QStringLiteral("velq3-night"); }
    QIconEngine* clone() const override { return new NightIconEngine(m_Icon); }

private:
    QIcon m_Icon;
};

void NightBrushes(QPalette& palette) {
    for (int g = 0; g < QPalette::NColorGroups; ++g) {
        const auto group = static_cast<QPalette::ColorGroup>(g);
        for (QPalette::ColorRole role : {QPalette::Text, QPalette::WindowText, QPalette::HighlightedText,
                                         QPalette::ButtonText, QPalette::Base, QPalette::Window, QPalette::Highlight})
            palette.setColor(group, role, NightColour(palette.color(group, role)));
    }
}

// The name of the style under any proxy layers (the scale's): the one to build again by day.
QString InnermostStyleName(const QStyle* style) {
    while (const auto* proxy = qobject_cast<const QProxyStyle*>(style)) style = proxy->baseStyle();
    return style ? style->name() : QString();
}

// The application's style at night: Fusion, with every image it draws (standard icons, item
// icons, the colours an item view's model gives its items) turned red.
class NightStyle : public QProxyStyle {
public:
    NightStyle() : QProxyStyle(NewScaledStyle(QStringLiteral("Fusion"))) {}

    QIcon standardIcon(StandardPixmap icon, const QStyleOption* option, const QWidget* widget) const override {
        return NightIcon(QProxyStyle::standardIcon(icon, option, widget));
    }
    QPixmap standardPixmap(StandardPixmap icon, const QStyleOption* option, const QWidget* widget) const override {
        return NightPixmap(QProxyStyle::standardPixmap(icon, option, widget));
    }
    QPixmap generatedIconPixmap(QIcon::Mode mode, const QPixmap& pixmap, const QStyleOption* option) const override {
        return NightPixmap(QProxyStyle::generatedIconPixmap(mode, pixmap, option));
    }
    void drawItemPixmap(QPainter* painter, const QRect& rect, int alignment, const QPixmap& pixmap) const override {
        QProxyStyle::drawItemPixmap(painter, rect, alignment, NightPixmap(pixmap));
    }

    void drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                     const QWidget* widget) const override {
        if (auto* item = qstyleoption_cast<const QStyleOptionViewItem*>(option)) {
            QStyleOptionViewItem night(*item);
            night.icon = NightIcon(night.icon);
            NightBrushes(night.palette);
            if (night.backgroundBrush.style() != Qt::NoBrush)
                night.backgroundBrush = QBrush(NightColour(night.backgroundBrush.color()));
            QProxyStyle::drawControl(element, &night, painter, widget);
        } else if (auto* combo = qstyleoption_cast<const QStyleOptionComboBox*>(option)) {
            QStyleOptionComboBox night(*combo);
            night.currentIcon = NightIcon(night.currentIcon);
            QProxyStyle::drawControl(element, &night, painter, widget);
        } else if (auto* button = qstyleoption_cast<const QStyleOptionButton*>(option)) {
            QStyleOptionButton night(*button);
            night.icon = NightIcon(night.icon);
            QProxyStyle::drawControl(element, &night, painter, widget);
        } else if (auto* tool = qstyleoption_cast<const QStyleOptionToolButton*>(option)) {
            QStyleOptionToolButton night(*tool);
            night.icon = NightIcon(night.icon);
            QProxyStyle::drawControl(element, &night, painter, widget);
        } else if (auto* menu = qstyleoption_cast<const QStyleOptionMenuItem*>(option)) {
            QStyleOptionMenuItem night(*menu);
            night.icon = NightIcon(night.icon);
            QProxyStyle::drawControl(element, &night, painter, widget);
        } else {
            QProxyStyle::drawControl(element, option, painter, widget);
        }
    }

    void drawComplexControl(ComplexControl control, const QStyleOptionComplex* option, QPainter* painter,
                            const QWidget* widget) const override {
        if (auto* tool = qstyleoption_cast<const QStyleOptionToolButton*>(option)) {
            QStyleOptionToolButton night(*tool);
            night.icon = NightIcon(night.icon);
            QProxyStyle::drawComplexControl(control, &night, painter, widget);
        } else if (auto* combo = qstyleoption_cast<const QStyleOptionComboBox*>(option)) {
            QStyleOptionComboBox night(*combo);
            night.currentIcon = NightIcon(night.currentIcon);
            QProxyStyle::drawComplexControl(control, &night, painter, widget);
        } else {
            QProxyStyle::drawComplexControl(control, option, painter, widget);
        }
    }
};

// Draws a widget through NightImage. Text boxes get it at night: their text cursor inverts what
// lies under it, which on black is white.
class NightEffect : public QGraphicsEffect {
public:
    using QGraphicsEffect::QGraphicsEffect;

protected:
    void draw(QPainter* painter) override {
        QPoint offset;
        const QPixmap source = sourcePixmap(Qt::DeviceCoordinates, &offset, QGraphicsEffect::NoPad);
        if (source.isNull()) return;
        const QTransform world = painter->worldTransform();
        painter->setWorldTransform(QTransform());
        painter->drawPixmap(offset, NightPixmap(source));
        painter->setWorldTransform(world);
    }
};

bool IsTextBox(QObject* object) { return qobject_cast<QLineEdit*>(object) != nullptr; }

void GiveNightEffect(QWidget* widget) {
    if (!widget->graphicsEffect()) widget->setGraphicsEffect(new NightEffect(widget));
}

bool IsCtrlN(const QKeyEvent& key) {
    return key.key() == Qt::Key_N && (key.modifiers() & ~Qt::KeypadModifier) == Qt::ControlModifier && !key.isAutoRepeat();
}

}  // namespace

QPalette MakeNightPalette() {
    QPalette p;
    auto all = [&p](QPalette::ColorRole role, const QColor& c) { p.setColor(role, c); };
    all(QPalette::Window, kWindow);
    all(QPalette::WindowText, kText);
    all(QPalette::Base, Red(0));
    all(QPalette::AlternateBase, Red(14));
    all(QPalette::ToolTipBase, kToolTipBase);
    all(QPalette::ToolTipText, kText);
    all(QPalette::PlaceholderText, Red(90));
    all(QPalette::Text, kText);
    all(QPalette::Button, Red(40));
    all(QPalette::ButtonText, kText);
    all(QPalette::BrightText, Red(kNightBrightest));
    all(QPalette::Light, Red(70));
    all(QPalette::Midlight, Red(55));
    all(QPalette::Mid, Red(32));
    all(QPalette::Dark, Red(12));
    all(QPalette::Shadow, Red(0));
    // The selected row: a clear red band with black text.
    all(QPalette::Highlight, Red(120));
    all(QPalette::HighlightedText, Red(0));
    all(QPalette::Link, kLink);
    all(QPalette::LinkVisited, kLinkVisited);
    for (QPalette::ColorRole role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        p.setColor(QPalette::Disabled, role, Red(85));
    p.setColor(QPalette::Disabled, QPalette::Button, Red(28));
    p.setColor(QPalette::Disabled, QPalette::Highlight, Red(60));
    return p;
}

bool IsNightPalette(const QPalette& palette) {
    // Roles that the style sheet's rules leave as they are.
    return palette.color(QPalette::Active, QPalette::Link) == kLink &&
           palette.color(QPalette::Active, QPalette::LinkVisited) == kLinkVisited &&
           palette.color(QPalette::Active, QPalette::ToolTipBase) == kToolTipBase;
}

QColor NightColour(const QColor& colour) {
    const QColor c = colour.toRgb();
    if (c.green() == 0 && c.blue() == 0 && c.red() <= kNightBrightest) return c;
    QColor night = Red(static_cast<int>(std::lround(kNightBrightest * Lightness(c))));
    night.setAlpha(c.alpha());
    return night;
}

QColor NightDimColour(const QColor& colour) {
    QColor night = Red(24 + static_cast<int>(std::lround(72 * Lightness(colour.toRgb()))));
    night.setAlpha(colour.alpha());
    return night;
}

QImage NightImage(const QImage& image) {
    QImage out = image.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < out.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(out.scanLine(y));
        for (int x = 0; x < out.width(); ++x) line[x] = NightColour(QColor::fromRgba(line[x])).rgba();
    }
    return out;
}

QPixmap NightPixmap(const QPixmap& pixmap) {
    if (pixmap.isNull()) return pixmap;
    QPixmap out = QPixmap::fromImage(NightImage(pixmap.toImage()));
    out.setDevicePixelRatio(pixmap.devicePixelRatio());
    return out;
}

QIcon NightIcon(const QIcon& icon) {
    if (icon.isNull()) return icon;
    return QIcon(new NightIconEngine(icon));
}

// ---------------------------------------------------------------------------------------------

NightMode::NightMode(RegistryHive* hive, QObject* parent) : QObject(parent), m_Hive(hive) {
    qApp->installEventFilter(this);
}

NightMode::~NightMode() {
    if (!qApp) return;
    qApp->removeEventFilter(this);
    Set(false);
}

bool NightMode::Stored(const RegistryHive& hive) {
    return LoadNightMode(hive);
}

void NightMode::Set(bool on) {
    if (on == m_On) return;
    m_On = on;
    if (on) {
        m_DayPalette = QApplication::palette();
        m_DayStyleSheet = qApp->styleSheet();
        m_DayStyle = InnermostStyleName(QApplication::style());
        m_DayNativeDialogs = !QCoreApplication::testAttribute(Qt::AA_DontUseNativeDialogs);
        // Native dialogs would keep the desktop's colours.
        QCoreApplication::setAttribute(Qt::AA_DontUseNativeDialogs, true);
        QApplication::setStyle(new NightStyle);
        QApplication::setPalette(MakeNightPalette());
        m_DayWidgetPalettes.clear();
        for (QWidget* w : QApplication::allWidgets()) {
            if (w->testAttribute(Qt::WA_SetPalette)) m_DayWidgetPalettes.push_back({w, w->palette()});
            if (IsTextBox(w)) GiveNightEffect(w);
        }
        QApplication::setStyle(new NightStyle);
        QApplication::setPalette(MakeNightPalette());
        qApp->setStyleSheet(QString::fromLatin1(kNightStyleSheet));
    } else {
        qApp->setStyleSheet(m_DayStyleSheet);
        const bool known = QStyleFactory::keys().contains(m_DayStyle, Qt::CaseInsensitive);
        QApplication::setStyle(NewScaledStyle(known ? m_DayStyle : QStringLiteral("Fusion")));
        QApplication::setPalette(m_DayPalette);
        QCoreApplication::setAttribute(Qt::AA_DontUseNativeDialogs, !m_DayNativeDialogs);
        // The style sheet leaves the colours it gave a widget as the widget's own, and windows
        // made at night keep the night palette: every widget takes the application's palette
        // again, or the palette of its own it had by day.
        for (QWidget* w : QApplication::allWidgets()) {
            if (dynamic_cast<NightEffect*>(w->graphicsEffect())) w->setGraphicsEffect(nullptr);
            if (!w->isWindow() && !w->testAttribute(Qt::WA_SetPalette)) continue;
            QPalette inherited = w->palette();
            inherited.setResolveMask(0);
            w->setPalette(inherited);
        }
        for (auto& [w, palette] : m_DayWidgetPalettes)
            if (w) w->setPalette(palette);
        m_DayWidgetPalettes.clear();
    }
}

void NightMode::Toggle() {
    Set(!m_On);
    Store();
}

void NightMode::Store() {
    if (m_Hive) SaveNightMode(*m_Hive, m_On);
}

QMenu* NightMode::MakeMenu(QWidget* parent) {
    auto* menu = new QMenu(parent);
    QAction* night = menu->addAction(QStringLiteral("Night Mode"));
    night->setCheckable(true);
    night->setChecked(m_On);
    night->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_N));
    connect(night, &QAction::triggered, this, [this] { Toggle(); });
    // The window's own entries (the main window's scale) follow in the same menu.
    if (const auto own = parent->actions(); !own.isEmpty()) {
        menu->addSeparator();
        menu->addActions(own);
    }
    return menu;
}

bool NightMode::eventFilter(QObject* watched, QEvent* event) {
    if (m_On && event->type() == QEvent::Polish && IsTextBox(watched)) GiveNightEffect(static_cast<QWidget*>(watched));
    if (event->type() == QEvent::KeyPress && IsCtrlN(*static_cast<QKeyEvent*>(event)) && watched->isWidgetType()) {
        Toggle();
        return true;
    }
    // A right click on a window's own background (not on a control that has a menu of its own).
    if (event->type() == QEvent::ContextMenu && qobject_cast<QDialog*>(watched) &&
        static_cast<QWidget*>(watched)->isWindow()) {
        auto* window = static_cast<QWidget*>(watched);
        std::unique_ptr<QMenu> menu(MakeMenu(window));
        menu->exec(static_cast<QContextMenuEvent*>(event)->globalPos());
        return true;
    }
    return QObject::eventFilter(watched, event);
}

}  // namespace velq3::ui
