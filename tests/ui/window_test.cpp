// The window's life: opened for a client and closed again, run modally by the operator or
// by a client's setup request, Exit and its connection, the window order, and a picture.
#include <QScrollBar>
#include <QTimer>

#include "UiFixture.h"

namespace velq3::test {
namespace {

class WindowTest : public UiTest {
protected:
    // The device and window objects without a window.
    void MakeObjects() {
        MakeWindow();
        dlg->OnExit();  // nobody holds the link: closes the fresh window only
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        ASSERT_FALSE(dlg->WindowExists());
    }

    // Runs `inside` once the modal loop of `run` is up, then returns what `run` returned.
    int WhileModal(const std::function<void()>& inside, const std::function<int()>& run) {
        bool ran = false;
        QTimer::singleShot(0, [&] {
            ran = true;
            inside();
        });
        const int result = run();
        EXPECT_TRUE(ran);
        return result;
    }
};

TEST_F(WindowTest, OpenedForAClientUntilThatClientCloseThePort) {
    MakeObjects();
    dlg->ShowForClient();
    ASSERT_TRUE(dlg->WindowExists());
    EXPECT_TRUE(dlg->OpenedForClient);
    EXPECT_TRUE(dlg->Window()->isVisible());
    EXPECT_FALSE(Enabled(idc::kExit));
    // Esc and the close box do nothing while Exit is disabled.
    Key(Get(idc::kSensorName0), Qt::Key_Escape);
    dlg->Window()->close();
    ASSERT_TRUE(dlg->WindowExists());
    QDialog* first = dlg->Window();
    dlg->ShowForClient();  // exists already: nothing
    EXPECT_EQ(dlg->Window(), first);

    // Closing takes the controls into the fields first.
    Get<QLineEdit>(idc::kSensorName0 + 2)->setText("Mirror");
    Get<QCheckBox>(idc::kShowOnConnect)->setChecked(true);
    dlg->HideForClient();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_FALSE(dlg->WindowExists());
    EXPECT_FALSE(dlg->OpenedForClient);
    EXPECT_EQ(device->TermometerName[2], "Mirror");
    EXPECT_EQ(device->ShowWindowOnConnect, 1);
}

TEST_F(WindowTest, AClientLeavingWhileTheColourChooserIsUpClosesTheWindowAfterIt) {
    StartSim();
    MakeObjects();
    device->ComPort = kSimPort;
    ASSERT_TRUE(device->ConnectMulti(0x9));
    dlg->ShowForClient();
    Tick();
    ASSERT_EQ(List()->topLevelItemCount(), 7);
    bool windowDuringChooser = false;
    dlg->SetColourChooser([&](const QColor&, QWidget*) {
        EXPECT_TRUE(device->DisconnectMulti(0x9));
        dlg->HideForClient();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        windowDuringChooser = dlg->WindowExists();
        return std::optional<QColor>(Qt::blue);
    });
    ClickCell(3, 1);
    EXPECT_TRUE(windowDuringChooser);  // kept while its dialog runs
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_FALSE(dlg->WindowExists());
    EXPECT_FALSE(dlg->OpenedForClient);
    EXPECT_EQ(dlg->PollingEnabled, 1);
    EXPECT_EQ(device->FilterColor[3], 0x001F);  // kept, though the port had closed
}

TEST_F(WindowTest, AWindowTheOperatorOpenedStaysWhenAClientLeaves) {
    MakeWindow();
    dlg->HideForClient();
    EXPECT_TRUE(dlg->WindowExists());
    EXPECT_TRUE(Enabled(idc::kExit));
}

TEST_F(WindowTest, SetupRequestRunsTheWindowModallyWhenThereIsNone) {
    MakeObjects();
    WhileModal(
        [&] {
            ASSERT_TRUE(dlg->WindowExists());
            EXPECT_EQ(QApplication::activeModalWidget(), dlg->Window());
            EXPECT_FALSE(dlg->OpenedForClient);
            dlg->BringToFront();  // exists: only brought forward
            Click(idc::kExit);
        },
        [&] {
            dlg->BringToFront();
            return 0;
        });
    EXPECT_FALSE(dlg->WindowExists());
}

TEST_F(WindowTest, ModalRunConnectsAndExitReleasesTheWindowsConnection) {
    StartSim();
    MakeObjects();
    const int result = WhileModal(
        [&] {
            Get<QComboBox>(idc::kPortList)->setCurrentIndex(kSimPort);
            Get<QCheckBox>(idc::kShowOnConnect)->setChecked(true);
            Click(idc::kConnect);
            EXPECT_TRUE(device->IsOpen());
            EXPECT_EQ(device->ShowWindowOnConnect, 1);
            // On Top takes effect at once and leaves the modal run going.
            Click(idc::kOnTop);
            EXPECT_EQ(device->OnTop, 1);
            EXPECT_TRUE(dlg->Window()->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
            EXPECT_TRUE(dlg->Window()->isVisible());
            EXPECT_EQ(QApplication::activeModalWidget(), dlg->Window());
            Get<QComboBox>(idc::kPortList)->setCurrentIndex(0);  // disabled while open; set anyway
            Key(Get(idc::kSensorName0), Qt::Key_Escape);  // Esc is Exit
        },
        [&] { return dlg->RunModal(); });
    EXPECT_EQ(result, QDialog::Rejected);
    EXPECT_FALSE(dlg->WindowExists());
    EXPECT_FALSE(device->IsOpen());
    EXPECT_TRUE(device->ClientSet.empty());
    EXPECT_EQ(device->ComPort, 0);  // Exit takes the port list into ComPort
}

TEST_F(WindowTest, ExitLeavesOtherClientsConnected) {
    StartConnected();
    ASSERT_TRUE(device->ConnectMulti(0x42));
    Click(idc::kExit);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_FALSE(dlg->WindowExists());
    EXPECT_TRUE(device->IsOpen());
    EXPECT_FALSE(device->IsClient(dlg->ClientKey()));
    EXPECT_TRUE(device->IsClient(0x42));
    // A window made again later starts its poll again.
    ASSERT_TRUE(dlg->CreateModeless());
    EXPECT_EQ(Text(idc::kConnect), "Connect");
    Tick();
    EXPECT_EQ(Text(idc::kConnect), "Conn (1)");
    EXPECT_EQ(List()->topLevelItemCount(), 7);
}

TEST_F(WindowTest, PictureOfTheConnectedWindow) {
    StartSim({"--sensors", "2"});
    sim->control("set temp 0 1432");
    sim->control("set temp 1 -217");
    sim->control("set volt 1224");
    sim->control("set out 90");
    sim->control("set sw 9");
    MakeWindow();
    device->TermometerName = {"Tube", "Air", "", ""};
    dlg->ExchangeData(CFilterWheelDlg::Transfer::ToControls);
    ConnectThroughWindow();
    ASSERT_TRUE(device->ConnectMulti(0x5));  // one more client: "Conn (1)"
    Tick();
    QCoreApplication::processEvents();  // pending layouts, as a running program has them done
    EXPECT_FALSE(List()->horizontalScrollBar()->isVisible());  // the columns fit the list
    const QString path = QStringLiteral(VELQ3_BIN_DIR "/ui-main-window.png");
    const QImage image = dlg->Window()->grab().toImage();
    EXPECT_EQ(image.size(), dlg->Window()->size() * dlg->Window()->devicePixelRatio());
    EXPECT_TRUE(image.save(path));
    std::printf("window picture: %s\n", path.toUtf8().constData());
}

}  // namespace
}  // namespace velq3::test
