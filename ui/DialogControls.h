// The small set of control operations a dialog's rules use, by control id, so that the rules
// run unchanged over either toolkit layer (and over a fake one in tests). Texts are UTF-8.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velq3::ui {

inline constexpr int kIdOk = 1;
inline constexpr int kIdCancel = 2;

// What a control reports to the dialog's rules.
enum class Notify {
    Clicked,      // a button or check box pressed by the operator
    TextChanged,  // an edit's text changed, by the operator or the program
    TextEdited,   // an edit's text changed by the operator
    SelChanged,   // a drop-down list's selection changed, by the operator or the program
    EditDone,     // the operator ended an edit (the focus left the box, or Enter)
};

enum class MessageIcon { None, Information, Warning, Critical };

// A rectangle in the dialog's client pixels; right and bottom are exclusive.
struct ClientBox {
    int left = 0, top = 0, right = 0, bottom = 0;
};

class DialogControls {
public:
    virtual ~DialogControls() = default;

    // Whether the dialog has a control with this id.
    virtual bool Has(int id) const = 0;

    // The text of an edit, static text, button or check box.
    virtual std::string Text(int id) const = 0;
    virtual void SetText(int id, std::string_view text) = 0;
    // Scrolls an edit back to the start of its text (after a long text was set).
    virtual void ShowTextStart(int id) = 0;
    // Lets an edit take digits only.
    virtual void DigitsOnly(int id) = 0;

    virtual bool Checked(int id) const = 0;
    virtual void SetChecked(int id, bool checked) = 0;
    // A three-state box: 0 clear, 1 checked, 2 indeterminate.
    virtual int CheckState(int id) const = 0;
    virtual void SetCheckState(int id, int state) = 0;

    virtual bool Enabled(int id) const = 0;
    virtual void Enable(int id, bool enabled) = 0;
    // Shown as far as the dialog is concerned (the dialog itself may be hidden).
    virtual bool Shown(int id) const = 0;
    virtual void Show(int id, bool shown) = 0;
    virtual void Focus(int id) = 0;
    // Gives an edit the focus and selects its text.
    virtual void FocusAndSelect(int id) = 0;
    // The button that Enter presses.
    virtual void SetDefaultButton(int id) = 0;

    // Drop-down lists: the items, and the selected index (-1 for none).
    virtual void SetItems(int id, const std::vector<std::string>& items) = 0;
    virtual int ItemCount(int id) const = 0;
    virtual int Selection(int id) const = 0;
    virtual void Select(int id, int index) = 0;

    // Up-down controls: the range, and the edit that the arrows write whole numbers into
    // (`setBuddyInt`) or that only carries the arrow keys.
    virtual void SetRange(int id, int lower, int upper) = 0;
    virtual void SetBuddy(int id, int buddyId, bool setBuddyInt) = 0;

    // Report-style list views: the column heads, the rows' cells and each row's image (an
    // index into the list's images).
    virtual int ColumnCount(int id) const = 0;
    virtual void SetColumns(int id, const std::vector<std::string>& heads) = 0;
    virtual void ClearRows(int id) = 0;
    virtual void AddRow(int id, const std::vector<std::string>& cells, int image) = 0;
    virtual int RowCount(int id) const = 0;
    virtual std::string CellText(int id, int row, int column) const = 0;
    virtual void SetCellText(int id, int row, int column, std::string_view text) = 0;
    virtual void SetRowImage(int id, int row, int image) = 0;

    // The wait cursor over the program while a blocking command runs.
    virtual void WaitCursor(bool on) = 0;

    // The dialog: its caption, client area, a control's rectangle, a repaint, a message box
    // (an empty caption shows the program's name) and the end of a modal run with kIdOk or
    // kIdCancel.
    virtual std::string Caption() const = 0;
    virtual ClientBox ClientArea() const = 0;
    virtual ClientBox ControlBox(int id) const = 0;
    virtual void Redraw() = 0;
    virtual void Message(std::string_view text, std::string_view caption, MessageIcon icon) = 0;
    virtual void EndDialog(int result) = 0;
};

// A dialog's rules: the toolkit layer calls these on the control events.
class DialogRules {
public:
    virtual ~DialogRules() = default;
    virtual void OnCommand(int id, Notify what) = 0;
    // An up-down's proposed change of position, before the step is applied.
    virtual void OnDeltaPos(int /*id*/, int /*delta*/) {}
    // Cancel, Esc or the close box.
    virtual void OnCancel() = 0;
};

}  // namespace velq3::ui
