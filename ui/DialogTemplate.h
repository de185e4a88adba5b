// Dialog templates as data (controls in dialog units) and the one builder that turns a template
// into Qt widgets, with each control's numeric id as its object name.
#pragma once

#include <QFont>
#include <QRect>
#include <QString>

#include <map>
#include <span>
#include <vector>

class QWidget;
class QDialog;

namespace velq3::ui {

// Kinds of control a template can hold.
enum class ControlKind {
    GroupBox,
    PushButton,
    CheckBox,
    ThreeStateBox,  // three-state check box that does not change state by itself when clicked
    Label,          // static text
    Edit,
    ComboList,      // drop-down list
    UpDown,
    ListView,       // report-style list
};

// Style bits beside the kind.
enum ControlStyle : unsigned {
    kStyleNone = 0,
    kDisabled = 1u << 0,       // starts disabled
    kReadOnly = 1u << 1,       // edit: read-only
    kNoBorder = 1u << 2,       // edit: no frame
    kTextLeft = 1u << 3,       // check box: text (and box) laid out right to left
    kCentred = 1u << 4,        // static: centred text
    kArrowKeys = 1u << 5,      // up-down: Up and Down keys in its buddy work it
    kAlignRightOfPrevious = 1u << 6,  // up-down: buddy is the previous control; placed at its
                                      // right end, which is shrunk by the up-down's width
    kCancel = 1u << 7,         // push button: the dialog's cancel command
};

inline constexpr int kNoId = -1;  // controls that nobody addresses (frames, fixed texts)

struct ControlTemplate {
    int id;
    ControlKind kind;
    const char* text;  // caption; "\n" separates lines
    int x, y, cx, cy;  // dialog units
    unsigned style = kStyleNone;
};

struct DialogTemplate {
    int id;
    const char* caption;
    int pointSize;
    const char* fontFace;
    int cx, cy;  // client size in dialog units
    std::span<const ControlTemplate> controls;
};

// Dialog base units: pixels per 4 horizontal and per 8 vertical dialog units.
struct DialogUnits {
    int baseX = 6;   // average character width
    int baseY = 13;  // character height

    static DialogUnits ForFont(const QFont& font);
    int X(int du) const;
    int Y(int du) const;
    QRect Rect(int x, int y, int cx, int cy) const;
};

// The controls of a built dialog by id (controls with kNoId are not listed).
using ControlMap = std::map<int, QWidget*>;

// Gives `dialog` the template's font (at the application's scale), caption and client size and
// creates every control as its child at its position. A one-line caption (static text, button,
// check box) that the font makes wider than its control widens the control to the right, where
// that room is free. Returns the controls by id.
ControlMap BuildDialog(QDialog& dialog, const DialogTemplate& t);

// Lays a dialog built by BuildDialog out again at the application's scale now: font, client size
// and every control's rectangle as a build would give them (a frame made sizable gets the size
// and stays sizable). False for a dialog not built from a template.
bool RelayoutDialog(QDialog& dialog);

// The template a dialog was built from, and its controls in template order (those with kNoId
// included); nothing for a dialog not built from a template.
const DialogTemplate* TemplateOf(const QDialog& dialog);
std::vector<QWidget*> TemplateControls(const QDialog& dialog);

// The font a template asks for at the application's scale; families missing on this system fall
// back to the desktop's sans-serif family at the same point size.
QFont TemplateFont(const DialogTemplate& t);

}  // namespace velq3::ui
