// Settings files: the byte-exact record with its line-feed translation, the load cases, and
// loads that fail leaving everything as it was.
#include <fstream>

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
        fw->ComPort = 4;
        fw->AscomFocusShift = 0x0A0A0A0A;  // line feeds inside a setting
        fw->ChangeFilterTimeoutMs = 1234;
        fw->TermometerName = {"Tube", "", "Air", "Mirror"};
    }
    // A record of the given image length followed by the fixed tail.
    Bytes Record(std::int32_t length, std::size_t imageBytes, std::uint8_t fill) {
        Bytes b;
        Put(b, length);
        b.insert(b.end(), imageBytes, fill);
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
    WriteBytesTo(path, b);  // ends right after the time-out: the names become empty
    ASSERT_TRUE(fw->LoadSettingsFile(path));
    EXPECT_EQ(fw->ImageBytes()[143], 0x11);
    EXPECT_EQ(fw->HeaterControl, 0xFFFF);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(fw->TermSteep[i], 1000);
    EXPECT_EQ(fw->ImageBytes()[148], 148);  // untouched
    EXPECT_EQ(fw->ImageBytes()[201], 201);
    EXPECT_EQ(fw->ComPort, 9);
    EXPECT_EQ(fw->ChangeFilterTimeoutMs, 777);
    EXPECT_EQ(fw->TermometerName[0], "");
    EXPECT_EQ(fw->TermometerName[3], "");
}

TEST_F(SettingsFileTest, OversizedLengthReadsTheSettingsRightAfter202Bytes) {
    const std::string path = dir.file("long.fws2");
    WriteBytesTo(path, Record(500, 202, 0x22));
    ASSERT_TRUE(fw->LoadSettingsFile(path));
    EXPECT_EQ(fw->ImageBytes()[201], 0x22);
    EXPECT_EQ(fw->ComPort, 9);
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
}

} // namespace
} // namespace velq3::test
