// The night palette: every window of the program in deep red on black, so that the operator's
// eyes stay adapted to the dark. Switched with Ctrl+N or the "Night Mode" entry of a window's
// context menu, stored per user as `NightMode` and applied at start.
#pragma once

#include <QColor>
#include <QIcon>
#include <QImage>
#include <QObject>
#include <QPalette>
#include <QPixmap>
#include <QPointer>
#include <QString>
#include <QWidget>

#include <string_view>
#include <utility>
#include <vector>

#include "ui/NightColours.h"

class QMenu;

namespace velq3 {
class RegistryHive;
}

namespace velq3::ui {

QPalette MakeNightPalette();
// True when `palette` is the night palette (a widget's own changes to other roles aside): the
// widgets that draw colours of their own check it to draw those at night too.
bool IsNightPalette(const QPalette& palette);

// Any colour as a red of about the same lightness, at most kNightBrightest; a red that is
// already at most that bright and free of green and blue is kept. Alpha is kept.
QColor NightColour(const QColor& colour);
// A dim red for coloured areas behind text (the filters' colours): 24 to 96.
QColor NightDimColour(const QColor& colour);

// Every pixel through NightColour.
QImage NightImage(const QImage& image);
QPixmap NightPixmap(const QPixmap& pixmap);
// An icon whose pixmaps, in every size and mode, are the night versions of `icon`'s.
QIcon NightIcon(const QIcon& icon);

// Switches the application between its own look and the night palette, and offers the switch
// in every window (Ctrl+N, and "Night Mode" in the context menu of a window's background). At
// night the application also uses Qt's own file, colour and message dialogs, which follow the
// palette, instead of a desktop's native ones.
class NightMode : public QObject {
    Q_OBJECT
public:
    // `hive`, when given, is where a switch by the operator is stored.
    explicit NightMode(RegistryHive* hive, QObject* parent = nullptr);
    // Gives the application its own look back.
    ~NightMode() override;
    NightMode(const NightMode&) = delete;
    NightMode& operator=(const NightMode&) = delete;

    // The stored choice; off when nothing (or something unreadable) is stored.
    static bool Stored(const RegistryHive& hive);

    bool On() const { return m_On; }
    // Applies the night palette or the application's own look, without storing the choice.
    void Set(bool on);
    // The operator's switch: the other look, stored.
    void Toggle();

    // The context menu of a window's background, with its one checkable "Night Mode" entry.
    QMenu* MakeMenu(QWidget* parent);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Store();

    RegistryHive* m_Hive;
    bool m_On = false;
    // The application's own look, kept while the night palette is on.
    QPalette m_DayPalette;
    QString m_DayStyleSheet;
    QString m_DayStyle;
    bool m_DayNativeDialogs = true;
    std::vector<std::pair<QPointer<QWidget>, QPalette>> m_DayWidgetPalettes;  // set by the widget itself
};

}  // namespace velq3::ui
