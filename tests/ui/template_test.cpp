// Template 202 as built: every control by id, of its kind, at its position in dialog units;
// and the pure helpers the window reads numbers and colours with.
#include <QGroupBox>
#include <QPushButton>

#include "UiFixture.h"
#include "ui/NumberText.h"

namespace velq3::test {
namespace {

using TemplateTest = UiTest;

struct Expected {
    int id;
    int x, y, cx, cy;
    const char* caption;  // nullptr: no caption to check
};

// Positions and captions as the window's layout gives them.
const Expected kLayout[] = {
    {3043, 66, 16, 35, 14, "Connect"},        {3044, 105, 16, 44, 14, "Disconnect"},
    {3037, 166, 28, 40, 14, "Load..."},       {3062, 9, 40, 73, 10, "Show on Connect"},
    {3004, 15, 75, 36, 12, "Go!"},            {3003, 13, 89, 40, 14, ""},
    {3035, 59, 113, 16, 8, ""},               {3028, 79, 72, 25, 13, ""},
    {3054, 105, 111, 38, 13, ""},             {3050, 69, 137, 8, 10, "^"},
    {3027, 115, 135, 11, 14, nullptr},        {3087, 88, 156, 123, 11, ""},
    {3060, 156, 76, 50, 15, "Heater..."},     {2, 156, 107, 50, 14, "Exit"},
    {3018, 7, 170, 204, 109, nullptr},
};

TEST_F(TemplateTest, ControlsSitAtTheirPositionsInDialogUnits) {
    MakeWindow();
    QDialog* w = dlg->Window();
    const ui::DialogUnits du = ui::DialogUnits::ForFont(w->font());
    // Units from the font: average letter width / 4 and height / 8.
    const QFontMetrics fm(w->font());
    const int letters = fm.horizontalAdvance("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    EXPECT_EQ(du.baseX, (letters / 26 + 1) / 2);
    EXPECT_EQ(du.baseY, fm.height());
    EXPECT_EQ(du.X(4), du.baseX);
    EXPECT_EQ(du.Y(8), du.baseY);
    EXPECT_EQ(w->size(), QSize(du.X(218), du.Y(286)));
    EXPECT_EQ(w->font().pointSize(), 8);

    for (const Expected& e : kLayout) {
        SCOPED_TRACE(e.id);
        QWidget* c = Get(e.id);
        ASSERT_NE(c, nullptr);
        EXPECT_EQ(c->geometry(), du.Rect(e.x, e.y, e.cx, e.cy));
        if (e.caption) {
            EXPECT_EQ(Text(e.id), QString::fromUtf8(e.caption));
        }
    }
    // The position boxes give up their right end to the jog up-downs beside them.
    for (auto [box, spin, y] : {std::tuple{3001, 3002, 135}, std::tuple{3099, 3100, 154}}) {
        EXPECT_EQ(Get(box)->geometry(), QRect(du.X(17), du.Y(y), du.X(51) - du.X(11), du.Y(14)));
        EXPECT_EQ(Get(spin)->geometry(), QRect(du.X(17) + du.X(51) - du.X(11), du.Y(y), du.X(11), du.Y(14)));
        EXPECT_EQ(Get<ui::CUpDown>(spin)->Buddy(), Get(box));
    }
    // The drop-down takes its own height, at the template's place and width.
    EXPECT_EQ(Get(3006)->geometry().topLeft(), QPoint(du.X(13), du.Y(17)));
    EXPECT_EQ(Get(3006)->width(), du.X(48));

    // Kinds and fixed states.
    for (int k = 0; k < 4; ++k) {
        auto* box = Get<QCheckBox>(3032 + k);
        EXPECT_TRUE(box->isTristate());
        EXPECT_EQ(box->layoutDirection(), Qt::RightToLeft);
        EXPECT_TRUE(Get<QLineEdit>(3028 + k)->isReadOnly());
        EXPECT_FALSE(Get<QLineEdit>(3028 + k)->hasFrame());
        EXPECT_FALSE(Get<QLineEdit>(3051 + k)->isReadOnly());
    }
    EXPECT_TRUE(Get<QLineEdit>(3001)->isReadOnly());
    EXPECT_TRUE(Get<QLineEdit>(3099)->isReadOnly());
    QStringList frames;
    for (auto* g : w->findChildren<QGroupBox*>()) frames << g->title();
    frames.sort();
    EXPECT_EQ(frames, QStringList({"", "Focuser", "Port"}));

    // A three-state box does not change by itself when clicked (the window's handler aside).
    auto* box = Get<QCheckBox>(3032);
    QObject::disconnect(box, nullptr, nullptr, nullptr);
    box->setEnabled(true);
    box->setCheckState(Qt::PartiallyChecked);
    box->click();
    EXPECT_EQ(box->checkState(), Qt::PartiallyChecked);
}

TEST(NumberTextTest, ReadsWhatTheOperatorTyped) {
    using namespace ui;
    EXPECT_EQ(LeadingInteger("  -42abc"), -42);
    EXPECT_EQ(LeadingInteger("+7"), 7);
    EXPECT_EQ(LeadingInteger("none"), std::nullopt);
    EXPECT_EQ(LeadingInteger(""), std::nullopt);
    EXPECT_EQ(LeadingInteger("-"), std::nullopt);
    EXPECT_EQ(LeadingInteger("99999999999999999999999"), INT64_MAX);
    EXPECT_EQ(LeadingInt32("abc"), 0);
    EXPECT_EQ(LeadingInt32("-99999999999"), INT32_MIN);
    EXPECT_EQ(UnsignedNumber(" 25 "), 25);
    EXPECT_EQ(UnsignedNumber("-5"), std::nullopt);
    EXPECT_EQ(UnsignedNumber("12x"), std::nullopt);
    EXPECT_EQ(UnsignedNumber("2147483648"), std::nullopt);
    EXPECT_EQ(Low16Signed(70000), 4464);
    EXPECT_EQ(Low16Signed(40000), -25536);
    EXPECT_EQ(Low16Signed(-1), -1);
}

TEST(ColourTest, FiveSixFiveConversionsAndSwitchTexts) {
    EXPECT_EQ(CFilterWheelDlg::ColourFrom565(0xFFFF), QColor(0xF8, 0xFC, 0xF8));  // low bits not replicated
    EXPECT_EQ(CFilterWheelDlg::ColourFrom565(0x07E0), QColor(0, 0xFC, 0));
    EXPECT_EQ(CFilterWheelDlg::ColourTo565(QColor(255, 128, 64)), 0xFC08);
    EXPECT_EQ(CFilterWheelDlg::ColourTo565(QColor(0, 0, 255)), 0x001F);
    for (unsigned c : {0x0000u, 0x1234u, 0xF81Fu, 0xFFFFu})
        EXPECT_EQ(CFilterWheelDlg::ColourTo565(CFilterWheelDlg::ColourFrom565(static_cast<std::uint16_t>(c))), c);
    EXPECT_STREQ(CFilterWheelDlg::SwitchText(0x1A), "1010");
    EXPECT_STREQ(CFilterWheelDlg::SwitchText(5), "0101");
    EXPECT_STREQ(CFilterWheelDlg::SwitchText(0xFF), "1111");
}

TEST(UpDownTest, ProposesItsChangeAndKeepsTheBuddysInteger) {
    ui::CUpDown upDown;
    std::vector<int> deltas;
    QObject::connect(&upDown, &ui::CUpDown::DeltaPos, [&](int d) { deltas.push_back(d); });
    // Default range 100..0: the up arrow proposes -1.
    upDown.Step(true);
    upDown.Step(false);
    EXPECT_EQ(deltas, (std::vector<int>{-1, 1}));

    QLineEdit buddy;
    upDown.SetRange(-3, 3);
    upDown.SetBuddy(&buddy, true);
    buddy.setText("2");
    upDown.Step(true);
    upDown.Step(true);
    EXPECT_EQ(buddy.text(), "3");
    buddy.setText("x");  // no number: steps from the last position
    upDown.Step(false);
    EXPECT_EQ(buddy.text(), "2");
    buddy.setText("-50");
    upDown.Step(false);
    EXPECT_EQ(buddy.text(), "-3");
    EXPECT_EQ(deltas.back(), -1);
}

}  // namespace
}  // namespace velq3::test
