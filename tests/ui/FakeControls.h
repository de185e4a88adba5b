// A toolkit-free control layer for the dialogs' rules: one record per template control, the
// operator's actions as calls, and what the dialog showed and how it ended kept for the checks.
// Lists behave as the Win32 ones do: filling a list leaves it without a selection.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "ui/DialogControls.h"
#include "ui/DialogTemplate.h"
#include "ui/NumberText.h"

namespace velq3::test {

class FakeControls : public ui::DialogControls {
public:
    struct Control {
        ui::ControlKind kind{};
        std::string text;
        bool checked = false;
        int checkState = 0;  // three-state boxes
        bool enabled = true;
        bool shown = true;
        std::vector<std::string> items;
        int selection = -1;
        int lower = 100, upper = 0, pos = 0;  // an up-down's range and position
        int buddy = ui::kNoId;
        bool setBuddyInt = false;
        bool arrowKeys = false;  // Up and Down in the buddy work the arrows
        bool digitsOnly = false;
        ui::ClientBox box;
        std::vector<std::string> heads;  // list views
        std::vector<std::vector<std::string>> rows;
        std::vector<int> images;
    };
    struct ShownMessage {
        std::string text, caption;
        ui::MessageIcon icon;
    };

    // One control per addressed template control, with its caption, its state at creation and
    // its rectangle at 2 pixels per dialog unit.
    explicit FakeControls(const ui::DialogTemplate& t) : m_Caption(t.caption ? t.caption : "") {
        m_Client = {0, 0, 2 * t.cx, 2 * t.cy};
        int previous = ui::kNoId;
        for (const ui::ControlTemplate& c : t.controls) {
            const int before = previous;
            previous = c.id;
            if (c.id == ui::kNoId) continue;
            Control& k = m_Controls[c.id];
            // An up-down placed at the right end of the box before it takes that box as its buddy.
            if (c.kind == ui::ControlKind::UpDown && (c.style & ui::kAlignRightOfPrevious) && before != ui::kNoId) {
                k.buddy = before;
                k.arrowKeys = (c.style & ui::kArrowKeys) != 0;
            }
            k.kind = c.kind;
            k.text = c.text ? c.text : "";
            k.enabled = !(c.style & ui::kDisabled);
            k.box = {2 * c.x, 2 * c.y, 2 * (c.x + c.cx), 2 * (c.y + c.cy)};
        }
    }

    void Attach(ui::DialogRules& rules) { m_Rules = &rules; }

    // --- the operator ---
    // A click on an enabled button or check box; a two-state box changes its mark first. The
    // cancel button is the dialog's cancel command.
    void Click(int id) {
        Control& c = At(id);
        if (!c.enabled || !c.shown) return;
        if (id == ui::kIdCancel) return Escape();
        if (c.kind == ui::ControlKind::CheckBox) c.checked = !c.checked;
        Notify(id, ui::Notify::Clicked);
    }
    // The operator leaves an edit.
    void LeaveEdit(int id) { Notify(id, ui::Notify::EditDone); }
    // Text typed over an edit's text.
    void Type(int id, const std::string& text) {
        At(id).text = text;
        Notify(id, ui::Notify::TextEdited);
        Notify(id, ui::Notify::TextChanged);
    }
    void Choose(int id, int index) {
        Control& c = At(id);
        if (c.selection == index) return;
        c.selection = index;
        Notify(id, ui::Notify::SelChanged);
    }
    // A click on an up-down's arrow.
    void Step(int id, bool up) {
        Control& c = At(id);
        const int delta = (up == (c.upper >= c.lower)) ? 1 : -1;
        if (m_Rules) m_Rules->OnDeltaPos(id, delta);
        if (c.setBuddyInt && c.buddy != ui::kNoId)
            if (auto v = ui::LeadingInteger(At(c.buddy).text)) c.pos = static_cast<int>(*v);
        c.pos = std::clamp(c.pos + delta, std::min(c.lower, c.upper), std::max(c.lower, c.upper));
        if (c.setBuddyInt && c.buddy != ui::kNoId) SetText(c.buddy, std::to_string(c.pos));
    }
    // Up or Down pressed in an edit: the up-down that takes the edit's arrow keys steps.
    void ArrowKey(int editId, bool up) {
        for (auto& [id, c] : m_Controls)
            if (c.kind == ui::ControlKind::UpDown && c.buddy == editId && c.arrowKeys) return Step(id, up);
    }
    // Esc or the close box.
    void Escape() {
        if (m_Rules) m_Rules->OnCancel();
    }

    // --- what the checks look at ---
    const Control& Get(int id) { return At(id); }
    std::optional<int> ended;
    std::vector<ShownMessage> messages;
    int focus = ui::kNoId;
    int waitCursors = 0;  // shown now
    int waits = 0;        // shown in all
    int defaultButton = ui::kNoId;
    int redraws = 0;

    // --- the control operations ---
    bool Has(int id) const override { return m_Controls.count(id) != 0; }
    std::string Text(int id) const override { return At(id).text; }
    void SetText(int id, std::string_view text) override {
        Control& c = At(id);
        if (c.text == text) return;
        c.text = std::string(text);
        if (c.kind == ui::ControlKind::Edit) Notify(id, ui::Notify::TextChanged);
    }
    void ShowTextStart(int id) override { At(id); }
    void DigitsOnly(int id) override { At(id).digitsOnly = true; }
    bool Checked(int id) const override { return At(id).checked; }
    void SetChecked(int id, bool checked) override { At(id).checked = checked; }
    int CheckState(int id) const override {
        const Control& c = At(id);
        return c.kind == ui::ControlKind::ThreeStateBox ? c.checkState : c.checked ? 1 : 0;
    }
    void SetCheckState(int id, int state) override {
        Control& c = At(id);
        c.checkState = state;
        c.checked = state == 1;
    }
    bool Enabled(int id) const override { return At(id).enabled; }
    void Enable(int id, bool enabled) override { At(id).enabled = enabled; }
    bool Shown(int id) const override { return At(id).shown; }
    void Show(int id, bool shown) override { At(id).shown = shown; }
    void Focus(int id) override { focus = (At(id), id); }
    void FocusAndSelect(int id) override { focus = At(id).kind == ui::ControlKind::Edit ? id : ui::kNoId; }
    void SetDefaultButton(int id) override {
        At(id);
        defaultButton = id;
    }
    void SetItems(int id, const std::vector<std::string>& items) override {
        Control& c = At(id);
        c.items = items;
        c.selection = -1;
    }
    int ItemCount(int id) const override { return static_cast<int>(At(id).items.size()); }
    int Selection(int id) const override { return At(id).selection; }
    void Select(int id, int index) override {
        Control& c = At(id);
        const int next = index >= 0 && index < static_cast<int>(c.items.size()) ? index : -1;
        if (next == c.selection) return;
        c.selection = next;
        Notify(id, ui::Notify::SelChanged);
    }
    void SetRange(int id, int lower, int upper) override {
        Control& c = At(id);
        c.lower = lower;
        c.upper = upper;
        c.pos = std::clamp(c.pos, std::min(lower, upper), std::max(lower, upper));
    }
    void SetBuddy(int id, int buddyId, bool setBuddyInt) override {
        At(buddyId);
        Control& c = At(id);
        c.buddy = buddyId;
        c.setBuddyInt = setBuddyInt;
    }
    int ColumnCount(int id) const override { return static_cast<int>(At(id).heads.size()); }
    void SetColumns(int id, const std::vector<std::string>& heads) override {
        Control& c = At(id);
        c.heads = heads;
        c.rows.clear();
        c.images.clear();
    }
    void ClearRows(int id) override {
        Control& c = At(id);
        c.rows.clear();
        c.images.clear();
    }
    void AddRow(int id, const std::vector<std::string>& cells, int image) override {
        Control& c = At(id);
        EXPECT_LE(cells.size(), c.heads.size()) << "more cells than columns";
        c.rows.push_back(cells);
        c.rows.back().resize(c.heads.size());
        c.images.push_back(image);
    }
    int RowCount(int id) const override { return static_cast<int>(At(id).rows.size()); }
    std::string CellText(int id, int row, int column) const override {
        const Control& c = At(id);
        if (row < 0 || row >= static_cast<int>(c.rows.size()) || column < 0 ||
            column >= static_cast<int>(c.heads.size()))
            return {};
        return c.rows[static_cast<size_t>(row)][static_cast<size_t>(column)];
    }
    void SetCellText(int id, int row, int column, std::string_view text) override {
        Control& c = At(id);
        if (row < 0 || row >= static_cast<int>(c.rows.size()) || column < 0 ||
            column >= static_cast<int>(c.heads.size()))
            return;
        c.rows[static_cast<size_t>(row)][static_cast<size_t>(column)] = std::string(text);
    }
    void SetRowImage(int id, int row, int image) override {
        Control& c = At(id);
        if (row >= 0 && row < static_cast<int>(c.images.size())) c.images[static_cast<size_t>(row)] = image;
    }
    void WaitCursor(bool on) override {
        waitCursors += on ? 1 : -1;
        EXPECT_GE(waitCursors, 0) << "a wait cursor ended that never began";
        if (on) ++waits;
    }
    std::string Caption() const override { return m_Caption; }
    ui::ClientBox ClientArea() const override { return m_Client; }
    ui::ClientBox ControlBox(int id) const override { return At(id).box; }
    void Redraw() override { ++redraws; }
    void Message(std::string_view text, std::string_view caption, ui::MessageIcon icon) override {
        messages.push_back({std::string(text), std::string(caption), icon});
    }
    void EndDialog(int result) override {
        EXPECT_FALSE(ended.has_value()) << "the dialog ended twice";
        ended = result;
    }

private:
    // A control the rules address must be in the template.
    Control& At(int id) {
        auto it = m_Controls.find(id);
        if (it == m_Controls.end()) {
            ADD_FAILURE() << "no control " << id;
            return m_Missing;
        }
        return it->second;
    }
    const Control& At(int id) const { return const_cast<FakeControls*>(this)->At(id); }
    void Notify(int id, ui::Notify what) {
        if (m_Rules) m_Rules->OnCommand(id, what);
    }

    std::string m_Caption;
    ui::ClientBox m_Client;
    std::map<int, Control> m_Controls;
    Control m_Missing;
    ui::DialogRules* m_Rules = nullptr;
};

}  // namespace velq3::test
