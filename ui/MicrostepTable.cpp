// Waveform generators, the Pow/offset mapping, the table text and the picture geometry of
// the microstep table.
#include "ui/MicrostepTable.h"

#include <algorithm>
#include <cmath>

#include "ui/DecimalText.h"
#include "ui/NumberText.h"

namespace velq3::ui {

namespace {

// Slightly below pi/2, as the table's quarter period has always been computed.
constexpr double kQuarterPeriod = 1.5707963;
constexpr int kFullScale = 255;
constexpr int kMaxFloor = 100;
constexpr int kMinCurveShare = 6;  // the waveform keeps at least 1/6 of the drawing's height

double Step(int n) { return kQuarterPeriod / HalfLength(n); }

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

}  // namespace

int TableLength(int len) { return std::clamp(len, 0, kMicrostepCapacity); }

bool GenerateSin(MicrostepCurve& curve, int n) {
    if (n < 2) return false;
    const double step = Step(n);
    for (int i = 0; i < n; ++i) curve[i] = static_cast<float>(std::sin(i * step));
    return true;
}

bool GenerateSinSin3(MicrostepCurve& curve, int n) {
    if (n < 2) return false;
    const double step = Step(n);
    for (int i = 0; i < n; ++i) {
        const double x = i * step;
        curve[i] = static_cast<float>(1.1 * std::sin(x) + 0.1 * std::sin(3 * x));
    }
    return true;
}

bool GenerateTan(MicrostepCurve& curve, int n) {
    if (n < 2) return false;
    const int h = HalfLength(n);
    const double step = Step(n);
    for (int i = 0; i <= h; ++i) curve[i] = static_cast<float>(std::min(std::tan(i * step), 1.0));
    for (int j = 1; h + j < n; ++j) curve[h + j] = curve[h - j];
    return true;
}

double PowFromText(std::string_view text) { return LeadingDecimal(text).value_or(0.0); }

int FloorFromText(std::string_view text) {
    const std::int64_t a = WholeInteger(text).value_or(0);
    return static_cast<int>(std::clamp<std::int64_t>(a, 0, kMaxFloor));
}

void MapCurve(const MicrostepCurve& curve, int n, const CurveMapping& mapping, MicrostepBytes table) {
    n = TableLength(n);
    const double v = std::exp(mapping.pow / 5.0) - 1.0;
    const int a = std::clamp(mapping.floor, 0, kMaxFloor);
    const int d = kFullScale - a;
    const double l = v == 0 ? 1.0 : std::log(v + 1.0);
    for (int i = 0; i < n; ++i) {
        const double c = v == 0 ? curve[i] : std::log(v * curve[i] + 1.0) / l;
        // Limited before the conversion: extreme Pow values may give infinities or NaN.
        double e = std::trunc(c * (d + 0.5));
        if (!(e > 0)) e = 0;
        const int entry = a + static_cast<int>(std::min<double>(d, e));
        table[i] = static_cast<std::uint8_t>(mapping.inverse ? kFullScale - entry : entry);
    }
}

void InvertTable(MicrostepBytes table, int n) {
    n = TableLength(n);
    for (int i = 0; i < n; ++i) table[i] = static_cast<std::uint8_t>(kFullScale - table[i]);
}

std::string ShowTable(ConstMicrostepBytes table, int n) {
    std::string text;
    const int h = HalfLength(TableLength(n));
    for (int i = 0; i <= h; ++i) text += std::to_string(table[i]) + ' ';
    return text;
}

void MirrorTable(MicrostepBytes table, int n) {
    n = TableLength(n);
    const int h = HalfLength(n);
    for (int j = 1; h + j < n; ++j) table[h + j] = table[h - j];
}

void ParseTable(std::string_view text, MicrostepBytes table, int n) {
    const int h = HalfLength(TableLength(n));
    int entry = 0;
    size_t i = 0;
    while (entry <= h) {
        while (i < text.size() && IsBlank(text[i])) ++i;
        if (i >= text.size()) break;
        size_t end = i;
        while (end < text.size() && !IsBlank(text[end])) ++end;
        const std::int64_t value = LeadingInteger(text.substr(i, end - i)).value_or(0);
        table[entry++] = static_cast<std::uint8_t>(std::clamp<std::int64_t>(value, 0, kFullScale));
        i = end;
    }
    MirrorTable(table, n);
}

MicrostepPicture LayoutMicrosteps(PixelBox area, ConstMicrostepBytes table, int n) {
    n = TableLength(n);
    MicrostepPicture p;
    // The square takes the area's width, unless a wide dialog font would leave the waveform
    // less than a sixth of the height: then it gives way and stands centred.
    const int width = area.right - area.left;
    const int height = area.bottom - area.top;
    const int side = std::max(0, std::min(width, height - height / kMinCurveShare));
    const int left = area.left + (width - side) / 2;
    PixelBox s{left, area.bottom - side, left + side, area.bottom};
    PixelBox c{area.left, area.top, area.right, s.top};
    for (PixelBox* b : {&s, &c}) *b = {b->left + 10, b->top + 5, b->right - 10, b->bottom - 5};
    p.curveBox = c;
    p.vectorBox = s;
    p.centre = {(s.left + s.right) / 2, (s.top + s.bottom) / 2};
    if (n <= 0) return p;

    const int span = c.bottom - c.top;
    for (int i = 0; i < n; ++i) p.curve.push_back({c.left + (c.right - c.left) * i / n, c.bottom - table[i] * span / 255});
    p.curve.push_back({c.right, c.bottom - table[0] * span / 255});

    // An inverted table is drawn as its un-inverted waveform; the second half period has the
    // opposite sign and the second coil runs h entries behind.
    const bool inverted = LooksInverted(table);
    const int h = HalfLength(n);
    const int radius = (s.right - s.left) / 2 - 5;
    auto signedLevel = [&](int j) {
        const int m = j % (2 * n);
        int v = table[m % n];
        if (inverted) v = kFullScale - v;
        return m > n ? -v : v;
    };
    for (int j = 0; j <= 2 * n; ++j)
        p.vector.push_back({p.centre.x + radius * signedLevel(j) / 255, p.centre.y + radius * signedLevel(j + h) / 255});
    return p;
}

}  // namespace velq3::ui
