// The main window's Save..., Load... and Graphs... buttons: settings files through the file
// chooser, the "Load failed" box, polling paused meanwhile, and the graph window toggled, with
// its per-user choice of the legend's readings.
#include <QAction>
#include <QMenu>

#include <fstream>
#include <memory>

#include "UiFixture.h"
#include "ui/qt/NightPalette.h"
#include "ui/TermGraphLayout.h"

namespace velq3::test {
namespace {

class WindowFilesTest : public UiTest {
protected:
    void UseChooser(std::optional<QString> path) {
        dlg->SetFileChooser([this, path](bool save, QWidget*) {
            savedWith.push_back(save);
            pollingDuringChooser.push_back(dlg->PollingEnabled);
            return path;
        });
        dlg->SetMessageBox([this](const QString& text, const QString& caption, QWidget*) {
            boxes.push_back((text + "|" + caption).toStdString());
        });
    }
    std::vector<bool> savedWith;
    std::vector<int> pollingDuringChooser;
    std::vector<std::string> boxes;
};

TEST_F(WindowFilesTest, GraphsButtonShowsAndHidesTheGraph) {
    StartSim();
    MakeWindow();
    EXPECT_EQ(dlg->GraphWindow(), nullptr);
    Click(idc::kGraphs);
    ASSERT_NE(dlg->GraphWindow(), nullptr);
    EXPECT_TRUE(dlg->GraphWindow()->isVisible());
    EXPECT_EQ(dlg->GraphWindow()->windowTitle(), "Temperature Graph");
    Click(idc::kGraphs);
    EXPECT_FALSE(dlg->GraphWindow()->isVisible());
    ui::TermGraph* first = dlg->GraphWindow();
    Click(idc::kGraphs);
    EXPECT_EQ(dlg->GraphWindow(), first);  // created once
    EXPECT_TRUE(first->isVisible());
}

// The legend's readings are the user's choice in the graph window's context menu: off at
// first, stored when switched, and a later graph window starts with the stored choice.
TEST_F(WindowFilesTest, GraphReadingsAreAContextMenuChoiceKeptPerUser) {
    StartSim();
    MakeWindow();
    for (int i = 0; i < 10; ++i) device->TermHistory.push_back({{5.0f, kNoSample, kNoSample, kNoSample}, i});
    device->TermometerName = {"", "", "", ""};  // the legend can only hold the reading
    Click(idc::kGraphs);
    ui::TermGraph* graph = dlg->GraphWindow();
    ASSERT_NE(graph, nullptr);
    // Red in the legend's corner: the reading of sensor 0 (its series stays at the left).
    auto readingShown = [&](ui::TermGraph& g) {
        const QImage img = g.grab().toImage();
        const ui::GraphBox p = ui::PlotBox(img.width(), img.height());
        const QRect corner(p.right - 60, p.top, 61, 2 * g.fontMetrics().height());
        int red = 0;
        for (int y = corner.top(); y <= corner.bottom(); ++y)
            for (int x = corner.left(); x <= corner.right(); ++x) {
                const QColor c = img.pixelColor(x, y);
                red += c.red() > 100 && c.green() == 0 && c.blue() == 0;
            }
        return red > 5;
    };
    EXPECT_FALSE(graph->ShowReadings());
    EXPECT_FALSE(readingShown(*graph));
    EXPECT_FALSE(hive.GetDword(kSettingsKey, ui::kGraphReadingsValue));

    // The entry in the menu of the window's background, after the night palette's.
    ui::NightMode night(&hive);
    std::unique_ptr<QMenu> menu(night.MakeMenu(graph));
    QAction* entry = nullptr;
    QStringList entries;
    for (QAction* a : menu->actions()) {
        entries << a->text();
        if (a->text() == "Show Readings") entry = a;
    }
    EXPECT_EQ(entries.join('|').toStdString(), "Night Mode||Show Readings");
    ASSERT_NE(entry, nullptr);
    EXPECT_TRUE(entry->isCheckable());
    EXPECT_FALSE(entry->isChecked());

    entry->trigger();
    EXPECT_TRUE(graph->ShowReadings());
    EXPECT_TRUE(readingShown(*graph));
    {
        RegistryHive reread{dir.file("user.reg"), kCurrentUserRoot};
        ASSERT_EQ(reread.Load(), RegistryHive::LoadResult::Loaded);
        EXPECT_EQ(reread.GetDword(kSettingsKey, ui::kGraphReadingsValue), 1u);
    }
    {
        ui::TermGraph next(*device, nullptr);
        EXPECT_TRUE(next.ShowReadings());
        ASSERT_EQ(next.actions().size(), 1);
        EXPECT_TRUE(next.actions().front()->isChecked());  // the menu shows the stored choice
    }

    entry->trigger();
    EXPECT_FALSE(graph->ShowReadings());
    EXPECT_FALSE(readingShown(*graph));
    RegistryHive reread{dir.file("user.reg"), kCurrentUserRoot};
    ASSERT_EQ(reread.Load(), RegistryHive::LoadResult::Loaded);
    EXPECT_EQ(reread.GetDword(kSettingsKey, ui::kGraphReadingsValue), 0u);
    ui::TermGraph next(*device, nullptr);
    EXPECT_FALSE(next.ShowReadings());
}

} // namespace
} // namespace velq3::test
