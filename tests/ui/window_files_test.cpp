// The main window's Save..., Load... and Graphs... buttons: settings files through the file
// chooser, the "Load failed" box, polling paused meanwhile, and the graph window toggled.
#include <fstream>

#include "UiFixture.h"

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

TEST_F(WindowFilesTest, SaveThenLoadRestoresTheDeviceConfiguration) {
    StartConnected();
    const QString path = QString::fromStdString(dir.file("setup.fws2"));
    UseChooser(path);
    device->ChangeFilterTimeoutMs = 4321;
    Click(idc::kSave);
    EXPECT_EQ(savedWith, std::vector<bool>({true}));
    EXPECT_EQ(pollingDuringChooser, std::vector<int>({0}));
    EXPECT_EQ(dlg->PollingEnabled, 1);
    ASSERT_TRUE(std::ifstream(path.toStdString()).good());

    device->ChangeFilterTimeoutMs = 1000;
    device->FocuserBacklash = 999;  // changed in the copy only; the load brings back the file's
    Click(idc::kLoad);
    EXPECT_EQ(savedWith, std::vector<bool>({true, false}));
    EXPECT_TRUE(boxes.empty());
    EXPECT_EQ(device->ChangeFilterTimeoutMs, 4321);
    EXPECT_NE(device->FocuserBacklash, 999);
    EXPECT_TRUE(device->IsOpen());
}

TEST_F(WindowFilesTest, FailedLoadShowsTheBoxAndCancelDoesNothing) {
    StartConnected();
    UseChooser(QString::fromStdString(dir.file("missing.fws2")));
    Click(idc::kLoad);
    EXPECT_EQ(boxes, std::vector<std::string>({"Load failed|Load Failed"}));
    EXPECT_EQ(dlg->PollingEnabled, 1);

    boxes.clear();
    UseChooser(std::nullopt);
    Click(idc::kSave);
    Click(idc::kLoad);
    EXPECT_TRUE(boxes.empty());
}

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

} // namespace
} // namespace velq3::test
