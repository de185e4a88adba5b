// The operator windows' scale: one percentage that enlarges the dialog font, and with it the
// dialog units, of every window, so that the windows read from a step away or on a dense screen.
// The layout stays the template's, only larger.
#pragma once

#include <QFont>

#include <array>
#include <functional>

#include <QString>

#include "ui/UiScaleSetting.h"

class QWidget;

class QStyle;

namespace velq3::ui {

// The scale is the application's, as its font is: setting it scales the application font (what
// message boxes and file and colour choosers use) and the check boxes' indicators, and lays every
// open template window out again; windows built afterwards are built at it. `percent` must be a
// step. Needs the application object.
void ApplyUiScale(int percent);
// The application's scale; the default before any ApplyUiScale.
int CurrentUiScale();
// `pixels` at 100 % at the application's scale, rounded.
int ScaledPixels(int pixels);
// `font` (sized for 100 %) at the application's scale.
QFont ScaledFont(QFont font);
// A new application style named `baseName` (empty: the platform's default) whose check boxes and
// radio buttons grow with the scale. Another style layer (the night palette's) wraps it, so that
// the scale holds whichever palette is on.
QStyle* NewScaledStyle(const QString& baseName);

// The window menu's scale entries (the window's context menu stands in for its system menu):
// "Larger" (Ctrl++, also Ctrl+=), "Smaller" (Ctrl+-) and the "Scale" submenu with every step.
// Each calls `choose` with the scale chosen; the window's controls stay as they are.
void AddUiScaleActions(QWidget& window, std::function<void(int percent)> choose);

}  // namespace velq3::ui
