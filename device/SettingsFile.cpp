// Saving and loading settings files. A load reads the whole record into working copies and
// changes the device object only once all of it was read.
#include "device/SettingsFile.h"

#include <algorithm>
#include <cstring>
#include <fstream>

#include "device/OrnFilterWheel.h"

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
    // Characters up to a zero byte (consumed), the end, or `max` characters. The zero that ends
    // a name of exactly `max` characters is consumed too: a saved name of that length would
    // otherwise read back as that name and an empty one, and the names after it would be lost.
    std::string ReadName(std::size_t max) {
        std::string s;
        while (m_Pos < m_Bytes.size() && s.size() < max) {
            const char c = static_cast<char>(m_Bytes[m_Pos++]);
            if (c == '\0') return s;
            s += c;
        }
        if (m_Pos < m_Bytes.size() && m_Bytes[m_Pos] == 0) ++m_Pos;
        return s;
    }

private:
    std::vector<std::uint8_t> m_Bytes;
    std::size_t m_Pos = 0;
};

// The main window's name fields never hold control characters: a record whose names do is
// some other file, and none of it may be written into the controller.
bool NameHasControlCharacters(const std::string& name) {
    return std::any_of(name.begin(), name.end(), [](char c) {
        const auto b = static_cast<unsigned char>(c);
        return b < 0x20 || b == 0x7F;
    });
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

    // A length of 202 or more reads the whole image; what follows is read from right after
    // those 202 bytes, whatever the length said.
    std::int32_t length = 0;
    if (!reader.Read(&length, sizeof length) || length <= 0) return false;
    const auto imageLength = static_cast<std::size_t>(std::min(length, kWrittenImageLength));
    if (!reader.Read(image.ImageBytes(), imageLength)) return false;
    std::uint8_t packed[kSettingsBlockBytes];
    if (!reader.Read(packed, sizeof packed)) return false;
    const FWAdditionalSettings settings = UnpackSettings(packed);
    std::int32_t timeout = 0;
    if (!reader.Read(&timeout, sizeof timeout)) return false;
    // Names the record ends before are empty; bytes after the fourth name are not read.
    std::array<std::string, 4> names;
    for (auto& name : names) {
        name = reader.ReadName(kMaxNameLength);
        if (NameHasControlCharacters(name)) return false;
    }

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
