// The control operations on Qt widgets, and the controls' signals as the rules' events.
#include "ui/qt/QtDialog.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QTreeWidget>

#include "ui/qt/UpDown.h"

namespace velq3::ui {

namespace {

QString Q(std::string_view text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }
std::string Utf8(const QString& s) { return s.toUtf8().toStdString(); }

QMessageBox::Icon QtIcon(MessageIcon icon) {
    switch (icon) {
        case MessageIcon::Information: return QMessageBox::Information;
        case MessageIcon::Warning: return QMessageBox::Warning;
        case MessageIcon::Critical: return QMessageBox::Critical;
        case MessageIcon::None: break;
    }
    return QMessageBox::NoIcon;
}

ClientBox BoxOf(const QRect& r) { return {r.x(), r.y(), r.x() + r.width(), r.y() + r.height()}; }

}  // namespace

void WrapStaticTexts(QWidget& dialog) {
    for (QLabel* label : dialog.findChildren<QLabel*>(Qt::FindDirectChildrenOnly))
        if (label->height() >= 2 * label->fontMetrics().height()) label->setWordWrap(true);
}

QtDialogControls::QtDialogControls(QDialog& dialog, ControlMap controls)
    : m_Dialog(dialog), m_Controls(std::move(controls)) {
    m_Message = [](QWidget* parent, const QString& title, const QString& text, QMessageBox::Icon icon) {
        QMessageBox box(icon, title, text, QMessageBox::Ok, parent);
        box.exec();
    };
}

void QtDialogControls::Attach(DialogRules& rules, QObject* context) {
    DialogRules* r = &rules;
    QObject* in = context ? context : &m_Dialog;
    for (const auto& [id, w] : m_Controls) {
        const int i = id;
        if (auto* b = qobject_cast<QAbstractButton*>(w)) {
            QObject::connect(b, &QAbstractButton::clicked, in, [r, i] { r->OnCommand(i, Notify::Clicked); });
        } else if (auto* e = qobject_cast<QLineEdit*>(w)) {
            QObject::connect(e, &QLineEdit::textChanged, in, [r, i] { r->OnCommand(i, Notify::TextChanged); });
            QObject::connect(e, &QLineEdit::textEdited, in, [r, i] { r->OnCommand(i, Notify::TextEdited); });
            QObject::connect(e, &QLineEdit::editingFinished, in, [r, i] { r->OnCommand(i, Notify::EditDone); });
        } else if (auto* c = qobject_cast<QComboBox*>(w)) {
            QObject::connect(c, &QComboBox::currentIndexChanged, in, [r, i] { r->OnCommand(i, Notify::SelChanged); });
        } else if (auto* u = qobject_cast<CUpDown*>(w)) {
            QObject::connect(u, &CUpDown::DeltaPos, in, [r, i](int d) { r->OnDeltaPos(i, d); });
        }
    }
}

bool QtDialogControls::Has(int id) const { return Control(id) != nullptr; }

std::string QtDialogControls::Text(int id) const {
    QWidget* w = Control(id);
    if (auto* e = qobject_cast<QLineEdit*>(w)) return Utf8(e->text());
    if (auto* l = qobject_cast<QLabel*>(w)) return Utf8(l->text());
    if (auto* b = qobject_cast<QAbstractButton*>(w)) return Utf8(b->text());
    return {};
}

void QtDialogControls::SetText(int id, std::string_view text) {
    QWidget* w = Control(id);
    if (auto* e = qobject_cast<QLineEdit*>(w)) e->setText(Q(text));
    else if (auto* l = qobject_cast<QLabel*>(w)) l->setText(Q(text));
    else if (auto* b = qobject_cast<QAbstractButton*>(w)) b->setText(Q(text));
}

void QtDialogControls::ShowTextStart(int id) {
    if (auto* e = qobject_cast<QLineEdit*>(Control(id))) e->setCursorPosition(0);
}

void QtDialogControls::DigitsOnly(int id) {
    if (auto* e = qobject_cast<QLineEdit*>(Control(id)))
        e->setValidator(new QRegularExpressionValidator(QRegularExpression("[0-9]*"), e));
}

bool QtDialogControls::Checked(int id) const {
    auto* b = qobject_cast<QAbstractButton*>(Control(id));
    return b && b->isChecked();
}

void QtDialogControls::SetChecked(int id, bool checked) {
    if (auto* b = qobject_cast<QAbstractButton*>(Control(id))) b->setChecked(checked);
}

int QtDialogControls::CheckState(int id) const {
    auto* b = qobject_cast<QCheckBox*>(Control(id));
    if (!b) return 0;
    switch (b->checkState()) {
        case Qt::Checked: return 1;
        case Qt::PartiallyChecked: return 2;
        case Qt::Unchecked: break;
    }
    return 0;
}

void QtDialogControls::SetCheckState(int id, int state) {
    if (auto* b = qobject_cast<QCheckBox*>(Control(id)))
        b->setCheckState(state == 1 ? Qt::Checked : state == 2 ? Qt::PartiallyChecked : Qt::Unchecked);
}

bool QtDialogControls::Enabled(int id) const {
    QWidget* w = Control(id);
    return w && w->isEnabled();
}

void QtDialogControls::Enable(int id, bool enabled) {
    if (QWidget* w = Control(id)) w->setEnabled(enabled);
}

bool QtDialogControls::Shown(int id) const {
    QWidget* w = Control(id);
    return w && !w->isHidden();
}

void QtDialogControls::Show(int id, bool shown) {
    if (QWidget* w = Control(id)) w->setVisible(shown);
}

void QtDialogControls::Focus(int id) {
    if (QWidget* w = Control(id)) w->setFocus();
}

void QtDialogControls::FocusAndSelect(int id) {
    QWidget* w = Control(id);
    if (!w) return;
    w->setFocus();
    if (auto* e = qobject_cast<QLineEdit*>(w)) e->selectAll();
}

void QtDialogControls::SetDefaultButton(int id) {
    if (auto* b = qobject_cast<QPushButton*>(Control(id))) b->setDefault(true);
}

void QtDialogControls::SetItems(int id, const std::vector<std::string>& items) {
    auto* c = qobject_cast<QComboBox*>(Control(id));
    if (!c) return;
    c->clear();
    for (const std::string& item : items) c->addItem(Q(item));
}

int QtDialogControls::ItemCount(int id) const {
    auto* c = qobject_cast<QComboBox*>(Control(id));
    return c ? c->count() : 0;
}

int QtDialogControls::Selection(int id) const {
    auto* c = qobject_cast<QComboBox*>(Control(id));
    return c ? c->currentIndex() : -1;
}

void QtDialogControls::Select(int id, int index) {
    if (auto* c = qobject_cast<QComboBox*>(Control(id))) c->setCurrentIndex(index);
}

void QtDialogControls::SetRange(int id, int lower, int upper) {
    if (auto* u = qobject_cast<CUpDown*>(Control(id))) u->SetRange(lower, upper);
}

void QtDialogControls::SetBuddy(int id, int buddyId, bool setBuddyInt) {
    if (auto* u = qobject_cast<CUpDown*>(Control(id))) u->SetBuddy(qobject_cast<QLineEdit*>(Control(buddyId)), setBuddyInt);
}

int QtDialogControls::ColumnCount(int id) const {
    auto* list = qobject_cast<QTreeWidget*>(Control(id));
    return list ? list->columnCount() : 0;
}

void QtDialogControls::SetColumns(int id, const std::vector<std::string>& heads) {
    auto* list = qobject_cast<QTreeWidget*>(Control(id));
    if (!list) return;
    QStringList labels;
    for (const std::string& h : heads) labels << Q(h);
    list->clear();
    list->setColumnCount(static_cast<int>(labels.size()));
    list->setHeaderLabels(labels);
}

void QtDialogControls::ClearRows(int id) {
    if (auto* list = qobject_cast<QTreeWidget*>(Control(id))) list->clear();
}

void QtDialogControls::AddRow(int id, const std::vector<std::string>& cells, int image) {
    auto* list = qobject_cast<QTreeWidget*>(Control(id));
    if (!list) return;
    auto* item = new QTreeWidgetItem(list);
    // Rows take label edits in their first column.
    item->setFlags(item->flags() | Qt::ItemIsEditable);
    for (size_t c = 0; c < cells.size(); ++c) item->setText(static_cast<int>(c), Q(cells[c]));
    SetRowImage(id, list->topLevelItemCount() - 1, image);
}

int QtDialogControls::RowCount(int id) const {
    auto* list = qobject_cast<QTreeWidget*>(Control(id));
    return list ? list->topLevelItemCount() : 0;
}

std::string QtDialogControls::CellText(int id, int row, int column) const {
    auto* list = qobject_cast<QTreeWidget*>(Control(id));
    QTreeWidgetItem* item = list ? list->topLevelItem(row) : nullptr;
    return item ? Utf8(item->text(column)) : std::string();
}

void QtDialogControls::SetCellText(int id, int row, int column, std::string_view text) {
    auto* list = qobject_cast<QTreeWidget*>(Control(id));
    if (QTreeWidgetItem* item = list ? list->topLevelItem(row) : nullptr) item->setText(column, Q(text));
}

void QtDialogControls::SetRowImage(int id, int row, int image) {
    auto* list = qobject_cast<QTreeWidget*>(Control(id));
    QTreeWidgetItem* item = list ? list->topLevelItem(row) : nullptr;
    if (!item) return;
    if (image >= 0 && image < static_cast<int>(m_RowImages.size())) item->setIcon(0, m_RowImages[static_cast<size_t>(image)]);
    item->setData(0, kImageRole, image);
}

void QtDialogControls::WaitCursor(bool on) {
    if (on) QApplication::setOverrideCursor(Qt::WaitCursor);
    else QApplication::restoreOverrideCursor();
}

std::string QtDialogControls::Caption() const { return Utf8(m_Dialog.windowTitle()); }

ClientBox QtDialogControls::ClientArea() const { return {0, 0, m_Dialog.width(), m_Dialog.height()}; }

ClientBox QtDialogControls::ControlBox(int id) const {
    QWidget* w = Control(id);
    return w ? BoxOf(w->geometry()) : ClientBox{};
}

void QtDialogControls::Redraw() { m_Dialog.update(); }

void QtDialogControls::Message(std::string_view text, std::string_view caption, MessageIcon icon) {
    const QString title = caption.empty() ? QGuiApplication::applicationDisplayName() : Q(caption);
    if (m_Message) m_Message(&m_Dialog, title, Q(text), QtIcon(icon));
}

void QtDialogControls::EndDialog(int result) {
    if (result == kIdOk) m_Dialog.QDialog::accept();
    else m_Dialog.QDialog::reject();
}

QtRulesDialog::QtRulesDialog(const DialogTemplate& t, QWidget* parent)
    : QDialog(parent), m_Ctl(*this, BuildDialog(*this, t)) {}

void QtRulesDialog::AttachRules(DialogRules& rules) {
    m_Rules = &rules;
    m_Ctl.Attach(rules);
}

void QtRulesDialog::reject() {
    if (m_Rules) m_Rules->OnCancel();
    else QDialog::reject();
}

}  // namespace velq3::ui
