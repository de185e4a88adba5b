// The windows' scale in the Qt layer: the application font and the template windows at
// it, and the window menu's entries that choose it.
#include "ui/qt/UiScale.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QDialog>
#include <QKeySequence>
#include <QMenu>
#include <QProxyStyle>
#include <QVariant>
#include <QWidget>

#include <algorithm>
#include <cmath>

#include "ui/qt/DialogBuilder.h"

namespace velq3::ui {

namespace {

// Where the application object keeps its scale and the font it had before any scaling.
constexpr const char* kScaleProperty = "velq3UiScale";
constexpr const char* kBaseFontProperty = "velq3UiBaseFont";

// The application's style with the check boxes' and radio buttons' indicators grown by the
// scale, and never taller than their control: the template's boxes are as tall as the text, which
// at 100 % is a pixel less than the style's box.
class CScaledStyle : public QProxyStyle {
public:
    using QProxyStyle::QProxyStyle;

    int pixelMetric(PixelMetric metric, const QStyleOption* option, const QWidget* widget) const override {
        const int base = QProxyStyle::pixelMetric(metric, option, widget);
        switch (metric) {
        case PM_IndicatorWidth:
        case PM_IndicatorHeight:
        case PM_ExclusiveIndicatorWidth:
        case PM_ExclusiveIndicatorHeight: {
            const int scaled = ScaledPixels(base);
            return widget && widget->height() > 0 ? std::min(scaled, widget->height()) : scaled;
        }
        default:
            return base;
        }
    }
};

// Whether `style`, or a style it wraps, is the scaled one.
bool HasScaledLayer(const QStyle* style) {
    while (style) {
        if (dynamic_cast<const CScaledStyle*>(style)) return true;
        const auto* proxy = qobject_cast<const QProxyStyle*>(style);
        style = proxy ? proxy->baseStyle() : nullptr;
    }
    return false;
}

}  // namespace

QStyle* NewScaledStyle(const QString& baseName) { return new CScaledStyle(baseName); }

int CurrentUiScale() {
    if (!qApp) return kDefaultUiScale;
    const QVariant v = qApp->property(kScaleProperty);
    return v.isValid() ? v.toInt() : kDefaultUiScale;
}

int ScaledPixels(int pixels) { return static_cast<int>(std::lround(pixels * CurrentUiScale() / 100.0)); }

QFont ScaledFont(QFont font) {
    const int percent = CurrentUiScale();
    if (percent == kDefaultUiScale) return font;
    if (font.pointSizeF() > 0) font.setPointSizeF(font.pointSizeF() * percent / 100.0);
    else if (font.pixelSize() > 0) font.setPixelSize(ScaledPixels(font.pixelSize()));
    return font;
}

void ApplyUiScale(int percent) {
    if (!qApp || !IsUiScaleStep(percent)) return;
    QVariant base = qApp->property(kBaseFontProperty);
    if (!base.isValid()) {
        base = QVariant::fromValue(QApplication::font());
        qApp->setProperty(kBaseFontProperty, base);
    }
    qApp->setProperty(kScaleProperty, percent);
    // A style sheet's style stands in front of the application's and does not tell what it wraps:
    // the only sheet is the night palette's, whose style wraps the scaled one.
    if (qApp->styleSheet().isEmpty() && !HasScaledLayer(QApplication::style()))
        QApplication::setStyle(NewScaledStyle(QApplication::style()->name()));
    QApplication::setFont(ScaledFont(base.value<QFont>()));
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* dialog = qobject_cast<QDialog*>(w)) RelayoutDialog(*dialog);
}

void AddUiScaleActions(QWidget& window, std::function<void(int percent)> choose) {
    auto shared = std::make_shared<std::function<void(int)>>(std::move(choose));
    window.setContextMenuPolicy(Qt::ActionsContextMenu);

    auto* larger = new QAction(QStringLiteral("Larger"), &window);
    larger->setObjectName(QStringLiteral("uiScaleLarger"));
    larger->setShortcuts({QKeySequence(Qt::CTRL | Qt::Key_Plus), QKeySequence(Qt::CTRL | Qt::Key_Equal)});
    QObject::connect(larger, &QAction::triggered, &window, [shared] { (*shared)(NextUiScale(CurrentUiScale(), +1)); });
    auto* smaller = new QAction(QStringLiteral("Smaller"), &window);
    smaller->setObjectName(QStringLiteral("uiScaleSmaller"));
    smaller->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Minus));
    QObject::connect(smaller, &QAction::triggered, &window, [shared] { (*shared)(NextUiScale(CurrentUiScale(), -1)); });

    auto* menu = new QMenu(QStringLiteral("Scale"), &window);
    menu->menuAction()->setObjectName(QStringLiteral("uiScaleMenu"));
    auto* group = new QActionGroup(menu);
    for (int step : kUiScaleSteps) {
        QAction* a = menu->addAction(QStringLiteral("%1 %").arg(step));
        a->setObjectName(QStringLiteral("uiScale%1").arg(step));
        a->setCheckable(true);
        a->setActionGroup(group);
        QObject::connect(a, &QAction::triggered, &window, [shared, step] { (*shared)(step); });
    }
    // The mark follows the scale however it was last chosen.
    QObject::connect(menu, &QMenu::aboutToShow, menu, [group] {
        const QString mark = QStringLiteral("uiScale%1").arg(CurrentUiScale());
        for (QAction* a : group->actions()) a->setChecked(a->objectName() == mark);
    });
    window.addAction(larger);
    window.addAction(smaller);
    window.addAction(menu->menuAction());
}

}  // namespace velq3::ui
