// Dialog templates as data: the dialog's caption, font and size and every control with its id,
// kind, caption, style and rectangle in dialog units; each toolkit layer builds dialogs from them.
#pragma once

#include <span>

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

}  // namespace velq3::ui
