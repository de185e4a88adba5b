// The windows' scale: the stored setting and the command-line value, every window laid out at
// every step (captions whole, nothing laid over anything the template keeps apart), and the
// window menu's entries and keys that change the scale of the open windows.
#include <QAction>
#include <QDialogButtonBox>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollBar>
#include <QStyleOptionButton>
#include <QTest>
#include <QTreeView>

#include <cstring>

#include "LayoutChecks.h"
#include "UiFixture.h"
#include "ui/qt/FilterWheelSettingsDlg.h"
#include "ui/qt/FocuserSettingsDlg.h"
#include "ui/qt/HeaterControlDlg.h"
#include "ui/HeaterControlTemplate.h"
#include "ui/qt/MicrostepsDlg.h"
#include "ui/qt/TermGraph.h"
#include "ui/qt/UiScale.h"

namespace velq3::test {
namespace {

using ui::kUiScaleSteps;

RegValue Dword(std::uint32_t v) {
    RegValue value{RegType::Dword, std::vector<std::uint8_t>(4)};
    std::memcpy(value.data.data(), &v, 4);
    return value;
}

TEST(UiScaleSettingTest, CommandLineTakesTheStepsOnly) {
    for (int step : kUiScaleSteps) {
        EXPECT_EQ(ui::ParseUiScale(std::to_string(step)), step);
        EXPECT_EQ(ui::ParseUiScale(std::to_string(step) + "%"), step);
    }
    for (const char* bad : {"", "%", "140", "0", "-100", "300", "150 ", " 150", "150%%", "1e2", "abc", "99999999999"})
        EXPECT_EQ(ui::ParseUiScale(bad), std::nullopt) << '"' << bad << '"';
    EXPECT_EQ(ui::UiScaleStepsText(), "100, 125, 150, 175 or 200");
}

// A stored number is clamped to the steps' range and taken to the nearest step; anything that
// is not a number is the default.
TEST(UiScaleSettingTest, StoredValuesAreClampedToTheNearestStep) {
    EXPECT_EQ(ui::UiScaleFromStored(std::nullopt), 100);
    const std::pair<std::uint32_t, int> numbers[] = {
        {100, 100}, {125, 125}, {150, 150}, {175, 175}, {200, 200}, {112, 100}, {113, 125}, {130, 125},
        {138, 150}, {190, 200}, {0, 100}, {50, 100}, {201, 200}, {5000, 200}, {0xFFFFFFFF, 100}, {0x80000000, 100}};
    for (auto [stored, scale] : numbers) EXPECT_EQ(ui::UiScaleFromStored(Dword(stored)), scale) << stored;
    EXPECT_EQ(ui::UiScaleFromStored(RegValue{RegType::Sz, {'1', '5', '0', 0}}), 100);
    EXPECT_EQ(ui::UiScaleFromStored(RegValue{RegType::Binary, {150, 0, 0, 0}}), 100);
    EXPECT_EQ(ui::UiScaleFromStored(RegValue{RegType::Dword, {150, 0}}), 100);
}

TEST(UiScaleSettingTest, SavedScaleIsReadBackFromTheFile) {
    TempDir dir;
    {
        RegistryHive hive(dir.file("user.reg"), kCurrentUserRoot);
        EXPECT_EQ(ui::LoadUiScale(hive), 100);
        EXPECT_TRUE(ui::SaveUiScale(hive, 175));
        EXPECT_FALSE(ui::SaveUiScale(hive, 140));  // not a step: nothing stored
        EXPECT_EQ(ui::LoadUiScale(hive), 175);
    }
    RegistryHive again(dir.file("user.reg"), kCurrentUserRoot);
    ASSERT_EQ(again.Load(), RegistryHive::LoadResult::Loaded);
    EXPECT_EQ(again.GetDword(kSettingsKey, "UiScale"), 175u);
    EXPECT_EQ(ui::LoadUiScale(again), 175);
}

TEST(UiScaleSettingTest, LargerAndSmallerWalkTheStepsAndStopAtTheEnds) {
    std::vector<int> up = {100};
    while (up.size() < 10 && ui::NextUiScale(up.back(), +1) != up.back()) up.push_back(ui::NextUiScale(up.back(), +1));
    EXPECT_EQ(up, std::vector<int>(kUiScaleSteps.begin(), kUiScaleSteps.end()));
    EXPECT_EQ(ui::NextUiScale(200, +1), 200);
    EXPECT_EQ(ui::NextUiScale(100, -1), 100);
    EXPECT_EQ(ui::NextUiScale(175, -1), 150);
}

// Windows at a scale: the fixture puts the application back at 100 % afterwards.
class ScaledTest : public UiTest {
protected:
    void TearDown() override {
        UiTest::TearDown();
        ui::ApplyUiScale(100);
    }
    // A dialog's direct controls and the message boxes' labels and buttons, checked at once.
    static std::string Problems(QDialog& dialog) {
        std::string problems = Overflows(dialog);
        const std::string overlaps = Overlaps(dialog);
        if (!problems.empty() && !overlaps.empty()) problems += '\n';
        return problems + overlaps;
    }
};

class ScaledLayoutTest : public ScaledTest, public ::testing::WithParamInterface<int> {
protected:
    void SetUp() override {
        baseFont = QApplication::font();  // the application's font at 100 %
        ui::ApplyUiScale(GetParam());
    }
    QFont baseFont;
};

// The main window connected, with the widest texts its status poll writes, both focuser rows
// shown and the filter list filled.
TEST_P(ScaledLayoutTest, MainWindowCaptionsShowWholeAndNothingOverlaps) {
    StartConnected({"--mode", "10"});
    Get<QPushButton>(idc::kConnect)->setText(QStringLiteral("Conn (9)"));
    Get<QLabel>(idc::kPowerLine)->setText(QStringLiteral("Vin=13.80  Out=100.0%  Sw_1111"));
    Get<QLabel>(idc::kDirection)->setText(QStringLiteral("U"));
    Get<QLabel>(idc::kDirection2)->setText(QStringLiteral("D"));
    for (int k = 0; k < CFilterWheelDlg::kSensorRows; ++k) Get<QLineEdit>(idc::kTemperature0 + k)->setText("-40.00");
    Get<QLineEdit>(idc::kPosition)->setText(QStringLiteral("-32768"));
    for (int id : {idc::kPosition2, idc::kJog2, idc::kDirection2}) Get(id)->setVisible(true);
    QDialog& window = *dlg->Window();
    EXPECT_EQ(window.font().pointSizeF(), 8.0 * GetParam() / 100);
    EXPECT_EQ(Problems(window), "");

    // The filter columns still share the list's width without a horizontal scroll bar.
    QTreeWidget* list = List();
    QCoreApplication::processEvents();
    EXPECT_FALSE(list->horizontalScrollBar()->isVisible());
    int total = 0;
    for (int c = 0; c < list->columnCount(); ++c) total += list->columnWidth(c);
    EXPECT_LE(total, list->viewport()->width());
    EXPECT_EQ(list->columnWidth(1), ui::ScaledPixels(CFilterWheelDlg::kNumberColumnWidth));
    EXPECT_GE(list->columnWidth(1), list->fontMetrics().horizontalAdvance(QStringLiteral("10")));

    // The check boxes and the row images grow with the text (the boxes as far as their height allows).
    auto* box = Get<QCheckBox>(idc::kShowOnConnect);
    QStyleOptionButton opt;
    opt.initFrom(box);
    const int side = box->style()->subElementRect(QStyle::SE_CheckBoxIndicator, &opt, box).height();
    EXPECT_GE(side, std::min(box->height(), 13 * GetParam() / 100));
    const QSize image = list->iconSize();
    EXPECT_EQ(image, QSize(ui::ScaledPixels(16), ui::ScaledPixels(16)));
    const QPixmap drawn = list->topLevelItem(0)->icon(0).pixmap(image);
    EXPECT_EQ(drawn.size(), image);  // an icon gives no pixmap larger than its largest image
}

TEST_P(ScaledLayoutTest, SettingsDialogsCaptionsShowWholeAndNothingOverlaps) {
    MakeDeviceObject();
    {
        ui::CFocuserSettingsDlg focuser(*device);
        EXPECT_EQ(Problems(focuser), "");
    }
    {
        namespace w = ui::wheel_settings_id;
        ui::CFilterWheelSettingsDlg wheel(*device);
        for (auto [rotator, cover] : {std::pair{false, false}, std::pair{true, false}, std::pair{false, true}}) {
            SCOPED_TRACE(rotator ? "rotator" : cover ? "cover" : "wheel");
            qobject_cast<QCheckBox*>(wheel.Control(w::kRotatorMode))->setChecked(rotator);
            qobject_cast<QCheckBox*>(wheel.Control(w::kCoverMode))->setChecked(cover);
            wheel.OnModeChange();
            EXPECT_EQ(Problems(wheel), "");
        }
    }
    {
        ui::CHeaterControlDlg heater(*device);
        auto* mode = qobject_cast<QComboBox*>(heater.Control(ui::idc::heater::kPowerMode));
        ASSERT_NE(mode, nullptr);
        for (int i = 0; i < mode->count(); ++i) {
            mode->setCurrentIndex(i);
            EXPECT_EQ(Problems(heater), "") << mode->itemText(i).toStdString();
        }
    }
    {
        ui::CMicrostepsDlg microsteps(*device);
        EXPECT_EQ(Problems(microsteps), "");
    }
}

// Message boxes take the application font at the scale; their texts and buttons show whole.
TEST_P(ScaledLayoutTest, MessageBoxesShowTheirTextsWholeAtTheScaledFont) {
    MakeWindow();
    for (const QString& text : {QStringLiteral("Load failed"), QStringLiteral("Please enter an integer between 0 and 255."),
                                QString::fromUtf8(ui::CHeaterControlDlg::kSteepSpanWarning)}) {
        QMessageBox box(QMessageBox::Warning, QStringLiteral("Load Failed"), text, QMessageBox::Ok, dlg->Window());
        box.show();
        QCoreApplication::processEvents();
        EXPECT_NEAR(box.font().pointSizeF(), baseFont.pointSizeF() * GetParam() / 100, 0.01);
        QStringList found;
        for (QWidget* w : box.findChildren<QWidget*>())
            if (w->isVisible() && (qobject_cast<QLabel*>(w) || qobject_cast<QAbstractButton*>(w)))
                if (QString problem = CaptionOverflow(w); !problem.isEmpty()) found << problem;
        EXPECT_EQ(found.join('\n').toStdString(), "") << text.toStdString();
        box.hide();
    }
}

INSTANTIATE_TEST_SUITE_P(Steps, ScaledLayoutTest, ::testing::ValuesIn(kUiScaleSteps),
                         [](const ::testing::TestParamInfo<int>& info) { return std::to_string(info.param); });

// Each window's size grows with the scale, its layout staying the template's: its sides are the
// scale's multiple of those at 100 % (within what the font's own metrics allow).
TEST_F(ScaledTest, EveryWindowGrowsByTheScale) {
    MakeDeviceObject();
    auto sizes = [this](int percent) {
        ui::ApplyUiScale(percent);
        std::vector<QSize> s;
        CFilterWheelDlg main(*device, loop);
        EXPECT_TRUE(main.CreateModeless());
        s.push_back(main.Window()->size());
        s.push_back(ui::CFocuserSettingsDlg(*device).size());
        s.push_back(ui::CFilterWheelSettingsDlg(*device).size());
        s.push_back(ui::CHeaterControlDlg(*device).size());
        s.push_back(ui::CMicrostepsDlg(*device).size());
        ui::TermGraph graph(*device, nullptr);
        s.push_back(graph.size());
        EXPECT_NE(graph.minimumSize(), graph.maximumSize());  // the graph's frame stays sizable
        return s;
    };
    const std::vector<QSize> base = sizes(100);
    for (int step : kUiScaleSteps) {
        const std::vector<QSize> scaled = sizes(step);
        for (std::size_t i = 0; i < base.size(); ++i) {
            SCOPED_TRACE(testing::Message() << "window " << i << " at " << step);
            EXPECT_NEAR(scaled[i].width(), base[i].width() * step / 100.0, base[i].width() * step / 100.0 * 0.12);
            EXPECT_NEAR(scaled[i].height(), base[i].height() * step / 100.0, base[i].height() * step / 100.0 * 0.12);
        }
    }
}

// An in-place edit open when the scale changes is taken as typed, rather than left in a cell
// rectangle of the old scale.
TEST_F(ScaledTest, ScaleChangeCommitsAnOpenCellEdit) {
    StartConnected();
    ClickCell(2, 2);
    auto* edit = qobject_cast<QLineEdit*>(dlg->Control(idc::kCellEdit));
    ASSERT_NE(edit, nullptr);
    edit->setText("12");
    dlg->OnUiScale(150);
    EXPECT_FALSE(dlg->CellEditorOpen());
    EXPECT_EQ(device->Filters[2].Pos, 12);
    EXPECT_EQ(List()->topLevelItem(2)->text(2), "12");
    // A new edit opens inset by the scaled margin.
    ClickCell(2, 2);
    edit = qobject_cast<QLineEdit*>(dlg->Control(idc::kCellEdit));
    ASSERT_NE(edit, nullptr);
    EXPECT_EQ(edit->geometry().left(), List()->visualRect(List()->model()->index(2, 2)).left() + ui::ScaledPixels(5));
}

class UiScaleMenuTest : public ScaledTest {
protected:
    void SetUp() override {
        MakeWindow();
        dlg->SetUiScaleStore([this](int percent) { stored.push_back(percent); });
    }
    QAction* Action(const char* name) {
        auto* a = dlg->Window()->findChild<QAction*>(QString::fromLatin1(name));
        EXPECT_NE(a, nullptr) << name;
        return a;
    }
    // Geometry of every template control, in template order.
    static std::vector<QRect> Geometry(const QDialog& dialog) {
        std::vector<QRect> g;
        for (QWidget* w : ui::TemplateControls(dialog)) g.push_back(w->geometry());
        return g;
    }
    std::vector<int> stored;
};

// A scale chosen in the menu lays the open windows out as a build at that scale would, and is
// stored.
TEST_F(UiScaleMenuTest, ChosenScaleRelaysTheOpenWindowsOutAsABuildWouldAndIsStored) {
    Click(idc::kGraphs);
    ui::TermGraph* graph = dlg->GraphWindow();
    ASSERT_NE(graph, nullptr);
    graph->resize(333, 222);  // the operator's size gives way to the scale's

    Action("uiScale200")->trigger();
    EXPECT_EQ(ui::CurrentUiScale(), 200);
    EXPECT_EQ(stored, std::vector<int>{200});

    QDialog fresh;
    ui::BuildDialog(fresh, ui::kFilterWheelDlgTemplate);
    EXPECT_EQ(dlg->Window()->font(), fresh.font());
    EXPECT_EQ(dlg->Window()->size(), fresh.size());
    EXPECT_EQ(Geometry(*dlg->Window()), Geometry(fresh));
    EXPECT_EQ(Problems(*dlg->Window()), "");
    EXPECT_EQ(List()->columnWidth(1), 2 * CFilterWheelDlg::kNumberColumnWidth);
    EXPECT_EQ(List()->iconSize(), QSize(32, 32));
    // The open port list's columns take the larger texts.
    auto* ports = Get<QComboBox>(idc::kPortList);
    auto* view = qobject_cast<QTreeView*>(ports->view());
    ASSERT_NE(view, nullptr);
    const QFontMetrics portFont(ports->font());
    for (int c = 0; c < ports->model()->columnCount(); ++c)
        for (int r = 0; r < ports->model()->rowCount(); ++r) {
            const QString text = ports->model()->index(r, c).data().toString();
            EXPECT_GE(view->columnWidth(c), portFont.horizontalAdvance(text)) << text.toStdString();
        }

    ui::TermGraph freshGraph(*device, nullptr);
    EXPECT_EQ(graph->font(), freshGraph.font());
    EXPECT_EQ(graph->size(), freshGraph.size());
    EXPECT_NE(graph->minimumSize(), graph->maximumSize());

    // Back to 100 %: the window as first built.
    Action("uiScale100")->trigger();
    QDialog fresh100;
    ui::BuildDialog(fresh100, ui::kFilterWheelDlgTemplate);
    EXPECT_EQ(Geometry(*dlg->Window()), Geometry(fresh100));
    EXPECT_EQ(stored, (std::vector<int>{200, 100}));
}

// The menu offers Larger, Smaller and every step with the current one marked; the template's
// controls are as many as before.
TEST_F(UiScaleMenuTest, MenuEntriesAndKeysStepTheScale) {
    QDialog& window = *dlg->Window();
    EXPECT_EQ(window.contextMenuPolicy(), Qt::ActionsContextMenu);
    QStringList entries;
    for (QAction* a : window.actions()) entries << a->text();
    EXPECT_EQ(entries.join('|').toStdString(), "Larger|Smaller|Scale");
    QMenu* menu = Action("uiScaleMenu")->menu();
    ASSERT_NE(menu, nullptr);
    ui::ApplyUiScale(150);
    emit menu->aboutToShow();
    QStringList steps, checked;
    for (QAction* a : menu->actions()) {
        steps << a->text();
        if (a->isChecked()) checked << a->text();
    }
    EXPECT_EQ(steps.join('|').toStdString(), "100 %|125 %|150 %|175 %|200 %");
    EXPECT_EQ(checked.join('|').toStdString(), "150 %");
    ui::ApplyUiScale(100);

    // The keys, as the operator types them into the window.
    window.activateWindow();
    QApplication::setActiveWindow(&window);
    QWidget* focus = Get(idc::kTarget);
    focus->setFocus();
    QTest::keyClick(focus, Qt::Key_Plus, Qt::ControlModifier);
    EXPECT_EQ(ui::CurrentUiScale(), 125);
    QTest::keyClick(focus, Qt::Key_Equal, Qt::ControlModifier);
    EXPECT_EQ(ui::CurrentUiScale(), 150);
    QTest::keyClick(focus, Qt::Key_Minus, Qt::ControlModifier);
    QTest::keyClick(focus, Qt::Key_Minus, Qt::ControlModifier);
    QTest::keyClick(focus, Qt::Key_Minus, Qt::ControlModifier);
    EXPECT_EQ(ui::CurrentUiScale(), 100);
    EXPECT_EQ(stored, (std::vector<int>{125, 150, 125, 100, 100}));
    // The filter keys stay the window's: Ctrl+digit is no scale key.
    QTest::keyClick(focus, Qt::Key_0, Qt::ControlModifier);
    EXPECT_EQ(stored.size(), 5u);
    EXPECT_EQ(ui::TemplateControls(window).size(), ui::kFilterWheelDlgTemplate.controls.size());
}

}  // namespace
}  // namespace velq3::test
