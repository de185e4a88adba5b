// Settings files: the byte-exact record with its line-feed translation, the load cases, and
// loads that fail leaving everything as it was.
#include <fstream>
#include <functional>
#include <random>

#include "device/DeviceFixture.h"
#include "device/SettingsFile.h"

namespace velq3::test {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes ReadBytesOf(const std::string& p) {
    std::ifstream in(p, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}
void WriteBytesTo(const std::string& p, const Bytes& b) {
    std::ofstream(p, std::ios::binary).write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
}
template <class T>
void Put(Bytes& b, T v) {
    auto* p = reinterpret_cast<const std::uint8_t*>(&v);
    b.insert(b.end(), p, p + sizeof v);
}

class SettingsFileTest : public DeviceTest {
protected:
    void SetUp() override {
        fw = MakeDevice();
        for (int i = 0; i < kMaxMemorySize; ++i) fw->ImageBytes()[i] = static_cast<std::uint8_t>(i);
        MakeValid(fw->Image());
        fw->ComPort = 4;
        fw->AscomFocusShift = 0x0A0A0A0A;  // line feeds inside a setting
        fw->ChangeFilterTimeoutMs = 1234;
        fw->TermometerName = {"Tube", "", "Air", "Mirror"};
    }
    // A record of the given image length followed by the fixed tail.
    // The fields a load checks, set to what the settings dialogs produce.
    static void MakeValid(EEFilterWheelData& image) {
        image.Mode = 7;
        image.WheelSpeed = 400;
        image.FocuserSpeed = 200;
        image.FocuserBacklash = 50;
        image.SensorCount = 2;
    }
    Bytes Record(std::int32_t length, std::size_t imageBytes, std::uint8_t fill) {
        Bytes b;
        Put(b, length);
        EEFilterWheelData image;
        std::memset(image.ImageBytes(), fill, sizeof image);
        MakeValid(image);
        b.insert(b.end(), image.ImageBytes(), image.ImageBytes() + imageBytes);
        FWAdditionalSettings s;
        s.ComPort = 9;
        std::uint8_t packed[kSettingsBlockBytes];
        PackSettings(s, packed);
        b.insert(b.end(), packed, packed + kSettingsBlockBytes);
        Put(b, std::int32_t{777});
        return b;
    }
    std::unique_ptr<OrnFilterWheel> fw;
};

TEST_F(SettingsFileTest, SavedFileIsByteExactWithLineFeedsStoredAsCrLf) {
    const std::string path = dir.file("a.fws2");
    fw->SaveSettingsFile(path);
    Bytes record;
    Put(record, std::int32_t{202});
    record.insert(record.end(), fw->ImageBytes(), fw->ImageBytes() + 202);
    std::uint8_t packed[kSettingsBlockBytes];
    PackSettings(fw->Settings(), packed);
    record.insert(record.end(), packed, packed + kSettingsBlockBytes);
    Put(record, std::int32_t{1234});
    for (const char* n : {"Tube", "", "Air", "Mirror"}) {
        record.insert(record.end(), n, n + std::strlen(n));
        record.push_back(0);
    }
    Bytes stored = ReadBytesOf(path);
    EXPECT_EQ(stored, EncodeTextStream(record));
    EXPECT_EQ(stored.size(), record.size() + 1 + 4);  // image byte 10 and four bytes of the shift
    EXPECT_EQ(DecodeTextStream(stored), record);
}

TEST_F(SettingsFileTest, RoundTripAndUntranslatedFilesLoad) {
    const std::string path = dir.file("a.fws2");
    fw->SaveSettingsFile(path);
    auto other = MakeDevice();
    ASSERT_TRUE(other->LoadSettingsFile(path));
    EXPECT_EQ(other->AscomFocusShift, 0x0A0A0A0A);
    EXPECT_EQ(other->ComPort, 4);
    EXPECT_EQ(other->ChangeFilterTimeoutMs, 1234);
    EXPECT_EQ(other->TermometerName[0], "Tube");
    EXPECT_EQ(other->TermometerName[1], "");
    EXPECT_EQ(other->TermometerName[3], "Mirror");
    EXPECT_EQ(other->ImageBytes()[10], 10);
    EXPECT_EQ(other->HeaterControl, fw->HeaterControl);  // a full image replaces the presets

    // The same record without the translation.
    WriteBytesTo(path, DecodeTextStream(ReadBytesOf(path)));
    auto third = MakeDevice();
    ASSERT_TRUE(third->LoadSettingsFile(path));
    EXPECT_EQ(third->AscomFocusShift, 0x0A0A0A0A);
    EXPECT_EQ(std::memcmp(third->ImageBytes(), fw->ImageBytes(), 202), 0);
}

TEST_F(SettingsFileTest, ShortImageKeepsTheRestAndPresetsCalibration) {
    const std::string path = dir.file("short.fws2");
    Bytes b = Record(144, 144, 0x11);
    WriteBytesTo(path, b);  // ends right after the time-out: the names stay as they were
    ASSERT_TRUE(fw->LoadSettingsFile(path));
    EXPECT_EQ(fw->ImageBytes()[143], 0x11);
    EXPECT_EQ(fw->HeaterControl, 0xFFFF);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(fw->TermSteep[i], 1000);
    EXPECT_EQ(fw->ImageBytes()[148], 148);  // untouched
    EXPECT_EQ(fw->ImageBytes()[201], 201);
    EXPECT_EQ(fw->ComPort, 9);
    EXPECT_EQ(fw->ChangeFilterTimeoutMs, 777);
    EXPECT_EQ(fw->TermometerName, (std::array<std::string, 4>{"Tube", "", "Air", "Mirror"}));
}

TEST_F(SettingsFileTest, NamesMissingAtTheEndKeepTheCurrentOnes) {
    const std::string path = dir.file("names.fws2");
    Bytes b = Record(202, 202, 0x11);
    for (const char* n : {"Out", "Box"}) b.insert(b.end(), n, n + std::strlen(n) + 1);
    WriteBytesTo(path, b);
    ASSERT_TRUE(fw->LoadSettingsFile(path));
    EXPECT_EQ(fw->TermometerName, (std::array<std::string, 4>{"Out", "Box", "Air", "Mirror"}));

    // Cut inside the third name: what was cut off is not a name.
    b.insert(b.end(), {'T', 'o'});
    WriteBytesTo(path, b);
    fw->TermometerName = {"Tube", "", "Air", "Mirror"};
    ASSERT_TRUE(fw->LoadSettingsFile(path));
    EXPECT_EQ(fw->TermometerName, (std::array<std::string, 4>{"Out", "Box", "Air", "Mirror"}));
}

TEST_F(SettingsFileTest, ContentNoDialogCanProduceIsRefusedAndChangesNothing) {
    const std::string path = dir.file("odd.fws2");
    const Bytes good = Record(202, 202, 0x11);
    const std::size_t settingsAt = 4 + 202, timeoutAt = settingsAt + kSettingsBlockBytes;
    const auto refused = [&](const char* what, const std::function<void(Bytes&)>& change) {
        Bytes b = good;
        for (const char* n : {"A", "B", "C", "D"}) b.insert(b.end(), n, n + 2);
        change(b);
        WriteBytesTo(path, b);
        EXPECT_FALSE(fw->LoadSettingsFile(path)) << what;
        EXPECT_EQ(fw->ImageBytes()[5], 5) << what;
        EXPECT_EQ(fw->Mode, 7) << what;
        EXPECT_EQ(fw->ComPort, 4) << what;
        EXPECT_EQ(fw->ChangeFilterTimeoutMs, 1234) << what;
        EXPECT_EQ(fw->TermometerName[0], "Tube") << what;
    };
    const auto put16 = [](Bytes& b, std::size_t at, std::uint16_t v) { PutU16(&b[at], v); };
    const auto put32 = [](Bytes& b, std::size_t at, std::int32_t v) { std::memcpy(&b[at], &v, 4); };
    refused("length 1", [&](Bytes& b) { put32(b, 0, 1); });
    refused("length 500", [&](Bytes& b) { put32(b, 0, 500); });
    refused("length 203", [&](Bytes& b) { put32(b, 0, 203); });
    refused("mode 0x22", [](Bytes& b) { b[4 + 1] = 0x22; });
    refused("mode -3", [](Bytes& b) { b[4 + 1] = 0xFD; });
    refused("wheel speed", [&](Bytes& b) { put16(b, 4 + 2, 1001); });
    refused("focuser speed", [&](Bytes& b) { put16(b, 4 + 8, 0xFFFF); });
    refused("backlash", [&](Bytes& b) { put16(b, 4 + 12, 1001); });
    refused("sensor count", [](Bytes& b) { b[4 + 15] = 5; });
    refused("port", [&](Bytes& b) { put32(b, settingsAt, 17); });
    refused("negative port", [&](Bytes& b) { put32(b, settingsAt, -1); });
    refused("step length", [&](Bytes& b) { std::memset(&b[settingsAt + 4], 0xFF, 8); });  // not a number
    refused("preferred sensor", [&](Bytes& b) { put32(b, settingsAt + 12, 4); });
    refused("show on connect", [&](Bytes& b) { put32(b, settingsAt + 24, 2); });
    refused("on top", [&](Bytes& b) { put32(b, settingsAt + 28, -1); });
    refused("time-out 0", [&](Bytes& b) { put32(b, timeoutAt, 0); });
    refused("time-out", [&](Bytes& b) { put32(b, timeoutAt, 0x7fffffff); });
    refused("control byte in a name", [&](Bytes& b) { b[timeoutAt + 4] = 0x07; });
    refused("bytes after the last name", [](Bytes& b) { b.push_back('x'); });
    refused("a name too long", [&](Bytes& b) { b.insert(b.begin() + static_cast<std::ptrdiff_t>(timeoutAt + 4), 1024, 'n'); });
    refused("cut inside the settings", [&](Bytes& b) { b.resize(settingsAt + 10); });

    // Random bytes of every length from the smallest record on.
    std::mt19937 random(42);
    for (std::size_t n = 242; n < 600; n += 7) {
        Bytes b(n);
        for (auto& x : b) x = static_cast<std::uint8_t>(random());
        WriteBytesTo(path, b);
        EXPECT_FALSE(fw->LoadSettingsFile(path)) << n;
    }
    EXPECT_EQ(fw->ImageBytes()[5], 5);
    EXPECT_EQ(fw->ComPort, 4);
}

TEST_F(SettingsFileTest, FailedLoadsChangeNothing) {
    auto expectUnchanged = [&] {
        EXPECT_EQ(fw->ImageBytes()[5], 5);
        EXPECT_EQ(fw->ImageBytes()[144], 144);
        EXPECT_EQ(fw->ComPort, 4);
        EXPECT_EQ(fw->ChangeFilterTimeoutMs, 1234);
        EXPECT_EQ(fw->TermometerName[0], "Tube");
    };
    EXPECT_FALSE(fw->LoadSettingsFile(dir.file("missing.fws2")));
    expectUnchanged();

    const std::string path = dir.file("bad.fws2");
    WriteBytesTo(path, Record(0, 0, 0));  // length 0
    EXPECT_FALSE(fw->LoadSettingsFile(path));
    expectUnchanged();

    Bytes cut = Record(202, 202, 0x33);
    cut.resize(4 + 202 + 32 + 2);  // ends inside the time-out
    WriteBytesTo(path, cut);
    EXPECT_FALSE(fw->LoadSettingsFile(path));
    expectUnchanged();

    cut.resize(4 + 100);  // ends inside the image
    WriteBytesTo(path, cut);
    EXPECT_FALSE(fw->LoadSettingsFile(path));
    expectUnchanged();
}

TEST_F(SettingsFileTest, LoadWhileConnectedWritesTheImageAndReadsItBack) {
    StartSim();
    auto dev = MakeDevice();
    dev->ComPort = 3;
    ASSERT_TRUE(dev->OpenLink());
    const std::string path = dir.file("conn.fws2");
    dev->FocuserBacklash = 321;
    std::memcpy(dev->FilterNames[0], "Lum", 4);
    dev->SaveSettingsFile(path);
    dev->FocuserBacklash = 5;
    ASSERT_TRUE(dev->LoadSettingsFile(path));
    EXPECT_EQ(dev->FocuserBacklash, 321);
    EXPECT_EQ(dev->Filters.at(0).Name, "Lum");  // the handshake rebuilt the list from the device
    EXPECT_TRUE(dev->IsOpen());

    // A file that fails its checks writes nothing into the controller.
    std::uint8_t before[kMaxMemorySize], after[kMaxMemorySize];
    ASSERT_TRUE(dev->ReadMemory(0, kMaxMemorySize, before));
    std::mt19937 random(7);
    Bytes noise(300);
    for (auto& x : noise) x = static_cast<std::uint8_t>(random());
    PutU16(noise.data(), 202);
    noise[2] = noise[3] = 0;
    WriteBytesTo(path, noise);
    EXPECT_FALSE(dev->LoadSettingsFile(path));
    ASSERT_TRUE(dev->ReadMemory(0, kMaxMemorySize, after));
    EXPECT_EQ(std::memcmp(before, after, kMaxMemorySize), 0);
    EXPECT_EQ(dev->FocuserBacklash, 321);
}

} // namespace
} // namespace velq3::test
