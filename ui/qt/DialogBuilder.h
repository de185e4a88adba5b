// The one builder that turns a dialog template into Qt widgets, with each control's numeric id
// as its object name.
#pragma once

#include <QFont>
#include <QRect>
#include <QString>

#include <map>
#include <vector>

#include "ui/DialogTemplate.h"

class QWidget;
class QDialog;

namespace velq3::ui {

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
