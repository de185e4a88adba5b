// Every caption of every dialog shows whole at the dialog font: static texts, buttons, check
// boxes and group box titles are at least as wide as their text (wrapped texts as tall), and
// the filter list needs no horizontal scroll bar.
#include <QAbstractItemView>
#include <QHeaderView>
#include <QPushButton>
#include <QScrollBar>

#include "LayoutChecks.h"
#include "UiFixture.h"
#include "ui/qt/FilterWheelSettingsDlg.h"
#include "ui/qt/FocuserSettingsDlg.h"
#include "ui/qt/HeaterControlDlg.h"
#include "ui/HeaterControlTemplate.h"
#include "ui/qt/MicrostepsDlg.h"

namespace velq3::test {
namespace {

// The builder widens a caption's control only into free room to its right.
TEST(CaptionRoomTest, CaptionsGrowRightwardOnlyWhereNothingElseIs) {
    using K = ui::ControlKind;
    static constexpr ui::ControlTemplate kControls[] = {
        {10, K::Label, "A caption far wider than its control", 4, 4, 10, 8},
        {11, K::Label, "A caption far wider than its control", 4, 20, 10, 8},
        {12, K::Edit, "", 60, 20, 30, 12},  // in the way of 11
        {13, K::PushButton, "A button caption far too wide", 4, 40, 12, 14},
        {14, K::Label, "Fits", 4, 60, 60, 8},
        {15, K::Label, "A caption far wider than its control", 170, 60, 10, 8},  // at the right edge
        {ui::kNoId, K::GroupBox, "Frame", 2, 74, 60, 30},
        {16, K::CheckBox, "A check box caption far too wide", 6, 84, 20, 10},  // inside the frame
    };
    static constexpr ui::DialogTemplate kTemplate = {999, "Room", 8, "MS Sans Serif", 200, 110, kControls};
    QDialog dialog;
    const ui::ControlMap c = ui::BuildDialog(dialog, kTemplate);
    const ui::DialogUnits du = ui::DialogUnits::ForFont(dialog.font());
    const QFontMetrics fm(dialog.font());

    const QRect grown = c.at(10)->geometry();
    EXPECT_EQ(grown.topLeft(), du.Rect(4, 4, 10, 8).topLeft());
    EXPECT_EQ(grown.height(), du.Rect(4, 4, 10, 8).height());
    EXPECT_EQ(grown.width(), fm.horizontalAdvance("A caption far wider than its control"));
    EXPECT_EQ(CaptionOverflow(c.at(13)), "");
    EXPECT_EQ(c.at(13)->geometry().topLeft(), du.Rect(4, 40, 12, 14).topLeft());
    // No room: beside another control, past the dialog's edge, out of its frame. Fitting: as given.
    for (auto [id, r] : {std::pair{11, du.Rect(4, 20, 10, 8)}, std::pair{15, du.Rect(170, 60, 10, 8)},
                         std::pair{16, du.Rect(6, 84, 20, 10)}, std::pair{14, du.Rect(4, 60, 60, 8)}})
        EXPECT_EQ(c.at(id)->geometry(), r) << id;
    EXPECT_EQ(c.at(12)->geometry(), du.Rect(60, 20, 30, 12));
}

class LayoutTest : public UiTest {};

TEST_F(LayoutTest, MainWindowCaptionsShowWhole) {
    MakeWindow();
    EXPECT_EQ(Overflows(*dlg->Window()), "");
    // The Connect button also counts other clients.
    Get<QPushButton>(idc::kConnect)->setText(QStringLiteral("Conn (9)"));
    EXPECT_EQ(Overflows(*dlg->Window()), "");
}

TEST_F(LayoutTest, SettingsDialogCaptionsShowWhole) {
    MakeDeviceObject();
    {
        ui::CFocuserSettingsDlg focuser(*device);
        EXPECT_EQ(Overflows(focuser), "");
    }
    // The wheel dialog's texts follow the mode: wheel, rotator and cover.
    {
        namespace w = ui::wheel_settings_id;
        ui::CFilterWheelSettingsDlg wheel(*device);
        for (auto [rotator, cover] : {std::pair{false, false}, std::pair{true, false}, std::pair{false, true}}) {
            SCOPED_TRACE(rotator ? "rotator" : cover ? "cover" : "wheel");
            qobject_cast<QCheckBox*>(wheel.Control(w::kRotatorMode))->setChecked(rotator);
            qobject_cast<QCheckBox*>(wheel.Control(w::kCoverMode))->setChecked(cover);
            wheel.OnModeChange();
            EXPECT_EQ(Overflows(wheel), "");
        }
    }
    {
        ui::CHeaterControlDlg heater(*device);
        EXPECT_EQ(Overflows(heater), "");
        // The set value's unit follows the power mode.
        auto* mode = qobject_cast<QComboBox*>(heater.Control(ui::idc::heater::kPowerMode));
        ASSERT_NE(mode, nullptr);
        for (int i = 0; i < mode->count(); ++i) {
            mode->setCurrentIndex(i);
            EXPECT_EQ(Overflows(heater), "") << mode->itemText(i).toStdString();
        }
    }
    {
        ui::CMicrostepsDlg microsteps(*device);
        EXPECT_EQ(Overflows(microsteps), "");
    }
}

// The sensor type list keeps its place and width, narrower than its longest item, and the label
// beside it keeps its own; the open list grows beyond the box and shows every item whole.
TEST_F(LayoutTest, SensorTypeListKeepsItsTemplateGeometryAndItsOpenListFitsTheItems) {
    MakeDeviceObject();
    ui::CFocuserSettingsDlg focuser(*device);
    const ui::DialogUnits du = ui::DialogUnits::ForFont(focuser.font());
    auto* list = qobject_cast<QComboBox*>(focuser.Control(ui::focuser_settings_id::kSensorType));
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->geometry().topLeft(), QPoint(du.X(7), du.Y(130)));
    EXPECT_EQ(list->width(), du.X(7 + 69) - du.X(7));
    QLabel* label = nullptr;
    for (auto* l : focuser.findChildren<QLabel*>())
        if (l->text() == "Sensors Type") label = l;
    ASSERT_NE(label, nullptr);
    EXPECT_EQ(label->geometry(), du.Rect(81, 133, 67, 8));

    EXPECT_EQ(list->itemText(0), "DS1631/1624 (auto)");
    EXPECT_EQ(CutItems(list).join('\n').toStdString(), "");
    list->showPopup();
    EXPECT_GE(list->view()->width(), list->width());
    // Pictures for a person to look at: the dialog, and the open list.
    EXPECT_TRUE(focuser.grab().save(QString(VELQ3_BIN_DIR) + "/focuser-settings.png"));
    EXPECT_TRUE(list->view()->window()->grab().save(QString(VELQ3_BIN_DIR) + "/focuser-settings-sensor-list.png"));
    list->hidePopup();
}

// The columns of the filter list share the width that the list shows them in, with a vertical
// scroll bar where the rows need one: never a horizontal one, nor an empty strip.
TEST_F(LayoutTest, FilterColumnsFitBesideTheVerticalScrollBar) {
    StartSim({"--mode", "10"});
    MakeWindow();
    ConnectThroughWindow();
    QTreeWidget* list = List();
    auto columnsFit = [&](int rows) {
        SCOPED_TRACE(rows);
        ASSERT_EQ(list->topLevelItemCount(), rows);
        QCoreApplication::processEvents();  // the list lays out its rows and scroll bars
        EXPECT_EQ(list->verticalScrollBar()->isVisible(), rows == 10);
        EXPECT_FALSE(list->horizontalScrollBar()->isVisible());
        const int columns = list->columnCount();
        ASSERT_EQ(columns, 5);
        int total = 0;
        for (int c = 0; c < columns; ++c) total += list->columnWidth(c);
        EXPECT_LE(total, list->viewport()->width());
        EXPECT_GT(total, list->viewport()->width() - columns);  // only rounding is left over
        EXPECT_EQ(list->columnWidth(1), CFilterWheelDlg::kNumberColumnWidth);
    };
    columnsFit(10);
    // Fewer filters on the next connection: the columns take the scroll bar's room back.
    sim->control("set mode 7");
    Click(idc::kDisconnect);
    Tick();
    Click(idc::kConnect);
    Tick();
    columnsFit(7);
    sim->control("set mode 10");
    Click(idc::kDisconnect);
    Tick();
    Click(idc::kConnect);
    Tick();
    columnsFit(10);
}

}  // namespace
}  // namespace velq3::test
