// The snapshot's derived values, from the shared device rules.
#include "service/Snapshot.h"

#include <algorithm>

namespace velq3 {

namespace {

std::size_t Utf8SequenceLength(std::string_view s) {
    const auto c = static_cast<unsigned char>(s[0]);
    std::size_t n;
    if (c >= 0xC2 && c <= 0xDF) n = 2;
    else if (c >= 0xE0 && c <= 0xEF) n = 3;
    else if (c >= 0xF0 && c <= 0xF4) n = 4;
    else return 0;
    if (s.size() < n) return 0;
    for (std::size_t i = 1; i < n; ++i)
        if ((static_cast<unsigned char>(s[i]) & 0xC0) != 0x80) return 0;
    const auto c1 = static_cast<unsigned char>(s[1]);
    if (c == 0xE0 && c1 < 0xA0) return 0;  // overlong
    if (c == 0xED && c1 >= 0xA0) return 0; // surrogates
    if (c == 0xF0 && c1 < 0x90) return 0;  // overlong
    if (c == 0xF4 && c1 >= 0x90) return 0; // beyond U+10FFFF
    return n;
}

void AppendUtf8(std::string& out, unsigned cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

// Windows-1252 at 0x80..0x9F; 0 where the code page has no character.
constexpr unsigned kCp1252High[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

} // namespace

std::string DeviceTextToUtf8(std::string_view bytes) {
    if (const auto zero = bytes.find('\0'); zero != std::string_view::npos) bytes = bytes.substr(0, zero);
    std::string out;
    out.reserve(bytes.size());
    for (std::size_t i = 0; i < bytes.size();) {
        const auto c = static_cast<unsigned char>(bytes[i]);
        if (c < 0x80) {
            out += static_cast<char>(c);
            ++i;
        } else if (const std::size_t n = Utf8SequenceLength(bytes.substr(i)); n != 0) {
            out.append(bytes.substr(i, n));
            i += n;
        } else {
            const unsigned mapped = c < 0xA0 ? kCp1252High[c - 0x80] : 0;
            AppendUtf8(out, mapped != 0 ? mapped : c);
            ++i;
        }
    }
    return out;
}

bool Snapshot::Holds(ClientId client) const {
    return std::find(clients.begin(), clients.end(), client) != clients.end();
}

bool Snapshot::Stale(std::chrono::steady_clock::time_point now) const {
    if (!open || Moving()) return false;
    return !lastAnswer || now - *lastAnswer > staleAfter;
}

std::optional<std::string> Snapshot::ReadingProblem(std::chrono::steady_clock::time_point now) const {
    if (Stale(now)) return std::string(kNoAnswerMessage);
    return std::nullopt;
}

std::int32_t Snapshot::FocuserPosition(int motor) const {
    return ClientFocuserPosition(MotorPosition(motor), settings.AscomFocusShift);
}

bool Snapshot::Temperature(double& celsius) const {
    return SelectTemperature(status, sensorCount, settings.AscomPreferredTermometer, celsius);
}

float Snapshot::RotatorPosition() const { return RotatorAngle(status.Focus2Pos, image.MaxSteps, rotatorReverse); }
float Snapshot::RotatorMechanicalPosition() const { return RotatorAngle(status.Focus2Pos, image.MaxSteps, false); }
float Snapshot::RotatorStepSize() const { return velq3::RotatorStepSize(image.MaxSteps); }

CoverStatus Snapshot::Cover() const {
    return CoverState(Moving(), status.Focus2Pos, image.MaxSteps, image.HomeMark != 0, status.Sw);
}

} // namespace velq3
