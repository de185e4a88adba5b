// The Qt layer of the dialogs: the control operations over a dialog built from its template,
// the controls' signals routed to the dialog's rules, and the dialog that hosts them.
#pragma once

#include <QDialog>
#include <QIcon>
#include <QMessageBox>
#include <QString>

#include <functional>
#include <vector>

#include "ui/DialogControls.h"
#include "ui/qt/DialogBuilder.h"

namespace velq3::ui {

// A built dialog's control by id, as the type the template made it; nullptr for an unknown id.
template <class T>
T* ControlById(const ControlMap& controls, int id) {
    const auto it = controls.find(id);
    return it == controls.end() ? nullptr : static_cast<T*>(it->second);
}

// Lets the static texts of a dialog whose boxes are two lines high or more break their lines
// at word ends, so that texts laid out on two lines by their template show both lines.
void WrapStaticTexts(QWidget& dialog);

class QtDialogControls : public DialogControls {
public:
    // Shows a message and returns once it is dismissed; tests inject one that only records.
    using MessageHook =
        std::function<void(QWidget* parent, const QString& title, const QString& text, QMessageBox::Icon icon)>;

    // The row image index of a list view's row, kept in column 0.
    static constexpr int kImageRole = Qt::UserRole + 1;

    QtDialogControls(QDialog& dialog, ControlMap controls);

    QWidget* Control(int id) const { return ControlById<QWidget>(m_Controls, id); }
    void SetMessageHook(MessageHook hook) { m_Message = std::move(hook); }
    // The images that list view rows show, by index.
    void SetRowImages(std::vector<QIcon> images) { m_RowImages = std::move(images); }
    // From now on each control's events reach `rules`: clicks, edits, selections, up-down steps;
    // the connections end with `context` (the dialog by default).
    void Attach(DialogRules& rules, QObject* context = nullptr);

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
    QDialog& m_Dialog;
    ControlMap m_Controls;
    MessageHook m_Message;
    std::vector<QIcon> m_RowImages;
};

// A dialog built from `t` whose rules live in a toolkit-free class; Cancel, Esc and the close
// box go to the rules.
class QtRulesDialog : public QDialog {
public:
    QtRulesDialog(const DialogTemplate& t, QWidget* parent);

    // A control by id; nullptr for an unknown id.
    QWidget* Control(int id) const { return m_Ctl.Control(id); }
    QtDialogControls& Controls() { return m_Ctl; }
    void SetMessageBox(QtDialogControls::MessageHook show) { m_Ctl.SetMessageHook(std::move(show)); }

    void reject() override;

protected:
    // Routes the controls' events to `rules` from now on.
    void AttachRules(DialogRules& rules);

    QtDialogControls m_Ctl;

private:
    DialogRules* m_Rules = nullptr;
};

}  // namespace velq3::ui
