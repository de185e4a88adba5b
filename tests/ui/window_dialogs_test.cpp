// The main window's Wheel..., Focuser... and Heater... buttons: each runs its dialog modally
// with the window as owner and polling off, then reloads the window; Microsteps opens from
// the focuser settings.
#include <QTimer>

#include <fstream>
#include <iterator>

#include "UiFixture.h"
#include "ui/qt/FocuserSettingsDlg.h"

namespace velq3::test {
namespace {

struct SeenDialog {
    QString title;
    bool ownedByWindow = false;
    bool modal = false;
    int polling = -1;
};

class WindowDialogsTest : public UiTest {
protected:
    // Records the next modal dialog and closes it with Cancel once it runs.
    void CloseNextDialog(std::vector<SeenDialog>& seen) {
        QTimer::singleShot(0, [this, &seen] {
            auto* d = qobject_cast<QDialog*>(QApplication::activeModalWidget());
            ASSERT_NE(d, nullptr);
            seen.push_back({d->windowTitle(), d->parentWidget() == static_cast<QWidget*>(dlg->Window()),
                            d->isModal(), dlg->PollingEnabled});
            d->reject();
        });
    }
};

TEST_F(WindowDialogsTest, SettingsButtonsRunTheirDialogsModally) {
    StartConnected();
    std::vector<SeenDialog> seen;
    for (int id : {idc::kWheelSettings, idc::kFocuserSettings, idc::kHeater}) {
        ASSERT_TRUE(Enabled(id)) << id;
        CloseNextDialog(seen);
        Click(id);
        EXPECT_EQ(dlg->PollingEnabled, 1);
    }
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen[0].title, "FilterWheel Settings Dialog");
    EXPECT_EQ(seen[1].title, "Focuser Settings");
    EXPECT_EQ(seen[2].title, "Heater Control");
    for (const auto& s : seen) {
        EXPECT_TRUE(s.modal);
        EXPECT_TRUE(s.ownedByWindow);
        EXPECT_EQ(s.polling, 0);
    }
    EXPECT_TRUE(device->IsOpen());  // Cancel leaves the connection alone
}

// A sensor name typed in the window is the device's once the edit ends (the button pressed
// takes the focus): every button that saves, loads or reloads the window keeps it.
TEST_F(WindowDialogsTest, TypedSensorNamesOutliveEveryButtonOfTheWindow) {
    StartConnected();
    const std::string saved = dir.file("names.fws2");
    dlg->SetFileChooser([&](bool save, QWidget*) {
        return std::optional<QString>(QString::fromStdString(save ? saved : dir.file("missing.fws2")));
    });
    int failedLoads = 0;
    dlg->SetMessageBox([&](const QString&, const QString&, QWidget*) { ++failedLoads; });

    const struct {
        int button;
        int sensor;
        const char* name;
    } steps[] = {{idc::kSave, 0, "DOME"},        {idc::kWheelSettings, 1, "TUBE"}, {idc::kFocuserSettings, 2, "AIR"},
                 {idc::kHeater, 3, "MIRROR"}, {idc::kLoad, 0, "DEW"}};
    std::vector<SeenDialog> seen;
    for (const auto& step : steps) {
        SCOPED_TRACE(step.name);
        // Focus changes reach the boxes only in the active window.
        QApplication::setActiveWindow(dlg->Window());
        ASSERT_EQ(QApplication::activeWindow(), dlg->Window());
        auto* box = Get<QLineEdit>(idc::kSensorName0 + step.sensor);
        box->setFocus();
        box->clear();
        for (const char* c = step.name; *c; ++c) Key(box, static_cast<Qt::Key>(*c), Qt::NoModifier, QString(QChar(*c)));
        ASSERT_EQ(box->text(), QString::fromUtf8(step.name));
        const bool dialog = step.button != idc::kSave && step.button != idc::kLoad;
        if (dialog) CloseNextDialog(seen);
        // Pressed as the operator presses it: the button takes the focus (as a mouse press on it
        // does), then is clicked.
        Get(step.button)->setFocus(Qt::MouseFocusReason);
        Click(step.button);
        EXPECT_EQ(device->TermometerName[static_cast<size_t>(step.sensor)], step.name);
        EXPECT_EQ(box->text(), QString::fromUtf8(step.name));
    }
    EXPECT_EQ(seen.size(), 3u);
    EXPECT_EQ(failedLoads, 1);
    std::ifstream in(saved, std::ios::binary);
    const std::string file((std::istreambuf_iterator<char>(in)), {});
    EXPECT_NE(file.find("DOME"), std::string::npos);
}

TEST_F(WindowDialogsTest, MicrostepsOpensFromTheFocuserSettings) {
    StartConnected();
    std::vector<SeenDialog> seen;
    QTimer::singleShot(0, [&] {
        auto* focuser = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(focuser, nullptr);
        QTimer::singleShot(0, [&, focuser] {
            auto* m = qobject_cast<QDialog*>(QApplication::activeModalWidget());
            ASSERT_NE(m, nullptr);
            seen.push_back({m->windowTitle(), m->parentWidget() == focuser, m->isModal(), dlg->PollingEnabled});
            m->reject();
            QTimer::singleShot(0, focuser, [focuser] { focuser->reject(); });
        });
        auto* button = focuser->findChild<QAbstractButton*>(QString::number(ui::focuser_settings_id::kMicrosteps));
        ASSERT_NE(button, nullptr);
        button->click();
    });
    Click(idc::kFocuserSettings);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].title, "Microsteps Table");
    EXPECT_TRUE(seen[0].ownedByWindow);
    EXPECT_EQ(seen[0].polling, 0);
}

} // namespace
} // namespace velq3::test
