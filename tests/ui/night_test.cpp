// The night palette: every window rendered offscreen and its pixels counted (no green or blue,
// nothing brighter than the night's brightest red), the filter colours dimmed, the selected row
// visible, the switch (Ctrl+N, the context menu) stored per user, and the day look restored.
#include <QContextMenuEvent>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QMenu>
#include <QMessageBox>
#include <QScreen>
#include <QWindow>
#include <QTimer>

#include <fstream>
#include <optional>
#include <set>

#include "UiFixture.h"
#include "ui/qt/FilterWheelSettingsDlg.h"
#include "ui/qt/FocuserSettingsDlg.h"
#include "ui/qt/HeaterControlDlg.h"
#include "ui/qt/MicrostepsDlg.h"
#include "ui/qt/NightPalette.h"
#include "ui/qt/TermGraph.h"
#include "ui/qt/UiScale.h"

namespace velq3::test {
namespace {

using ui::NightColour;
using ui::NightDimColour;
using ui::NightMode;

// A pixel fails when its green or blue is above this (a trace is allowed for blending), or
// when any channel is above the night's brightest red.
constexpr int kGreenBlueLimit = 16;
constexpr int kBrightnessLimit = ui::kNightBrightest;

struct PixelCount {
    int coloured = 0;  // green or blue above the limit
    int bright = 0;    // some channel above the brightness limit
    int lit = 0;       // red of at least 100: text and lines that can be read
    QString first;     // where the first failing pixel is, for the message
};

PixelCount CountPixels(const QImage& image) {
    PixelCount n;
    const QImage img = image.convertToFormat(QImage::Format_RGB32);
    for (int y = 0; y < img.height(); ++y) {
        for (int x = 0; x < img.width(); ++x) {
            const QColor c = img.pixelColor(x, y);
            const bool coloured = c.green() > kGreenBlueLimit || c.blue() > kGreenBlueLimit;
            const bool bright = std::max({c.red(), c.green(), c.blue()}) > kBrightnessLimit;
            n.coloured += coloured;
            n.bright += bright;
            n.lit += c.red() >= 100;
            if ((coloured || bright) && n.first.isEmpty())
                n.first = QStringLiteral("(%1,%2) = %3").arg(x).arg(y).arg(c.name());
        }
    }
    return n;
}

void ExpectDarkRed(const QImage& img, const std::string& name) {
    const PixelCount n = CountPixels(img);
    EXPECT_EQ(n.coloured, 0) << name << ": first at " << n.first.toStdString();
    EXPECT_EQ(n.bright, 0) << name << ": first at " << n.first.toStdString();
    EXPECT_GT(n.lit, 50) << name << " shows nothing readable";
}

// On a real display (scripts/night-png.sh runs these tests in Xvfb) the window as the X server
// shows it; nothing elsewhere.
std::optional<QImage> ScreenPicture(QWidget& window) {
    if (QGuiApplication::platformName() != QLatin1String("xcb") || !window.windowHandle()) return std::nullopt;
    QElapsedTimer waited;
    waited.start();
    while (!window.windowHandle()->isExposed() && waited.elapsed() < 3000) QApplication::processEvents(QEventLoop::AllEvents, 50);
    // Then the first paint reaches the server.
    const qint64 exposed = waited.elapsed();
    while (waited.elapsed() < exposed + 300) QApplication::processEvents(QEventLoop::AllEvents, 50);
    return window.screen()->grabWindow(window.winId()).toImage();
}

// Renders `window` and expects it dark red throughout, with something readable on it; saves the
// picture as build/night-<name>.png for a person to look at (on a display, the screen's).
QImage ExpectNight(QWidget& window, const QString& name) {
    window.show();
    QApplication::processEvents();
    const QImage img = window.grab().toImage();
    ExpectDarkRed(img, name.toStdString());
    const std::optional<QImage> screen = ScreenPicture(window);
    if (screen) ExpectDarkRed(*screen, name.toStdString() + " on the screen");
    EXPECT_TRUE((screen ? *screen : img).save(QString(VELQ3_BIN_DIR) + "/night-" + name + ".png"));
    return img;
}

class NightTest : public UiTest {
protected:
    void TearDown() override {
        night.reset();
        UiTest::TearDown();
    }
    std::unique_ptr<NightMode> night;
};

TEST(NightColourTest, RedOfTheSameLightnessAtMostTheBrightest) {
    EXPECT_EQ(NightColour(Qt::white), QColor(ui::kNightBrightest, 0, 0));
    EXPECT_EQ(NightColour(Qt::black), QColor(0, 0, 0));
    EXPECT_EQ(NightColour(QColor(150, 0, 0)), QColor(150, 0, 0));  // already a night red
    const QColor halfBlue = NightColour(QColor(0, 0, 255, 128));
    EXPECT_EQ(halfBlue.alpha(), 128);
    EXPECT_EQ(halfBlue.green() + halfBlue.blue(), 0);
    // The graph's series keep their order of lightness, apart from each other and from black.
    const int red = NightColour(QColor(255, 0, 0)).red(), yellow = NightColour(QColor(255, 255, 0)).red();
    const int green = NightColour(QColor(0, 255, 0)).red(), cyan = NightColour(QColor(0, 255, 255)).red();
    EXPECT_GT(red, 60);
    EXPECT_LT(red, green);
    EXPECT_LT(green, cyan);
    EXPECT_LT(cyan, yellow);
    // Dim colours lie between 24 and 96, darker for darker colours.
    EXPECT_EQ(NightDimColour(Qt::black), QColor(24, 0, 0));
    EXPECT_EQ(NightDimColour(Qt::white), QColor(96, 0, 0));
    EXPECT_LT(NightDimColour(QColor(0, 0, 248)).red(), NightDimColour(QColor(0, 252, 0)).red());

    QPixmap blue(8, 8);
    blue.fill(QColor(20, 60, 250));
    const QIcon icon = ui::NightIcon(QIcon(blue));
    const QImage drawn = icon.pixmap(8, 8).toImage();
    EXPECT_EQ(drawn.pixelColor(4, 4), NightColour(QColor(20, 60, 250)));
    EXPECT_TRUE(ui::NightIcon(QIcon()).isNull());
}

TEST_F(NightTest, EveryWindowIsDeepRedOnBlack) {
    StartConnected({"--table-len", "64"});
    night = std::make_unique<NightMode>(&hive);
    night->Set(true);
    QDialog& window = *dlg->Window();
    window.resize(window.size());
    QTreeWidget* list = List();
    list->setCurrentItem(list->topLevelItem(2));
    const QImage main = ExpectNight(window, "main");

    // The selected row is a band of the highlight colour; the "#" cells are dim reds, apart
    // from each other (filter 1 is red, filter 2 green on the controller).
    const QPoint origin = list->viewport()->mapTo(&window, QPoint(0, 0));
    auto at = [&](int row, int column) {
        QRect cell = list->visualRect(list->model()->index(row, column)).translated(origin);
        return main.pixelColor(cell.right() - 2, cell.center().y());
    };
    EXPECT_EQ(at(2, 2), QApplication::palette().color(QPalette::Highlight));
    EXPECT_EQ(at(1, 1), NightDimColour(CFilterWheelDlg::ColourFrom565(device->FilterColor[1])));
    EXPECT_EQ(at(3, 1), NightDimColour(CFilterWheelDlg::ColourFrom565(device->FilterColor[3])));
    EXPECT_NE(at(1, 1), at(3, 1));
    EXPECT_NE(at(1, 2), at(2, 2));

    // The open port list.
    auto* ports = Get<QComboBox>(idc::kPortList);
    ports->showPopup();
    ExpectNight(*ports->view()->window(), "port-list");
    ports->hidePopup();

    {
        ui::CFilterWheelSettingsDlg wheel(*device, &window);
        ExpectNight(wheel, "wheel-settings");
    }
    {
        ui::CFocuserSettingsDlg focuser(*device, &window);
        ExpectNight(focuser, "focuser-settings");
    }
    {
        ui::CHeaterControlDlg heater(*device, &window);
        ExpectNight(heater, "heater");
    }
    {
        ASSERT_TRUE(device->ReadMicrostepTable());
        ui::CMicrostepsDlg microsteps(*device, &window);
        microsteps.GenerateSin();
        ExpectNight(microsteps, "microsteps");
    }
    {
        for (int i = 0; i < 300; ++i) {
            const float t = static_cast<float>(i) / 30.0f;
            device->TermHistory.push_back({{10.0f + t, 8.0f - t / 2, 12.0f - t / 4, 5.0f + t / 3}, i * 5});
        }
        for (int j = 0; j < 4; ++j) device->TermometerName[static_cast<size_t>(j)] = "Sensor " + std::to_string(j);
        ui::TermGraph graph(*device, &window);
        const QImage img = ExpectNight(graph, "graph");
        // Each series is drawn, in its own red.
        std::set<QRgb> seen;
        for (int y = 0; y < img.height(); ++y)
            for (int x = 0; x < img.width(); ++x) seen.insert(img.pixel(x, y));
        for (const QColor& series : ui::kSeriesColours)
            EXPECT_TRUE(seen.count(NightColour(series).rgb())) << series.name().toStdString();
    }
    {
        QMessageBox box(QMessageBox::Warning, QStringLiteral("Load Failed"), QStringLiteral("Load failed"),
                        QMessageBox::Ok, &window);
        ExpectNight(box, "message-box");
    }
    {
        QFileDialog chooser(&window, QString(), QString::fromStdString(dir.path()), QStringLiteral("Settings File (*.fws2)"));
        std::ofstream(dir.file("setup.fws2")) << "x";
        ExpectNight(chooser, "file-chooser");
        // Qt's own dialog, which follows the palette, never the desktop's.
        EXPECT_TRUE(QCoreApplication::testAttribute(Qt::AA_DontUseNativeDialogs));
    }
    {
        std::unique_ptr<QMenu> menu(night->MakeMenu(&window));
        ExpectNight(*menu, "menu");
    }
}

TEST_F(NightTest, SwitchIsStoredAndTheDayLookComesBack) {
    MakeWindow();
    const QPalette day = QApplication::palette();
    const QString dayStyle = QApplication::style()->name();
    night = std::make_unique<NightMode>(&hive);
    EXPECT_FALSE(NightMode::Stored(hive));
    EXPECT_FALSE(night->On());

    // Ctrl+N in any control of the window; a held key does not flicker.
    QWidget* edit = Get(idc::kTarget);
    Key(edit, Qt::Key_N, Qt::ControlModifier);
    EXPECT_TRUE(night->On());
    EXPECT_TRUE(ui::IsNightPalette(QApplication::palette()));
    EXPECT_TRUE(ui::IsNightPalette(edit->palette()));
    QKeyEvent held(QEvent::KeyPress, Qt::Key_N, Qt::ControlModifier, QString(), true);
    QApplication::sendEvent(edit, &held);
    EXPECT_TRUE(night->On());
    {
        RegistryHive reread(hive.File(), kCurrentUserRoot);
        reread.Load();
        EXPECT_TRUE(NightMode::Stored(reread));
    }

    // A window made at night takes the day look when the switch goes back.
    dlg.reset();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    dlg = std::make_unique<CFilterWheelDlg>(*device, loop);
    ASSERT_TRUE(dlg->CreateModeless());
    QWidget* readOnly = Get(idc::kPosition);
    EXPECT_EQ(readOnly->palette().color(QPalette::Base), readOnly->palette().color(QPalette::Window));

    // A right click on the window's background opens the menu with the switch.
    QString offered;
    QTimer::singleShot(0, [&offered] {
        auto* popup = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        ASSERT_NE(popup, nullptr);
        for (QAction* a : popup->actions()) offered += a->text() + (a->isChecked() ? "*" : "");
        popup->close();
    });
    QContextMenuEvent rightClick(QContextMenuEvent::Mouse, QPoint(2, 2), dlg->Window()->mapToGlobal(QPoint(2, 2)));
    QApplication::sendEvent(dlg->Window(), &rightClick);
    // The main window's own entries (its scale) follow the switch in the same menu.
    EXPECT_EQ(offered, "Night Mode*LargerSmallerScale");
    EXPECT_TRUE(night->On());

    // The menu's entry shows the state and switches back.
    std::unique_ptr<QMenu> menu(night->MakeMenu(dlg->Window()));
    ASSERT_FALSE(menu->actions().empty());
    QAction* entry = menu->actions().front();
    EXPECT_EQ(entry->text(), "Night Mode");
    EXPECT_TRUE(entry->isChecked());
    entry->trigger();
    EXPECT_FALSE(night->On());
    EXPECT_EQ(QApplication::palette(), day);
    EXPECT_EQ(QApplication::style()->name(), dayStyle);
    EXPECT_TRUE(qApp->styleSheet().isEmpty());
    // Every control has the day colours again (read-only boxes the window's background).
    EXPECT_EQ(dlg->Window()->palette().color(QPalette::Window), day.color(QPalette::Window));
    for (int id : {idc::kTarget, idc::kPortList, idc::kConnect, idc::kFilterList}) {
        QWidget* w = Get(id);
        for (QPalette::ColorRole role : {QPalette::Window, QPalette::WindowText, QPalette::Base, QPalette::Text,
                                         QPalette::Button, QPalette::ButtonText, QPalette::Highlight})
            EXPECT_EQ(w->palette().color(QPalette::Active, role), day.color(QPalette::Active, role)) << id << " " << role;
    }
    EXPECT_EQ(readOnly->palette().color(QPalette::Base), day.color(QPalette::Window));
    {
        RegistryHive reread(hive.File(), kCurrentUserRoot);
        reread.Load();
        EXPECT_EQ(reread.GetDword(kSettingsKey, ui::kNightModeValue), 0u);
    }

    // Set alone stores nothing, and the end of the switch gives the day look back.
    night->Set(true);
    EXPECT_EQ(hive.GetDword(kSettingsKey, ui::kNightModeValue), 0u);
    night.reset();
    EXPECT_EQ(QApplication::palette(), day);
    EXPECT_FALSE(QCoreApplication::testAttribute(Qt::AA_DontUseNativeDialogs));
}

// The scale's check boxes and the night style are layers of one application style: either can
// change while the other is on, and neither undoes the other.
TEST(NightScaleTest, TheScaleHoldsAtNightAndTheNightStyleThroughAScaleChange) {
    auto box = [] { return QApplication::style()->pixelMetric(QStyle::PM_IndicatorWidth); };
    const int normal = box();
    ui::ApplyUiScale(200);
    const int large = box();
    ASSERT_GT(large, normal);
    int medium = 0;
    {
        NightMode night(nullptr);
        night.Set(true);
        EXPECT_EQ(box(), large);
        const QStyle* nightStyle = QApplication::style();
        ui::ApplyUiScale(150);
        EXPECT_EQ(QApplication::style(), nightStyle);
        medium = box();
        EXPECT_GT(medium, normal);
        EXPECT_LT(medium, large);
        night.Set(false);
        EXPECT_EQ(box(), medium);
    }
    ui::ApplyUiScale(100);
    EXPECT_EQ(box(), normal);
}

}  // namespace
}  // namespace velq3::test
