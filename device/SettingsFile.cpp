// Saving and loading settings files. A load reads the whole record into working copies, checks
// it, and changes the device object only once all of it passed.
#include "device/SettingsFile.h"

#include <cmath>
#include <cstring>
#include <fstream>

#include "device/OrnFilterWheel.h"
#include "platform/PortMap.h"

namespace velq3 {
namespace {

constexpr std::int32_t kWrittenImageLength = kMaxMemorySize;
constexpr std::size_t kMaxNameLength = 1023;
// The longest meaningful record is a few kilobytes; a longer file is not a settings file.
constexpr std::size_t kMaxStoredBytes = 64 * 1024;

template <class T>
void Append(std::vector<std::uint8_t>& out, const T& value) {
    const auto* p = reinterpret_cast<const std::uint8_t*>(&value);
    out.insert(out.end(), p, p + sizeof(T));
}

// Sequential reads from the decoded record.
class RecordReader {
public:
    explicit RecordReader(std::vector<std::uint8_t> bytes) : m_Bytes(std::move(bytes)) {}
    bool Read(void* out, std::size_t n) {
        if (m_Bytes.size() - m_Pos < n) return false;
        std::memcpy(out, m_Bytes.data() + m_Pos, n);
        m_Pos += n;
        return true;
    }
    enum class NameResult {
        Complete,  // the characters up to a zero byte (consumed)
        Missing,   // the record ended before the name's zero byte: no name
        Invalid,   // longer than `max` characters
    };
    NameResult ReadName(std::size_t max, std::string& name) {
        name.clear();
        while (m_Pos < m_Bytes.size()) {
            const char c = static_cast<char>(m_Bytes[m_Pos++]);
            if (c == '\0') return NameResult::Complete;
            if (name.size() == max) return NameResult::Invalid;
            name += c;
        }
        return NameResult::Missing;
    }
    bool AtEnd() const { return m_Pos == m_Bytes.size(); }

private:
    std::vector<std::uint8_t> m_Bytes;
    std::size_t m_Pos = 0;
};

// Image lengths a settings file can carry: the full image this program writes, and the
// shorter image of controllers that report no memory size.
bool KnownImageLength(std::int32_t length) { return length == kMaxMemorySize || length == kDefaultMemorySize; }

// The image fields a load checks, in the ranges the settings dialogs give them (0 stands for
// a speed that was never set).
bool ImageInRange(const EEFilterWheelData& image) {
    return image.Mode >= -2 && image.Mode <= 20 &&  // cover, rotator, second focuser, 1..10 filters, virtual 1..10
           image.WheelSpeed <= 1000 && image.FocuserSpeed <= 1000 && image.FocuserBacklash <= 1000 &&
           image.SensorCount <= kSensorCount;
}

bool SettingsInRange(const FWAdditionalSettings& s) {
    const auto flag = [](std::int32_t v) { return v == 0 || v == 1; };
    return s.ComPort >= 0 && s.ComPort <= kLastPortNumber && std::isfinite(s.StepLenInMicrons) &&
           s.AscomPreferredTermometer >= -1 && s.AscomPreferredTermometer < kSensorCount &&
           flag(s.ShowWindowOnConnect) && flag(s.OnTop);
}

// A thermometer name as the main window's fields hold it: text without control characters.
bool NameInRange(const std::string& name) {
    for (unsigned char c : name)
        if (c < 0x20 || c == 0x7F) return false;
    return true;
}


} // namespace

std::vector<std::uint8_t> EncodeTextStream(const std::vector<std::uint8_t>& record) {
    std::vector<std::uint8_t> out;
    out.reserve(record.size() + 16);
    for (std::uint8_t b : record) {
        if (b == 0x0A) out.push_back(0x0D);
        out.push_back(b);
    }
    return out;
}

std::vector<std::uint8_t> DecodeTextStream(const std::vector<std::uint8_t>& stored) {
    std::vector<std::uint8_t> out;
    out.reserve(stored.size());
    for (std::size_t i = 0; i < stored.size(); ++i) {
        if (stored[i] == 0x0D && i + 1 < stored.size() && stored[i + 1] == 0x0A) continue;
        out.push_back(stored[i]);
    }
    return out;
}

void OrnFilterWheel::SaveSettingsFile(const std::string& path) {
    std::vector<std::uint8_t> record;
    Append(record, kWrittenImageLength);
    record.insert(record.end(), ImageBytes(), ImageBytes() + kMaxMemorySize);
    std::uint8_t packed[kSettingsBlockBytes];
    PackSettings(Settings(), packed);
    record.insert(record.end(), packed, packed + kSettingsBlockBytes);
    Append(record, ChangeFilterTimeoutMs);
    for (const std::string& name : TermometerName) {
        record.insert(record.end(), name.begin(), name.end());
        record.push_back(0);
    }
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out) return;
    const std::vector<std::uint8_t> stored = EncodeTextStream(record);
    out.write(reinterpret_cast<const char*>(stored.data()), static_cast<std::streamsize>(stored.size()));
}

bool OrnFilterWheel::LoadSettingsFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    // One byte more than any record can take, to tell a file that is too long.
    std::vector<std::uint8_t> stored(kMaxStoredBytes + 1);
    in.read(reinterpret_cast<char*>(stored.data()), static_cast<std::streamsize>(stored.size()));
    stored.resize(static_cast<std::size_t>(in.gcount()));
    if (stored.size() > kMaxStoredBytes) return false;
    RecordReader reader(DecodeTextStream(stored));

    EEFilterWheelData image = Image();
    image.HeaterControl = 0xFFFF;
    for (int i = 0; i < kSensorCount; ++i) image.TermSteep[i] = 1000;

    // Everything is read and checked before anything changes: a file no dialog could have
    // produced (another file, a damaged or cut one) must never reach the controller.
    std::int32_t length = 0;
    if (!reader.Read(&length, sizeof length) || !KnownImageLength(length)) return false;
    if (!reader.Read(image.ImageBytes(), static_cast<std::size_t>(length))) return false;
    std::uint8_t packed[kSettingsBlockBytes];
    if (!reader.Read(packed, sizeof packed)) return false;
    const FWAdditionalSettings settings = UnpackSettings(packed);
    std::int32_t timeout = 0;
    if (!reader.Read(&timeout, sizeof timeout)) return false;
    if (!ImageInRange(image) || !SettingsInRange(settings) || timeout <= 0 || timeout > kMaxMoveTimeoutMs)
        return false;
    // Names missing at the end (a file cut short, or one of an older form) keep the current ones.
    std::array<std::string, 4> names = TermometerName;
    for (auto& name : names) {
        std::string read;
        using Name = RecordReader::NameResult;
        const Name result = reader.ReadName(kMaxNameLength, read);
        if (result == Name::Invalid || (result == Name::Complete && !NameInRange(read))) return false;
        if (result == Name::Missing) break;
        name = std::move(read);
    }
    if (!reader.AtEnd()) return false;

    Image() = image;
    Settings() = settings;
    ChangeFilterTimeoutMs = timeout;
    TermometerName = names;
    WriteMemoryImage(false);
    // Reading the device back needs a connection; without one the loaded copy stays as it is.
    if (IsOpen()) Handshake();
    return true;
}

} // namespace velq3
