// The microstep table's math without any window: the three waveform generators, the mapping
// of a waveform to current levels (Pow, offset, Inverse), the table as text and back, and
// the geometry of its picture (waveform and current vector).
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace velq3::ui {

inline constexpr int kMicrostepCapacity = 128;
using MicrostepBytes = std::span<std::uint8_t, kMicrostepCapacity>;
using ConstMicrostepBytes = std::span<const std::uint8_t, kMicrostepCapacity>;
// One generated waveform value (about 0..1) per table entry.
using MicrostepCurve = std::array<float, kMicrostepCapacity>;

// The valid length of a table whose device length is `len`: 0 when none was read.
int TableLength(int len);
// Entries 0..h are edited; the rest mirror them. h = n / 2.
inline int HalfLength(int n) { return n > 0 ? n / 2 : 0; }

// Fill the first n values of `curve`; false, with nothing changed, for tables shorter
// than 2 entries (they have no quarter period to spread a waveform over).
bool GenerateSin(MicrostepCurve& curve, int n);
bool GenerateTan(MicrostepCurve& curve, int n);
bool GenerateSinSin3(MicrostepCurve& curve, int n);

struct CurveMapping {
    double pow = 0;      // P: 0 keeps the curve, positive lifts small values, negative lowers them
    int floor = 0;       // a: the lowest level, 0..100
    bool inverse = false;
};

// P from the text of the Pow box: the number it starts with, 0 when none.
double PowFromText(std::string_view text);
// a from the text of the offset box: a whole number limited to 0..100, 0 when none.
int FloorFromText(std::string_view text);

// Entries 0..n-1 from the curve: a + min(255 - a, trunc(c * (255 - a + 0.5))), c being the
// curve bent by the power law; 255 minus that when inverted.
void MapCurve(const MicrostepCurve& curve, int n, const CurveMapping& mapping, MicrostepBytes table);

// The table counts as inverted when entry 0 is above 128.
inline bool LooksInverted(ConstMicrostepBytes table) { return table[0] > 128; }
void InvertTable(MicrostepBytes table, int n);

// "%i " for each of entries 0..h.
std::string ShowTable(ConstMicrostepBytes table, int n);

// Reads the values typed for entries 0..h (blank-separated; each as a leading number, 0 when
// none, limited to 0..255; entries without a value keep theirs), then mirrors the rest.
void ParseTable(std::string_view text, MicrostepBytes table, int n);

// Entry h + j = entry h - j for every j from 1 with h + j below n (with odd n the last entry
// mirrors entry 0).
void MirrorTable(MicrostepBytes table, int n);

// --- the picture ---

struct PixelBox {  // right and bottom are exclusive
    int left = 0, top = 0, right = 0, bottom = 0;
};
struct PixelPoint {
    int x = 0, y = 0;
    bool operator==(const PixelPoint&) const = default;
};

struct MicrostepPicture {
    PixelBox curveBox;   // the waveform, above
    PixelBox vectorBox;  // the square of the current vector, below
    std::vector<PixelPoint> curve;  // polyline: n + 1 points, the last closing the period
    PixelPoint centre;
    std::vector<PixelPoint> vector;  // P(0)..P(2n): a line from the centre to P(k), then to P(k+1)
};

// The picture in `area` (the client area below the table text): the vector square at the
// bottom, as wide as the area, and the waveform box above it; empty lines for n = 0.
MicrostepPicture LayoutMicrosteps(PixelBox area, ConstMicrostepBytes table, int n);

}  // namespace velq3::ui
