// The "Microsteps Table" dialog on the simulated controller: the generators with Pow, offset
// and Inverse, typed tables and their mirroring, Apply, and the picture (saved as a PNG).
#include <QCheckBox>
#include <QImage>
#include <QPainter>

#include "SimDevice.h"
#include "ui/MicrostepTable.h"
#include "ui/qt/MicrostepsDlg.h"
#include "ui/MicrostepsTemplate.h"
#include "ui/qt/UpDown.h"

namespace velq3::test {
namespace {

using ui::CMicrostepsDlg;
namespace m = ui::idc::microsteps;

int CountValues(const QString& text) { return static_cast<int>(text.split(' ', Qt::SkipEmptyParts).size()); }

class MicrostepsTest : public SimDeviceTest {
protected:
    // Connects to a controller with a table of `len` entries and opens the dialog on it, as
    // the focuser settings dialog does after reading the table.
    void OpenOn(int len) {
        Connect({"--table-len", std::to_string(len)});
        ASSERT_TRUE(device->ReadMicrostepTable());
        ASSERT_EQ(device->m_MicrostepTableLen, len);
        dlg = std::make_unique<CMicrostepsDlg>(*device);
    }

    QLineEdit* E(int id) { return Edit(dlg->Control(id)); }
    int Entry(int i) const { return device->m_MicrostepTable[i]; }
    std::vector<int> Entries(int n) const { return {device->m_MicrostepTable, device->m_MicrostepTable + n}; }
    QCheckBox* Inverse() { return qobject_cast<QCheckBox*>(dlg->Control(m::kInverse)); }
    // Typing into the table text, as the operator does.
    void TypeTable(const QString& text) {
        E(m::kTableText)->setText(text);
        emit E(m::kTableText)->textEdited(text);
    }
    void SetPow(const char* p) { E(m::kPow)->setText(p); }

    std::unique_ptr<CMicrostepsDlg> dlg;
};

TEST_F(MicrostepsTest, SinWithPow0SpansTheFullRangeOverHalfTheTable) {
    OpenOn(64);
    EXPECT_EQ(dlg->windowTitle(), "Microsteps Table");
    EXPECT_EQ(E(m::kPow)->text(), "1.0");
    EXPECT_FALSE(dlg->CurveValid);
    EXPECT_EQ(CountValues(E(m::kTableText)->text()), 33);  // the controller's table as it came
    const std::vector<int> before = Entries(64);
    SetPow("1.5");  // no generated curve yet: nothing is mapped
    EXPECT_EQ(Entries(64), before);

    SetPow("0");
    Click(dlg->Control(m::kSin));
    EXPECT_TRUE(dlg->CurveValid);
    EXPECT_EQ(Entry(0), 0);
    EXPECT_EQ(Entry(32), 255);
    EXPECT_EQ(Entry(16), 180);  // trunc(sin(pi/4) * 255.5)
    for (int j = 1; j < 32; ++j) EXPECT_EQ(Entry(32 + j), Entry(32 - j)) << j;
    const QString text = E(m::kTableText)->text();
    EXPECT_EQ(CountValues(text), 33);
    EXPECT_TRUE(text.startsWith("0 12 25 "));
    EXPECT_TRUE(text.endsWith("255 "));

    E(m::kOffset)->setText("20");
    Click(dlg->Control(m::kSin));
    EXPECT_EQ(Entry(0), 20);
    EXPECT_EQ(Entry(32), 255);
    for (int i = 0; i < 64; ++i) EXPECT_GE(Entry(i), 20);
    E(m::kOffset)->setText("500");  // limited to 100
    Click(dlg->Control(m::kSin));
    EXPECT_EQ(Entry(0), 100);
}

TEST_F(MicrostepsTest, PowBendsTheCurveAndChangesRemapOnlyAfterAGenerator) {
    OpenOn(64);
    SetPow("0");
    Click(dlg->Control(m::kSin));
    const std::vector<int> linear = Entries(64);
    SetPow("1");  // re-maps the stored sine at once
    const std::vector<int> lifted = Entries(64);
    EXPECT_EQ(lifted[0], 0);
    EXPECT_EQ(lifted[32], 255);
    for (int i = 1; i < 32; ++i) EXPECT_GE(lifted[i], linear[i]) << i;
    EXPECT_EQ(linear[16], 180);
    EXPECT_EQ(lifted[16], 185);  // ln(1 + 0.2214 sin(pi/4)) / ln(1.2214) = 0.727
    EXPECT_EQ(CountValues(E(m::kTableText)->text()), 33);

    SetPow("-3");  // negative lowers small values
    EXPECT_LT(Entry(16), linear[16]);

    // The up-down writes whole numbers into the Pow box, which re-maps too.
    auto* spin = dynamic_cast<ui::CUpDown*>(dlg->Control(m::kPowSpin));
    ASSERT_NE(spin, nullptr);
    spin->Step(true);
    EXPECT_EQ(E(m::kPow)->text(), "-2");
    SetPow("50");
    spin->Step(true);
    EXPECT_EQ(E(m::kPow)->text(), "50");

    // Extreme Pow values still give a table within 0..255.
    for (const char* p : {"1e6", "-1e6", "garbage"}) {
        SetPow(p);
        EXPECT_EQ(Entry(0), 0) << p;
        EXPECT_LE(Entry(32), 255) << p;
    }

    // After a typed table Pow does nothing until a generator runs again.
    TypeTable("0 100 200");
    EXPECT_FALSE(dlg->CurveValid);
    const std::vector<int> typed = Entries(64);
    SetPow("2");
    EXPECT_EQ(Entries(64), typed);
    Click(dlg->Control(m::kTan));
    EXPECT_NE(Entries(64), typed);
}

TEST_F(MicrostepsTest, InverseBeforeAndAfterAGenerator) {
    OpenOn(64);
    SetPow("0");
    Inverse()->click();  // the controller's table is flipped at once
    EXPECT_EQ(Entry(0), 255);
    Click(dlg->Control(m::kSin));
    EXPECT_EQ(Entry(0), 255);
    EXPECT_EQ(Entry(32), 0);
    EXPECT_TRUE(E(m::kTableText)->text().startsWith("255 "));
    Inverse()->click();  // unchecked: entry 0 above 128 counts as inverted, so it flips back
    EXPECT_EQ(Entry(0), 0);
    EXPECT_EQ(Entry(32), 255);

    // A check that agrees with the table changes nothing.
    TypeTable("200 100 50");
    Inverse()->click();
    EXPECT_EQ(Entry(0), 200);
    Inverse()->click();  // unchecked, table looks inverted: flipped
    EXPECT_EQ(Entry(0), 55);
}

TEST_F(MicrostepsTest, TypedValuesFillTheFirstHalfAndAreMirrored) {
    OpenOn(64);
    // A small table: n = 8, as a controller with a short table has.
    device->m_MicrostepTableLen = 8;
    for (int i = 0; i < 8; ++i) device->m_MicrostepTable[i] = static_cast<std::uint8_t>(10 + i);
    dlg = std::make_unique<CMicrostepsDlg>(*device);
    EXPECT_EQ(E(m::kTableText)->text(), "10 11 12 13 14 ");
    TypeTable("0 100 200");
    EXPECT_EQ(Entries(8), (std::vector<int>{0, 100, 200, 13, 14, 13, 200, 100}));
    EXPECT_EQ(E(m::kTableText)->text(), "0 100 200");  // the operator's text is left alone

    TypeTable("   1    2  3     ");
    EXPECT_EQ(Entries(8), (std::vector<int>{1, 2, 3, 13, 14, 13, 3, 2}));
    TypeTable("5 6 7 8 9 10 11 12");  // values past entry 4 are ignored
    EXPECT_EQ(Entries(8), (std::vector<int>{5, 6, 7, 8, 9, 8, 7, 6}));
    TypeTable("300 x7 -4 12abc");  // limited to 0..255; no leading number gives 0
    EXPECT_EQ(Entries(8), (std::vector<int>{255, 0, 0, 12, 9, 12, 0, 0}));
}

TEST_F(MicrostepsTest, ApplySendsTheTableWhichTheControllerReadsBack) {
    OpenOn(64);
    SetPow("0");
    Click(dlg->Control(m::kSin));
    Inverse()->click();
    const std::vector<int> shaped = Entries(64);
    EXPECT_EQ(shaped[0], 255);
    Click(dlg->Control(m::kApply));
    EXPECT_EQ(dlg->result(), 0);  // Apply leaves the dialog open
    std::fill(std::begin(device->m_MicrostepTable), std::end(device->m_MicrostepTable), 0);
    ASSERT_TRUE(device->ReadMicrostepTable());
    EXPECT_EQ(device->m_MicrostepTableLen, 64);
    EXPECT_EQ(Entries(64), shaped);

    // Without a connection Apply fails silently; the program's copy keeps the changes.
    device->CloseLink();
    Click(dlg->Control(m::kSinSin3));
    EXPECT_FALSE(dlg->OnApply());
    EXPECT_EQ(Entry(32), 0);  // still inverted: sin+sin3 peaks at 1.0 in the middle
}

TEST_F(MicrostepsTest, OddTablesAndTablesTooShortToGenerate) {
    OpenOn(33);  // h = 16: the last entry mirrors entry 0
    SetPow("0");
    Click(dlg->Control(m::kTan));
    EXPECT_EQ(Entry(0), 0);
    EXPECT_EQ(Entry(8), 255);  // tan reaches 1.0 a quarter of the way
    EXPECT_EQ(Entry(16), 255);
    EXPECT_EQ(Entry(24), 255);
    EXPECT_EQ(Entry(31), Entry(1));
    EXPECT_EQ(Entry(32), Entry(0));
    EXPECT_EQ(CountValues(E(m::kTableText)->text()), 17);

    device->m_MicrostepTableLen = -1;  // never read
    device->m_MicrostepTable[0] = 77;
    dlg = std::make_unique<CMicrostepsDlg>(*device);
    EXPECT_EQ(E(m::kTableText)->text(), "77 ");
    for (int id : {m::kSin, m::kTan, m::kSinSin3}) Click(dlg->Control(id));
    EXPECT_FALSE(dlg->CurveValid);
    EXPECT_EQ(Entry(0), 77);
    EXPECT_FALSE(dlg->OnApply());
    device->m_MicrostepTableLen = 1;
    Click(dlg->Control(m::kSin));
    EXPECT_FALSE(dlg->CurveValid);
}

TEST(MicrostepTableTest, GeneratorsAndMapping) {
    ui::MicrostepCurve c{};
    ASSERT_TRUE(ui::GenerateSinSin3(c, 64));
    EXPECT_NEAR(c[32], 1.0f, 1e-6f);
    EXPECT_NEAR(c[16], 1.1 * std::sin(M_PI / 4) + 0.1 * std::sin(3 * M_PI / 4), 1e-6);
    std::uint8_t table[128] = {};
    ui::MapCurve(c, 64, {0.0, 0, false}, table);
    EXPECT_EQ(table[32], 255);
    EXPECT_EQ(ui::PowFromText("2.5x"), 2.5);
    EXPECT_EQ(ui::PowFromText("x"), 0.0);
    EXPECT_EQ(ui::PowFromText(" -1e1z"), -10.0);
    EXPECT_EQ(ui::PowFromText("+.5"), 0.5);
    EXPECT_EQ(ui::PowFromText("3e"), 3.0);
    EXPECT_EQ(ui::PowFromText("inf"), 0.0);
    EXPECT_EQ(ui::PowFromText("1e999"), 0.0);
    EXPECT_EQ(ui::FloorFromText(" 30 "), 30);
    EXPECT_EQ(ui::FloorFromText("30%"), 0);
    EXPECT_EQ(ui::FloorFromText("-5"), 0);
}

TEST(MicrostepTableTest, PictureGeometry) {
    std::uint8_t table[128] = {};
    for (int i = 0; i < 8; ++i) table[i] = static_cast<std::uint8_t>(i <= 4 ? i * 255 / 4 : (8 - i) * 255 / 4);
    const ui::MicrostepPicture p = ui::LayoutMicrosteps({0, 100, 220, 500}, table, 8);
    EXPECT_EQ(p.vectorBox.left, 10);
    EXPECT_EQ(p.vectorBox.right, 210);
    EXPECT_EQ(p.vectorBox.top, 285);  // 500 - 220 + 5
    EXPECT_EQ(p.vectorBox.bottom, 495);
    EXPECT_EQ(p.curveBox.top, 105);
    EXPECT_EQ(p.curveBox.bottom, 275);
    ASSERT_EQ(p.curve.size(), 9u);
    EXPECT_EQ(p.curve[0], (ui::PixelPoint{10, 275}));
    EXPECT_EQ(p.curve[4], (ui::PixelPoint{110, 105}));
    EXPECT_EQ(p.curve[8], (ui::PixelPoint{210, 275}));
    EXPECT_EQ(p.centre, (ui::PixelPoint{110, 390}));
    ASSERT_EQ(p.vector.size(), 17u);
    const int r = 95;
    EXPECT_EQ(p.vector[0], (ui::PixelPoint{110, 390 + r}));   // coil A 0, coil B at its peak
    EXPECT_EQ(p.vector[4], (ui::PixelPoint{110 + r, 390}));   // coil A at its peak
    EXPECT_EQ(p.vector[12], (ui::PixelPoint{110 - r, 390}));  // second half period: negative
    // An inverted table is drawn as the plain one.
    std::uint8_t inverted[128] = {};
    for (int i = 0; i < 8; ++i) inverted[i] = static_cast<std::uint8_t>(255 - table[i]);
    EXPECT_EQ(ui::LayoutMicrosteps({0, 100, 220, 500}, inverted, 8).vector, p.vector);
    // A drawing wider than tall keeps a sixth of its height for the waveform; the square
    // stands centred below it.
    const ui::MicrostepPicture wide = ui::LayoutMicrosteps({0, 0, 500, 480}, table, 8);
    EXPECT_EQ(wide.vectorBox.left, 60);
    EXPECT_EQ(wide.vectorBox.right, 440);
    EXPECT_EQ(wide.vectorBox.top, 85);
    EXPECT_EQ(wide.curveBox.left, 10);
    EXPECT_EQ(wide.curveBox.right, 490);
    EXPECT_EQ(wide.curveBox.bottom, 75);
    // No table: the boxes only.
    const ui::MicrostepPicture none = ui::LayoutMicrosteps({0, 100, 220, 500}, table, 0);
    EXPECT_TRUE(none.curve.empty());
    EXPECT_TRUE(none.vector.empty());
}

TEST_F(MicrostepsTest, PaintsTheWaveformAndTheCurrentVectorAndSavesAPicture) {
    OpenOn(64);
    SetPow("0");
    Click(dlg->Control(m::kSin));
    const QImage img = dlg->grab().toImage();
    const ui::MicrostepPicture p = ui::LayoutMicrosteps(dlg->DrawingArea(), device->m_MicrostepTable, 64);
    ASSERT_GT(p.curveBox.bottom - p.curveBox.top, 40);
    // A sine table fills the circle: its middle is black, the square's corners white.
    EXPECT_EQ(img.pixelColor(p.centre.x, p.centre.y), QColor(Qt::black));
    EXPECT_EQ(img.pixelColor(p.centre.x + 10, p.centre.y - 10), QColor(Qt::black));
    EXPECT_EQ(img.pixelColor(p.vectorBox.left + 2, p.vectorBox.top + 2), QColor(Qt::white));
    EXPECT_EQ(img.pixelColor(p.vectorBox.right - 3, p.vectorBox.bottom - 3), QColor(Qt::white));
    // The waveform peaks at the top of its box in the middle and sits on the bottom at the ends.
    EXPECT_EQ(img.pixelColor(p.curve[32].x, p.curve[32].y), QColor(Qt::black));
    EXPECT_EQ(p.curve[32].y, p.curveBox.top);
    EXPECT_EQ(img.pixelColor(p.curve[32].x, p.curveBox.bottom - 3), QColor(Qt::white));
    EXPECT_TRUE(img.save(QString(VELQ3_BIN_DIR) + "/microsteps.png"));

    // A table with a flat top shows corners; the picture follows each change.
    Click(dlg->Control(m::kTan));
    const QImage tan = dlg->grab().toImage();
    EXPECT_NE(tan, img);
    EXPECT_TRUE(tan.save(QString(VELQ3_BIN_DIR) + "/microsteps-tan.png"));
}

}  // namespace
}  // namespace velq3::test
