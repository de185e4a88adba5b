// Layout checks of a built window: captions that do not show whole at the window's font, and
// controls laid over one another where their template keeps them apart.
#pragma once

#include <QAbstractItemView>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QRegularExpression>
#include <QStyle>
#include <QStyleOptionButton>
#include <QStyleOptionComboBox>
#include <QStyleOptionFrame>
#include <QStyleOptionGroupBox>

#include <algorithm>
#include <string>

#include "ui/qt/DialogBuilder.h"

namespace velq3::test {

inline QString Describe(QWidget* w, const QString& text, int need, int room) {
    return QStringLiteral("%1 \"%2\" (%3): needs %4 px, has %5")
        .arg(QString::fromLatin1(w->metaObject()->className()), text, w->objectName())
        .arg(need)
        .arg(room);
}

// What of a control's caption does not show; empty when all of it does.
inline QString CaptionOverflow(QWidget* w) {
    const QFontMetrics fm(w->font());
    QStyle* style = w->style();
    if (auto* box = qobject_cast<QGroupBox*>(w)) {
        if (box->title().isEmpty()) return {};
        QStyleOptionGroupBox opt;
        opt.initFrom(box);
        opt.text = box->title();
        opt.textAlignment = box->alignment();
        opt.subControls = QStyle::SC_GroupBoxFrame | QStyle::SC_GroupBoxLabel;
        opt.lineWidth = 1;
        const QRect label = style->subControlRect(QStyle::CC_GroupBox, &opt, QStyle::SC_GroupBoxLabel, box);
        // The style sizes the title's room from the ink the text paints (its bounding box), which
        // at some sizes is a pixel or two narrower than its advance.
        const int need = fm.boundingRect(box->title()).width();
        if (box->rect().contains(label) && label.width() >= need && label.height() >= fm.height()) return {};
        return Describe(w, box->title(), label.left() + need, box->width());
    }
    if (auto* button = qobject_cast<QAbstractButton*>(w)) {
        QStyleOptionButton opt;
        opt.initFrom(button);
        opt.text = button->text();
        const bool check = qobject_cast<QCheckBox*>(w) != nullptr;
        if (check) {
            // The box itself shows whole too.
            const QRect box = style->subElementRect(QStyle::SE_CheckBoxIndicator, &opt, button);
            if (!button->rect().contains(box))
                return Describe(w, QStringLiteral("[box]"), box.height(), button->height()) + QStringLiteral(" (box)");
        }
        if (button->text().isEmpty()) return {};
        const QRect room = style->subElementRect(check ? QStyle::SE_CheckBoxContents : QStyle::SE_PushButtonContents,
                                                 &opt, button);
        const int need = fm.horizontalAdvance(button->text());
        if (need > room.width()) return Describe(w, button->text(), need, room.width());
        if (fm.height() > room.height()) return Describe(w, button->text(), fm.height(), room.height()) + QStringLiteral(" (height)");
        return {};
    }
    if (auto* edit = qobject_cast<QLineEdit*>(w)) {
        // An edit box scrolls its text sideways, but its line must show whole in height.
        QStyleOptionFrame opt;
        opt.initFrom(edit);
        opt.lineWidth = edit->hasFrame() ? style->pixelMetric(QStyle::PM_DefaultFrameWidth, &opt, edit) : 0;
        const QRect room = style->subElementRect(QStyle::SE_LineEditContents, &opt, edit);
        if (fm.height() <= room.height()) return {};
        return Describe(w, edit->text(), fm.height(), room.height()) + QStringLiteral(" (height)");
    }
    if (auto* label = qobject_cast<QLabel*>(w)) {
        const QString text = label->text();
        if (text.isEmpty()) return {};
        const QRect room = label->contentsRect();
        int need = 0;
        // A wrapping text breaks between words: each word must fit, and the lines must fit below
        // one another.
        const QStringList parts = label->wordWrap() ? text.split(QRegularExpression(QStringLiteral("\\s+")))
                                                    : text.split(QLatin1Char('\n'));
        for (const QString& part : parts) need = std::max(need, fm.horizontalAdvance(part));
        if (need > room.width()) return Describe(w, text, need, room.width());
        if (!label->wordWrap()) {
            const int height = fm.height() * static_cast<int>(text.count(QLatin1Char('\n')) + 1);
            if (height > room.height()) return Describe(w, text, height, room.height()) + QStringLiteral(" (height)");
        } else {
            const int height =
                fm.boundingRect(QRect(0, 0, room.width(), 10000), Qt::TextWordWrap | int(label->alignment()), text).height();
            if (height > room.height())
                return Describe(w, text, height, room.height()) + QStringLiteral(" (height)");
        }
        return {};
    }
    return {};
}

// The items of a drop-down list that its open list would cut. The closed box shows the chosen
// item in the template's width and may cut a long one; the open list, where every item is read
// and chosen, must be at least as wide as a closed box that would show the item whole.
inline QStringList CutItems(QComboBox* list) {
    list->showPopup();
    const int room = list->view()->window()->width();
    list->hidePopup();
    QStyleOptionComboBox opt;
    opt.initFrom(list);
    opt.editable = false;
    opt.frame = list->hasFrame();
    QStringList found;
    for (int i = 0; i < list->count(); ++i) {
        const QSize text(list->fontMetrics().horizontalAdvance(list->itemText(i)), list->fontMetrics().height());
        const int need = list->style()->sizeFromContents(QStyle::CT_ComboBox, &opt, text, list).width();
        if (need > room) found << Describe(list, list->itemText(i), need, room);
    }
    return found;
}

// The captions and drop-down items of a dialog's own controls (those not hidden) that do not
// show whole, one a line.
inline std::string Overflows(QWidget& dialog) {
    QStringList found;
    for (QWidget* w : dialog.findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (w->isHidden()) continue;
        if (QString problem = CaptionOverflow(w); !problem.isEmpty()) found << problem;
        if (auto* list = qobject_cast<QComboBox*>(w)) found << CutItems(list);
    }
    return found.join(QLatin1Char('\n')).toStdString();
}

// A control's name in a finding: its id, or its kind and caption.
inline QString Name(QWidget* w) {
    QString text;
    if (auto* b = qobject_cast<QAbstractButton*>(w)) text = b->text();
    else if (auto* l = qobject_cast<QLabel*>(w)) text = l->text();
    else if (auto* g = qobject_cast<QGroupBox*>(w)) text = g->title();
    return QStringLiteral("%1 %2 \"%3\"").arg(QString::fromLatin1(w->metaObject()->className()), w->objectName(), text);
}

// The pairs of shown template controls of `dialog` that overlap on screen, and the controls that
// leave the window, one a line. Allowed: a control inside a group box's frame, and controls that
// the template itself lays over one another (an up-down at the end of its edit box); a drop-down
// list counts with its closed height, so it may lie over nothing.
inline std::string Overlaps(QDialog& dialog) {
    const ui::DialogTemplate* t = ui::TemplateOf(dialog);
    if (!t) return "not a template window";
    const std::vector<QWidget*> controls = ui::TemplateControls(dialog);
    auto templateRect = [&](std::size_t i) {
        const ui::ControlTemplate& c = t->controls[i];
        return QRect(c.x, c.y, c.cx, c.cy);
    };
    QStringList found;
    for (std::size_t i = 0; i < controls.size(); ++i) {
        QWidget* a = controls[i];
        if (a->isHidden()) continue;
        if (!dialog.rect().contains(a->geometry()))
            found << QStringLiteral("%1 leaves the window").arg(Name(a));
        for (std::size_t j = i + 1; j < controls.size(); ++j) {
            QWidget* b = controls[j];
            if (b->isHidden() || !a->geometry().intersects(b->geometry())) continue;
            auto frames = [](QWidget* frame, QWidget* inside) {
                return qobject_cast<QGroupBox*>(frame) && frame->geometry().contains(inside->geometry());
            };
            if (frames(a, b) || frames(b, a)) continue;
            const bool combo = qobject_cast<QComboBox*>(a) || qobject_cast<QComboBox*>(b);
            if (!combo && templateRect(i).intersects(templateRect(j))) continue;
            found << QStringLiteral("%1 overlaps %2").arg(Name(a), Name(b));
        }
    }
    return found.join(QLatin1Char('\n')).toStdString();
}

}  // namespace velq3::test
