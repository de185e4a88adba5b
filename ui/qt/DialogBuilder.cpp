// The dialog-template builder: dialog units to pixels from the dialog font, one Qt widget per
// template control, each named after its id.
#include "ui/qt/DialogBuilder.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QEvent>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTreeWidget>

#include <algorithm>
#include <vector>

#include "ui/qt/UiScale.h"
#include "ui/qt/UpDown.h"

namespace velq3::ui {

namespace {

// A three-state box whose state only the program sets: a click reports itself and leaves
// the state as it was.
class CThreeStateBox : public QCheckBox {
public:
    using QCheckBox::QCheckBox;

protected:
    void nextCheckState() override {}
};

// A read-only box takes the dialog's background, also after the application's palette changed
// (the night palette and back).
class CReadOnlyEdit : public QLineEdit {
public:
    using QLineEdit::QLineEdit;

    void MatchWindow() {
        QPalette pal = palette();
        if (pal.color(QPalette::Base) == pal.color(QPalette::Window)) return;
        pal.setColor(QPalette::Base, pal.color(QPalette::Window));
        setPalette(pal);
    }

protected:
    void changeEvent(QEvent* event) override {
        QLineEdit::changeEvent(event);
        if (event->type() == QEvent::PaletteChange) MatchWindow();
    }
};

// Rounded a * b / c, as dialog-unit conversion rounds.
int MulDiv(int a, int b, int c) { return (a * b + c / 2) / c; }

QString Caption(const char* text) { return QString::fromUtf8(text ? text : ""); }

QWidget* MakeControl(QDialog& dialog, const ControlTemplate& c) {
    switch (c.kind) {
    case ControlKind::GroupBox:
        return new QGroupBox(Caption(c.text), &dialog);
    case ControlKind::PushButton: {
        auto* b = new QPushButton(Caption(c.text), &dialog);
        b->setAutoDefault(false);
        return b;
    }
    case ControlKind::CheckBox:
        return new QCheckBox(Caption(c.text), &dialog);
    case ControlKind::ThreeStateBox: {
        auto* b = new CThreeStateBox(Caption(c.text), &dialog);
        b->setTristate(true);
        return b;
    }
    case ControlKind::Label: {
        auto* l = new QLabel(Caption(c.text), &dialog);
        l->setAlignment((c.style & kCentred) ? (Qt::AlignHCenter | Qt::AlignTop) : (Qt::AlignLeft | Qt::AlignTop));
        l->setWordWrap((c.style & kCentred) != 0);
        return l;
    }
    case ControlKind::Edit: {
        if (c.style & kReadOnly) {
            // Read-only boxes take the dialog's background, as the operator knows them.
            auto* e = new CReadOnlyEdit(Caption(c.text), &dialog);
            e->setReadOnly(true);
            e->setFrame(!(c.style & kNoBorder));
            e->MatchWindow();
            return e;
        }
        auto* e = new QLineEdit(Caption(c.text), &dialog);
        e->setFrame(!(c.style & kNoBorder));
        return e;
    }
    case ControlKind::ComboList:
        return new QComboBox(&dialog);
    case ControlKind::UpDown:
        return new CUpDown(&dialog);
    case ControlKind::ListView: {
        auto* list = new QTreeWidget(&dialog);
        list->setRootIsDecorated(false);
        list->setUniformRowHeights(true);
        list->setSelectionMode(QAbstractItemView::SingleSelection);
        list->setColumnCount(0);
        list->header()->setSectionsClickable(false);
        list->header()->setSectionsMovable(false);
        list->header()->setStretchLastSection(false);
        list->setFrameShape(QFrame::StyledPanel);
        return list;
    }
    }
    return nullptr;
}

// How many pixels a control's one-line caption lacks at the control's font: 0 when it fits, or
// when the control has no such caption (texts that wrap, captions laid out right to left).
int CaptionShortfall(QWidget* w) {
    if (w->layoutDirection() == Qt::RightToLeft) return 0;
    const QFontMetrics fm(w->font());
    if (auto* label = qobject_cast<QLabel*>(w)) {
        // Texts two lines high or more wrap between words instead.
        if (label->wordWrap() || label->height() >= 2 * fm.height()) return 0;
        int need = 0;
        for (const QString& line : label->text().split(QLatin1Char('\n')))
            need = std::max(need, fm.horizontalAdvance(line));
        return std::max(0, need - label->contentsRect().width());
    }
    auto* button = qobject_cast<QAbstractButton*>(w);
    if (!button || button->text().isEmpty()) return 0;
    QStyleOptionButton opt;
    opt.initFrom(button);
    opt.text = button->text();
    const bool check = qobject_cast<QCheckBox*>(w) != nullptr;
    const QRect room = w->style()->subElementRect(check ? QStyle::SE_CheckBoxContents : QStyle::SE_PushButtonContents,
                                                  &opt, button);
    return std::max(0, fm.horizontalAdvance(button->text()) - room.width());
}

// A caption that the dialog font makes wider than its control takes the room it lacks to the
// right of the control, when that strip is inside the dialog and touches no other control (a
// group box around the control counts only where the strip would leave it). Positions, the
// other sizes and every other control stay as the template gives them.
void GrowCaptionsIntoFreeRoom(QDialog& dialog, const std::vector<QWidget*>& built) {
    for (QWidget* w : built) {
        const int lacking = CaptionShortfall(w);
        if (lacking == 0) continue;
        const QRect r = w->geometry();
        const QRect strip(r.right() + 1, r.top(), lacking, r.height());
        bool free = strip.right() < dialog.width();
        for (QWidget* other : built) {
            if (!free) break;
            if (other == w) continue;
            const QRect o = other->geometry();
            const bool frame = qobject_cast<QGroupBox*>(other) && o.contains(r);
            free = frame ? o.contains(strip) : !o.intersects(strip);
        }
        if (free) w->setGeometry(r.adjusted(0, 0, lacking, 0));
    }
}

// What a built dialog keeps of its template, so that it can be laid out again at another
// scale: the template and its controls in template order (they are the dialog's children and
// live as long as the record does).
class CTemplateRecord : public QObject {
public:
    CTemplateRecord(const DialogTemplate& t, QDialog& dialog) : QObject(&dialog), tmpl(t) {}
    DialogTemplate tmpl;
    std::vector<QWidget*> controls;
};

CTemplateRecord* RecordOf(const QDialog& dialog) {
    for (QObject* child : dialog.children())
        if (auto* record = dynamic_cast<CTemplateRecord*>(child)) return record;
    return nullptr;
}

// Gives the dialog and every control the template font at the application's scale, and each
// control its rectangle in dialog units of that font; the client size is fixed, or only set
// for a sizable frame.
void PlaceControls(QDialog& dialog, const DialogTemplate& t, const std::vector<QWidget*>& built, bool fixedSize) {
    const QFont font = TemplateFont(t);
    dialog.setFont(font);
    const DialogUnits du = DialogUnits::ForFont(font);
    const QSize client(du.X(t.cx), du.Y(t.cy));
    if (fixedSize) dialog.setFixedSize(client);
    else dialog.resize(client);

    QWidget* previous = nullptr;
    for (std::size_t i = 0; i < built.size() && i < t.controls.size(); ++i) {
        const ControlTemplate& c = t.controls[i];
        QWidget* w = built[i];
        w->setFont(font);
        QRect r = du.Rect(c.x, c.y, c.cx, c.cy);
        if (auto* combo = qobject_cast<QComboBox*>(w)) {
            // The template height is that of the open list; the closed box takes its natural height.
            const int rowHeight = std::max(1, combo->fontMetrics().height() + 2);
            combo->setMaxVisibleItems(std::max(1, (r.height() - combo->sizeHint().height()) / rowHeight));
            r.setHeight(combo->sizeHint().height());
        }
        if (dynamic_cast<CUpDown*>(w)) {
            // Placed at the right end of its buddy, which gives up that room.
            if (auto* buddy = qobject_cast<QLineEdit*>(previous); buddy && (c.style & kAlignRightOfPrevious)) {
                const QRect b = buddy->geometry();
                r = QRect(b.right() + 1 - r.width(), b.top(), r.width(), b.height());
                buddy->setGeometry(b.adjusted(0, 0, -r.width(), 0));
            }
        }
        w->setGeometry(r);
        previous = w;
    }
    GrowCaptionsIntoFreeRoom(dialog, built);
}

}  // namespace

DialogUnits DialogUnits::ForFont(const QFont& font) {
    const QFontMetrics fm(font);
    const int letters = fm.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    DialogUnits u;
    u.baseX = std::max(1, (letters / 26 + 1) / 2);
    u.baseY = std::max(1, fm.height());
    return u;
}

int DialogUnits::X(int du) const { return MulDiv(du, baseX, 4); }
int DialogUnits::Y(int du) const { return MulDiv(du, baseY, 8); }

// The edges are converted rather than the size, so that controls whose edges meet in dialog
// units meet in pixels too instead of overlapping by a rounded pixel.
QRect DialogUnits::Rect(int x, int y, int cx, int cy) const {
    return QRect(QPoint(X(x), Y(y)), QPoint(X(x + cx) - 1, Y(y + cy) - 1));
}

QFont TemplateFont(const DialogTemplate& t) {
    const QString face = QString::fromUtf8(t.fontFace);
    QFont font = QFontDatabase::families().contains(face) ? QFont(face) : QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    font.setPointSize(t.pointSize);
    return ScaledFont(font);
}

ControlMap BuildDialog(QDialog& dialog, const DialogTemplate& t) {
    dialog.setWindowTitle(Caption(t.caption));
    auto* record = new CTemplateRecord(t, dialog);
    ControlMap controls;
    QWidget* previous = nullptr;
    for (const ControlTemplate& c : t.controls) {
        QWidget* w = MakeControl(dialog, c);
        if (auto* upDown = dynamic_cast<CUpDown*>(w)) {
            if (auto* buddy = qobject_cast<QLineEdit*>(previous); buddy && (c.style & kAlignRightOfPrevious))
                upDown->SetBuddy(buddy, false);
            upDown->SetArrowKeys(c.style & kArrowKeys);
        }
        if (c.style & kDisabled) w->setEnabled(false);
        if (c.style & kTextLeft) w->setLayoutDirection(Qt::RightToLeft);
        if (auto* button = qobject_cast<QPushButton*>(w); button && (c.style & kCancel))
            QObject::connect(button, &QPushButton::clicked, &dialog, &QDialog::reject);
        if (c.id != kNoId) {
            w->setObjectName(QString::number(c.id));
            controls[c.id] = w;
        }
        previous = w;
        record->controls.push_back(w);
    }
    PlaceControls(dialog, t, record->controls, true);
    return controls;
}

bool RelayoutDialog(QDialog& dialog) {
    CTemplateRecord* record = RecordOf(dialog);
    if (!record) return false;
    // A window whose frame was made sizable after the build keeps it so.
    const bool fixed = dialog.minimumSize() == dialog.maximumSize();
    PlaceControls(dialog, record->tmpl, record->controls, fixed);
    return true;
}

const DialogTemplate* TemplateOf(const QDialog& dialog) {
    const CTemplateRecord* record = RecordOf(dialog);
    return record ? &record->tmpl : nullptr;
}

std::vector<QWidget*> TemplateControls(const QDialog& dialog) {
    const CTemplateRecord* record = RecordOf(dialog);
    return record ? record->controls : std::vector<QWidget*>{};
}

}  // namespace velq3::ui
