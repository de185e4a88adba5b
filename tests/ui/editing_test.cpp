// Editing the filter table in place (cells, names, colours), the keyboard rules, the focuser
// buttons and the Auto boxes, against a simulated controller.
#include <QGuiApplication>
#include <QImage>

#include "UiFixture.h"

namespace velq3::test {
namespace {

class EditingTest : public UiTest {
protected:
    QLineEdit* CellEditor() { return qobject_cast<QLineEdit*>(dlg->Control(idc::kCellEdit)); }

    // Opens the editor on a cell by a click, types `text` and commits by moving the focus away
    // and letting a tick pass.
    void EditCell(int row, int column, const QString& text) {
        ClickCell(row, column);
        QLineEdit* edit = CellEditor();
        ASSERT_NE(edit, nullptr);
        edit->setText(text);
        Get(idc::kSensorName0 + 3)->setFocus();
        Tick();
        EXPECT_FALSE(dlg->CellEditorOpen());
    }

    // Changes the controller's memory behind the device object's back; a later write of the
    // memory image puts the device object's mode back.
    void MarkDeviceMemory() {
        sim->control("set mode 6");
        ASSERT_EQ(DeviceMemoryByte(1), 6);
    }
    bool ImageWasWritten() { return DeviceMemoryByte(1) == 7; }

    int WheelPosition() {
        int p = -1;
        EXPECT_TRUE(device->GetFilter(p));
        return p;
    }

    int FocuserPosition() {
        int p = 0;
        EXPECT_TRUE(device->GetFocus(p, 0));
        return p;
    }

    void PressArrow(ui::CUpDown* upDown, bool up) {
        Mouse(upDown, QEvent::MouseButtonPress, QPoint(upDown->width() / 2, up ? 1 : upDown->height() - 2));
        Mouse(upDown, QEvent::MouseButtonRelease, QPoint(upDown->width() / 2, up ? 1 : upDown->height() - 2));
    }
};

TEST_F(EditingTest, CorrectionCellEditorOpensInTheCellAndCommitsWhenTheFocusLeaves) {
    StartConnected();
    ClickCell(2, 2);
    QLineEdit* edit = CellEditor();
    ASSERT_NE(edit, nullptr);
    auto* spin = qobject_cast<ui::CUpDown*>(dlg->Control(idc::kCellSpin));
    ASSERT_NE(spin, nullptr);
    EXPECT_EQ(edit->text(), "2");
    EXPECT_EQ(dlg->Window()->focusWidget(), edit);
    const QRect cell = List()->visualRect(List()->model()->index(2, 2));
    EXPECT_EQ(edit->geometry().left(), cell.left() + 5);
    EXPECT_EQ(spin->geometry().right(), cell.right() - 5);
    EXPECT_EQ(spin->width(), cell.height());
    EXPECT_EQ(edit->geometry().right() + 1, spin->geometry().left());

    // The up-down sets the integer in the box, within -1000..1000.
    PressArrow(spin, true);
    EXPECT_EQ(edit->text(), "3");
    PressArrow(spin, false);
    PressArrow(spin, false);
    EXPECT_EQ(edit->text(), "1");
    edit->setText("1000");
    PressArrow(spin, true);
    EXPECT_EQ(edit->text(), "1000");

    // Kept open while it has the focus, even over ticks.
    edit->setText("12");
    Tick();
    EXPECT_TRUE(dlg->CellEditorOpen());
    // Not committed while polling is suspended or the device is busy.
    Get(idc::kSensorName0)->setFocus();
    dlg->PollingEnabled = 0;
    Tick();
    EXPECT_TRUE(dlg->CellEditorOpen());
    dlg->PollingEnabled = 1;
    Tick();
    EXPECT_FALSE(dlg->CellEditorOpen());
    EXPECT_EQ(dlg->Control(idc::kCellSpin), nullptr);
    EXPECT_EQ(device->Filters[2].Pos, 12);
    EXPECT_EQ(List()->topLevelItem(2)->text(2), "12");
    EXPECT_EQ(DeviceMemoryByte(22 + 2 * 2), 12);
}

// Esc in the cell editor cancels that edit, as it cancels a name edit: the value, the device
// and the window stay as they were.
TEST_F(EditingTest, EscapeInTheCellEditorCancelsOnlyTheEdit) {
    StartConnected();
    MarkDeviceMemory();
    for (bool inSpin : {false, true}) {
        SCOPED_TRACE(inSpin ? "up-down" : "edit box");
        ClickCell(2, 2);
        QLineEdit* edit = CellEditor();
        ASSERT_NE(edit, nullptr);
        edit->setText("12");
        // The press ends the edit; the release then goes wherever the focus is.
        QKeyEvent esc(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
        QApplication::sendEvent(inSpin ? dlg->Control(idc::kCellSpin) : edit, &esc);
        ASSERT_TRUE(dlg->WindowExists());
        EXPECT_TRUE(device->IsOpen());
        EXPECT_TRUE(device->IsClient(dlg->ClientKey()));
        EXPECT_FALSE(dlg->CellEditorOpen());
        EXPECT_EQ(dlg->Control(idc::kCellSpin), nullptr);
        EXPECT_EQ(dlg->Window()->focusWidget(), List());
        Tick();  // nothing left to commit
        EXPECT_EQ(device->Filters[2].Pos, 2);
        EXPECT_EQ(List()->topLevelItem(2)->text(2), "2");
        EXPECT_FALSE(ImageWasWritten());
    }
    // Esc anywhere else is still the window's cancel command.
    Key(Get(idc::kTarget), Qt::Key_Escape);
    EXPECT_FALSE(device->IsOpen());
}

TEST_F(EditingTest, FocusShiftNoneAndFlatBoxLimits) {
    StartConnected();
    EditCell(1, 3, "none");
    EXPECT_EQ(device->Filters[1].FocuserPos, 20000);
    EXPECT_EQ(List()->topLevelItem(1)->text(3), "none");
    EXPECT_EQ(DeviceMemoryByte(42 + 2) | (DeviceMemoryByte(43 + 2) << 8), 20000);
    EditCell(1, 3, "15000");
    EXPECT_EQ(device->Filters[1].FocuserPos, 15000);
    EXPECT_EQ(List()->topLevelItem(1)->text(3), "none");  // above 10000
    EditCell(1, 3, "-40");
    EXPECT_EQ(List()->topLevelItem(1)->text(3), "-40");
    EXPECT_EQ(DeviceMemoryByte(42 + 2), 0xD8);

    EditCell(0, 4, "300");
    EXPECT_EQ(device->FlatValue[0], 255);
    EXPECT_EQ(List()->topLevelItem(0)->text(4), "255");
    EXPECT_EQ(DeviceMemoryByte(164), 255);
    EditCell(0, 4, "-5");
    EXPECT_EQ(device->FlatValue[0], 0);
    EXPECT_EQ(DeviceMemoryByte(164), 0);
}

TEST_F(EditingTest, SmallImageHasThreeWideColumnsAndATextEditorOnTheNumberColumn) {
    StartSim({"--memory-size", "163"});
    MakeWindow();
    ConnectThroughWindow();
    ASSERT_EQ(device->m_MemorySize, 163);
    ASSERT_EQ(List()->columnCount(), 4);
    const int client = List()->viewport()->width();
    EXPECT_EQ(List()->columnWidth(0), (client - 30) / 3);
    EXPECT_FALSE(dlg->FilterColour(0).has_value());

    ClickCell(1, 0);  // the name column opens no editor
    EXPECT_FALSE(dlg->CellEditorOpen());

    MarkDeviceMemory();
    int chooserCalls = 0;
    dlg->SetColourChooser([&](const QColor&, QWidget*) {
        ++chooserCalls;
        return std::optional<QColor>();
    });
    EditCell(1, 1, "5");  // a text editor; nothing is stored, the image is written anyway
    EXPECT_EQ(chooserCalls, 0);
    EXPECT_TRUE(ImageWasWritten());
    EXPECT_EQ(List()->topLevelItem(1)->text(1), "1");
}

TEST_F(EditingTest, NumberColumnChoosesTheFilterColour) {
    StartConnected();
    QColor offered;
    int pollingDuringChooser = -1;
    std::optional<QColor> answer = QColor(255, 128, 64);
    dlg->SetColourChooser([&](const QColor& initial, QWidget*) {
        offered = initial;
        pollingDuringChooser = dlg->PollingEnabled;
        return answer;
    });
    ClickCell(1, 1);
    EXPECT_FALSE(dlg->CellEditorOpen());
    EXPECT_EQ(offered, QColor(0xF8, 0, 0));  // 0xF800 of filter "R"
    EXPECT_EQ(pollingDuringChooser, 0);
    EXPECT_EQ(dlg->PollingEnabled, 1);
    EXPECT_EQ(device->FilterColor[1], 0xFC08);
    EXPECT_EQ(DeviceMemoryByte(174 + 2), 0x08);
    EXPECT_EQ(DeviceMemoryByte(175 + 2), 0xFC);

    // The "#" cell is painted in the colour, as the device keeps it.
    QTreeWidget* list = List();
    list->clearSelection();
    const QImage shot = list->viewport()->grab().toImage();
    const QRect cell = list->visualRect(list->model()->index(1, 1));
    EXPECT_EQ(QColor(shot.pixel(cell.right() - 2, cell.center().y())), QColor(0xF8, 0x80, 0x40));
    const QRect other = list->visualRect(list->model()->index(1, 2));
    EXPECT_EQ(QColor(shot.pixel(other.right() - 2, other.center().y())), dlg->DefaultCellBackground);

    // Cancelled: nothing changes.
    answer.reset();
    MarkDeviceMemory();
    ClickCell(2, 1);
    EXPECT_EQ(device->FilterColor[2], 0x07E0);
    EXPECT_FALSE(ImageWasWritten());
}

TEST_F(EditingTest, RenamingAFilterSendsTheNameAndShowsItAsTyped) {
    StartConnected();
    QTreeWidget* list = List();
    dlg->Window()->activateWindow();
    QApplication::setActiveWindow(dlg->Window());
    list->setFocus();
    QTreeWidgetItem* item = list->topLevelItem(2);
    list->setCurrentItem(item);
    list->editItem(item, 0);
    QLineEdit* editor = nullptr;
    for (auto* e : list->viewport()->findChildren<QLineEdit*>())
        if (e->objectName() != QString::number(idc::kCellEdit)) editor = e;
    ASSERT_NE(editor, nullptr);
    editor->setText("Hydrogen-alpha");
    Get(idc::kSensorName0)->setFocus();  // leaving the editor ends the edit
    QCoreApplication::processEvents();
    EXPECT_EQ(device->Filters[2].Name, "Hydrogen");
    EXPECT_EQ(item->text(0), "Hydrogen-alpha");
    char stored[9] = {};
    ASSERT_TRUE(device->ReadMemory(62 + 8 * 2, 8, reinterpret_cast<std::uint8_t*>(stored)));
    EXPECT_STREQ(stored, "Hydrogen");
}

TEST_F(EditingTest, KeyboardMovesTheWheel) {
    StartConnected();
    auto* name = Get<QLineEdit>(idc::kSensorName0);
    auto* position = Get<QLineEdit>(idc::kPosition);

    Key(name, Qt::Key_3, Qt::ControlModifier, "3");
    EXPECT_EQ(device->CurrentFilter, 3);
    EXPECT_EQ(WheelPosition(), 3);
    Key(position, Qt::Key_5, Qt::NoModifier, "5");
    EXPECT_EQ(WheelPosition(), 5);
    Key(position, Qt::Key_Right);
    EXPECT_EQ(WheelPosition(), 6);
    Key(position, Qt::Key_Right);
    EXPECT_EQ(WheelPosition(), 0);
    Key(name, Qt::Key_Left, Qt::ControlModifier);
    EXPECT_EQ(WheelPosition(), 6);

    // Digits beyond the filters, keypad digits and plain digits elsewhere do not move it.
    logLines.clear();
    Key(position, Qt::Key_7, Qt::NoModifier, "7");
    Key(name, Qt::Key_2, Qt::ControlModifier | Qt::KeypadModifier, "2");
    name->clear();
    name->setFocus();
    Key(name, Qt::Key_2, Qt::NoModifier, "2");
    EXPECT_EQ(name->text(), "2");
    EXPECT_EQ(CountLog("Goto("), 0);
    EXPECT_EQ(WheelPosition(), 6);

    // With the position unknown the arrows do nothing.
    device->CurrentFilter = -1;
    Key(position, Qt::Key_Left);
    EXPECT_EQ(CountLog("Goto("), 0);
}

TEST_F(EditingTest, DoubleClickMovesTheWheelAndMarksTheRow) {
    StartConnected();
    DoubleClickCell(4, 0);
    EXPECT_EQ(WheelPosition(), 4);
    EXPECT_EQ(dlg->MarkedFilter, 4);
    EXPECT_EQ(List()->topLevelItem(4)->data(0, CFilterWheelDlg::kImageRole).toInt(), 1);
    EXPECT_FALSE(dlg->CellEditorOpen());
}

// A jog the controller never finishes leaves the position unknown: the box reads "???" rather
// than the marker, and the next status shows the position again even where it did not change.
TEST_F(EditingTest, FailedJogShowsUnknownUntilTheNextStatus) {
    StartConnected({"--mode", "0"});  // second focuser: both position boxes
    struct Case {
        int focuser, box, spin;
    };
    for (const Case c : {Case{0, idc::kPosition, idc::kJog}, Case{1, idc::kPosition2, idc::kJog2}}) {
        SCOPED_TRACE(c.focuser);
        Tick();
        const QString before = Text(c.box);
        ASSERT_NE(before, "???");
        logLines.clear();
        sim->control("fault silent FWgoFocus");
        PressArrow(Get<ui::CUpDown>(c.spin), true);
        EXPECT_EQ(CountLog("Failed GoFocus#" + std::to_string(c.focuser)), 1);
        EXPECT_EQ(Text(c.box), "???");
        EXPECT_EQ(c.focuser == 0 ? dlg->LastStatus.FocusPos : dlg->LastStatus.Focus2Pos, kPositionNotRead);
        sim->control("fault none");
        Tick();  // the motor never moved: the position from before the jog
        EXPECT_EQ(Text(c.box), before);
    }
}

TEST_F(EditingTest, AutoBoxesShowAndSwitchTheCompensationSensor) {
    StartSim({"--sensors", "2"});
    sim->control("set temp 0 1500");
    sim->control("set temp 1 1600");
    MakeWindow();
    ConnectThroughWindow();
    auto state = [&](int k) { return Get<QCheckBox>(idc::kAutoBox0 + k)->checkState(); };
    auto deviceAuto = [&] {
        int t = -9;
        EXPECT_TRUE(device->GetAutoComp(t));
        return t;
    };
    ASSERT_EQ(dlg->AutoSensor, -1);
    device->AscomPreferredTermometer = -1;
    dlg->RefreshAutoBoxes();
    for (int k = 0; k < 4; ++k) EXPECT_EQ(state(k), Qt::PartiallyChecked);

    Click(idc::kAutoBox0 + 1);  // indeterminate: compensation on sensor 1
    EXPECT_EQ(deviceAuto(), 1);
    EXPECT_EQ(dlg->AutoSensor, 1);
    EXPECT_EQ(device->AscomPreferredTermometer, 1);
    EXPECT_EQ(state(1), Qt::Checked);

    Click(idc::kAutoBox0 + 1);  // checked: compensation off, sensor 1 still reported
    EXPECT_EQ(deviceAuto(), -1);
    EXPECT_EQ(dlg->AutoSensor, -1);
    EXPECT_EQ(state(1), Qt::Unchecked);
    EXPECT_EQ(state(0), Qt::PartiallyChecked);

    Click(idc::kAutoBox0 + 0);
    EXPECT_EQ(deviceAuto(), 0);
    EXPECT_EQ(state(0), Qt::Checked);
    EXPECT_EQ(state(1), Qt::PartiallyChecked);
    Tick();  // the poll agrees with what was sent
    EXPECT_EQ(dlg->AutoSensor, 0);
    EXPECT_EQ(state(0), Qt::Checked);
}

}  // namespace
}  // namespace velq3::test
