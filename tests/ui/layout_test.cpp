// Every caption of every dialog shows whole at the dialog font: static texts, buttons, check
// boxes and group box titles are at least as wide as their text (wrapped texts as tall), and
// the filter list needs no horizontal scroll bar.
#include <QComboBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QPushButton>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionButton>
#include <QStyleOptionComboBox>
#include <QStyleOptionGroupBox>

#include "UiFixture.h"
#include "ui/FilterWheelSettingsDlg.h"
#include "ui/FocuserSettingsDlg.h"
#include "ui/HeaterControlDlg.h"
#include "ui/HeaterControlTemplate.h"
#include "ui/MicrostepsDlg.h"

namespace velq3::test {
namespace {

QString Describe(QWidget* w, const QString& text, int need, int room) {
    return QStringLiteral("%1 \"%2\" (%3): needs %4 px, has %5")
        .arg(QString::fromLatin1(w->metaObject()->className()), text, w->objectName())
        .arg(need)
        .arg(room);
}

// What of a control's caption does not show; empty when all of it does.
QString CaptionOverflow(QWidget* w) {
    const QFontMetrics fm(w->font());
    QStyle* style = w->style();
    if (auto* box = qobject_cast<QGroupBox*>(w)) {
        if (box->title().isEmpty()) return {};
        QStyleOptionGroupBox opt;
        opt.initFrom(box);
        opt.text = box->title();
        opt.textAlignment = box->alignment();
        opt.subControls = QStyle::SC_GroupBoxFrame | QStyle::SC_GroupBoxLabel;
        opt.lineWidth = 1;
        const QRect label = style->subControlRect(QStyle::CC_GroupBox, &opt, QStyle::SC_GroupBoxLabel, box);
        const int need = fm.horizontalAdvance(box->title());
        if (box->rect().contains(label) && label.width() >= need) return {};
        return Describe(w, box->title(), label.left() + need, box->width());
    }
    if (auto* button = qobject_cast<QAbstractButton*>(w)) {
        if (button->text().isEmpty()) return {};
        QStyleOptionButton opt;
        opt.initFrom(button);
        opt.text = button->text();
        const bool check = qobject_cast<QCheckBox*>(w) != nullptr;
        const QRect room = style->subElementRect(check ? QStyle::SE_CheckBoxContents : QStyle::SE_PushButtonContents,
                                                 &opt, button);
        const int need = fm.horizontalAdvance(button->text());
        if (need <= room.width()) return {};
        return Describe(w, button->text(), need, room.width());
    }
    if (auto* label = qobject_cast<QLabel*>(w)) {
        const QString text = label->text();
        if (text.isEmpty()) return {};
        const QRect room = label->contentsRect();
        int need = 0;
        // A wrapping text breaks between words: each word must fit, and the lines must fit below
        // one another.
        const QStringList parts = label->wordWrap() ? text.split(QRegularExpression(QStringLiteral("\\s+")))
                                                    : text.split(QLatin1Char('\n'));
        for (const QString& part : parts) need = std::max(need, fm.horizontalAdvance(part));
        if (need > room.width()) return Describe(w, text, need, room.width());
        if (label->wordWrap()) {
            const int height =
                fm.boundingRect(QRect(0, 0, room.width(), 10000), Qt::TextWordWrap | int(label->alignment()), text).height();
            if (height > room.height())
                return Describe(w, text, height, room.height()) + QStringLiteral(" (height)");
        }
        return {};
    }
    return {};
}

// The items of a drop-down list that its closed box would cut.
QStringList CutItems(QComboBox* list) {
    QStringList found;
    for (int i = 0; i < list->count(); ++i) {
        QStyleOptionComboBox opt;
        opt.initFrom(list);
        opt.currentText = list->itemText(i);
        opt.editable = false;
        opt.frame = list->hasFrame();
        const QRect field = list->style()->subControlRect(QStyle::CC_ComboBox, &opt, QStyle::SC_ComboBoxEditField, list);
        const int need = list->fontMetrics().horizontalAdvance(list->itemText(i));
        if (need > field.width()) found << Describe(list, list->itemText(i), need, field.width());
    }
    return found;
}

// The captions and drop-down items of a dialog's own controls (those not hidden) that do not
// show whole, one a line.
std::string Overflows(QWidget& dialog) {
    QStringList found;
    for (QWidget* w : dialog.findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (w->isHidden()) continue;
        if (QString problem = CaptionOverflow(w); !problem.isEmpty()) found << problem;
        if (auto* list = qobject_cast<QComboBox*>(w)) found << CutItems(list);
    }
    return found.join(QLatin1Char('\n')).toStdString();
}

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
    EXPECT_EQ(grown.height(), du.Y(8));
    EXPECT_EQ(grown.width(), fm.horizontalAdvance("A caption far wider than its control"));
    EXPECT_EQ(CaptionOverflow(c.at(13)), "");
    EXPECT_EQ(c.at(13)->geometry().topLeft(), du.Rect(4, 40, 12, 14).topLeft());
    // No room: beside another control, past the dialog's edge, out of its frame. Fitting: as given.
    for (auto [id, cx] : {std::pair{11, 10}, std::pair{15, 10}, std::pair{16, 20}, std::pair{14, 60}})
        EXPECT_EQ(c.at(id)->geometry().width(), du.X(cx)) << id;
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
