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
        fw->ComPort = 4;
        fw->AscomFocusShift = 0x0A0A0A0A;  // line feeds inside a setting
        fw->ChangeFilterTimeoutMs = 1234;
        fw->TermometerName = {"Tube", "", "Air", "Mirror"};
    }
    // A record of the given length field and image bytes followed by the settings block and
    // the filter time-out, without names.
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
    static void AddNames(Bytes& b, std::initializer_list<const char*> names) {
        for (const char* n : names) b.insert(b.end(), n, n + std::strlen(n) + 1);
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
    WriteBytesTo(path, b);  // ends right after the time-out: all four names empty
    ASSERT_TRUE(fw->LoadSettingsFile(path));
    EXPECT_EQ(fw->ImageBytes()[143], 0x11);
    EXPECT_EQ(fw->HeaterControl, 0xFFFF);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(fw->TermSteep[i], 1000);
    EXPECT_EQ(fw->ImageBytes()[148], 148);  // untouched
    EXPECT_EQ(fw->ImageBytes()[201], 201);
    EXPECT_EQ(fw->ComPort, 9);
    EXPECT_EQ(fw->ChangeFilterTimeoutMs, 777);
    EXPECT_EQ(fw->TermometerName, (std::array<std::string, 4>{"", "", "", ""}));
}

// Values the windows, the registry or the controller itself can hold, whether or not a dialog
// would type them: a file written with them loads them back.
TEST_F(SettingsFileTest, EveryValueAFileWasWrittenWithLoadsBack) {
    struct Case {
        const char* what;
        std::function<void(OrnFilterWheel&)> set;
        std::function<bool(const OrnFilterWheel&)> loaded;
    };
    const std::vector<Case> cases = {
        {"wheel speed 4464", [](auto& d) { d.WheelSpeed = 4464; }, [](auto& d) { return d.WheelSpeed == 4464; }},
        {"focuser speed 4464", [](auto& d) { d.FocuserSpeed = 4464; }, [](auto& d) { return d.FocuserSpeed == 4464; }},
        {"backlash 2000", [](auto& d) { d.FocuserBacklash = 2000; }, [](auto& d) { return d.FocuserBacklash == 2000; }},
        {"mode 25", [](auto& d) { d.Mode = 25; }, [](auto& d) { return d.Mode == 25; }},
        {"mode -5", [](auto& d) { d.Mode = -5; }, [](auto& d) { return d.Mode == -5; }},
        {"six sensors", [](auto& d) { d.SensorCount = 6; }, [](auto& d) { return d.SensorCount == 6; }},
        {"port -1 (scan)", [](auto& d) { d.ComPort = -1; }, [](auto& d) { return d.ComPort == -1; }},
        {"port 0 (scan)", [](auto& d) { d.ComPort = 0; }, [](auto& d) { return d.ComPort == 0; }},
        {"port 40", [](auto& d) { d.ComPort = 40; }, [](auto& d) { return d.ComPort == 40; }},
        {"preferred sensor 5", [](auto& d) { d.AscomPreferredTermometer = 5; },
         [](auto& d) { return d.AscomPreferredTermometer == 5; }},
        {"show on connect 2", [](auto& d) { d.ShowWindowOnConnect = 2; }, [](auto& d) { return d.ShowWindowOnConnect == 2; }},
        {"on top -1", [](auto& d) { d.OnTop = -1; }, [](auto& d) { return d.OnTop == -1; }},
        {"time-out 0", [](auto& d) { d.ChangeFilterTimeoutMs = 0; }, [](auto& d) { return d.ChangeFilterTimeoutMs == 0; }},
        {"time-out -20", [](auto& d) { d.ChangeFilterTimeoutMs = -20; },
         [](auto& d) { return d.ChangeFilterTimeoutMs == -20; }},
        {"time-out 2^31-1", [](auto& d) { d.ChangeFilterTimeoutMs = 0x7fffffff; },
         [](auto& d) { return d.ChangeFilterTimeoutMs == 0x7fffffff; }},
        {"a name of 1022 bytes", [](auto& d) { d.TermometerName[2] = std::string(1022, 'n'); },
         [](auto& d) { return d.TermometerName[2] == std::string(1022, 'n') && d.TermometerName[3] == "Mirror"; }},
        {"names of 8-bit text", [](auto& d) { d.TermometerName[0] = "Au\xdf" "en \xb0"; },
         [](auto& d) { return d.TermometerName[0] == "Au\xdf" "en \xb0"; }},
    };
    const std::string path = dir.file("values.fws2");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        auto saver = MakeDevice();
        saver->TermometerName = {"Tube", "", "Air", "Mirror"};
        c.set(*saver);
        saver->SaveSettingsFile(path);
        auto loader = MakeDevice();
        ASSERT_TRUE(loader->LoadSettingsFile(path));
        EXPECT_TRUE(c.loaded(*loader));
        EXPECT_EQ(std::memcmp(loader->ImageBytes(), saver->ImageBytes(), kMaxMemorySize), 0);
    }
}

// A length field of 202 or more reads 202 image bytes, and the settings block right after them.
TEST_F(SettingsFileTest, LongLengthFieldsReadTheWholeImage) {
    const std::string path = dir.file("long.fws2");
    for (std::int32_t length : {203, 500, 0x7fffffff}) {
        SCOPED_TRACE(length);
        Bytes b = Record(length, 202, 0x22);
        AddNames(b, {"A", "B", "C", "D"});
        WriteBytesTo(path, b);
        auto loader = MakeDevice();
        ASSERT_TRUE(loader->LoadSettingsFile(path));
        EXPECT_EQ(loader->ImageBytes()[0], 0x22);
        EXPECT_EQ(loader->ImageBytes()[201], 0x22);
        EXPECT_EQ(loader->ComPort, 9);
        EXPECT_EQ(loader->ChangeFilterTimeoutMs, 777);
        EXPECT_EQ(loader->TermometerName, (std::array<std::string, 4>{"A", "B", "C", "D"}));
    }
}

// Names are read up to a zero byte, the end of the record or 1023 characters: those the
// record ends before are empty, and whatever follows the fourth is not read.
TEST_F(SettingsFileTest, NamesAreReadUpToTheirZeroTheEndOr1023Characters) {
    const std::string path = dir.file("names.fws2");
    using Names = std::array<std::string, 4>;
    const Bytes fixed = Record(202, 202, 0x11);
    struct Case {
        const char* what;
        Bytes names;
        Names expected;
    };
    const auto text = [](std::string_view t) { return Bytes(t.begin(), t.end()); };
    const std::vector<Case> cases = {
        {"two names", text(std::string_view("Out\0Box\0", 8)), {"Out", "Box", "", ""}},
        {"cut inside the third", text(std::string_view("Out\0Box\0To", 10)), {"Out", "Box", "To", ""}},
        {"bytes after the fourth", text(std::string_view("A\0B\0C\0D\0\x01\x02junk\n", 15)), {"A", "B", "C", "D"}},
        {"a name over 1023 characters", text(std::string(1030, 'x') + std::string("\0y", 2)),
         {std::string(1023, 'x'), "xxxxxxx", "y", ""}},
        // As saved: the zero after a name of exactly 1023 characters ends it.
        {"a name of exactly 1023 characters", text(std::string(1023, 'x') + std::string("\0y\0z", 4)),
         {std::string(1023, 'x'), "y", "z", ""}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Bytes b = fixed;
        b.insert(b.end(), c.names.begin(), c.names.end());
        WriteBytesTo(path, EncodeTextStream(b));
        fw->TermometerName = {"Tube", "", "Air", "Mirror"};
        ASSERT_TRUE(fw->LoadSettingsFile(path));
        EXPECT_EQ(fw->TermometerName, c.expected);
    }

    // Bytes after the names up to the size limit are ignored; one more is too many.
    Bytes b = fixed;
    AddNames(b, {"A", "B", "C", "D"});
    b.resize(64 * 1024, 'z');
    WriteBytesTo(path, b);
    ASSERT_TRUE(fw->LoadSettingsFile(path));
    EXPECT_EQ(fw->TermometerName, (Names{"A", "B", "C", "D"}));
    b.push_back('z');
    WriteBytesTo(path, b);
    fw->TermometerName = {"Tube", "", "Air", "Mirror"};
    EXPECT_FALSE(fw->LoadSettingsFile(path));
    EXPECT_EQ(fw->TermometerName[0], "Tube");
}

TEST_F(SettingsFileTest, WhatCannotBeASettingsRecordIsRefusedAndChangesNothing) {
    const std::string path = dir.file("odd.fws2");
    const Bytes good = Record(202, 202, 0x11);
    const std::size_t settingsAt = 4 + 202, timeoutAt = settingsAt + kSettingsBlockBytes, namesAt = timeoutAt + 4;
    const auto refused = [&](const char* what, const std::function<void(Bytes&)>& change) {
        Bytes b = good;
        AddNames(b, {"A", "B", "C", "D"});
        change(b);
        WriteBytesTo(path, b);
        EXPECT_FALSE(fw->LoadSettingsFile(path)) << what;
        EXPECT_EQ(fw->ImageBytes()[5], 5) << what;
        EXPECT_EQ(fw->ComPort, 4) << what;
        EXPECT_EQ(fw->ChangeFilterTimeoutMs, 1234) << what;
        EXPECT_EQ(fw->TermometerName[0], "Tube") << what;
    };
    // The unchanged record loads: each refusal below is its one change.
    {
        Bytes b = good;
        AddNames(b, {"A", "B", "C", "D"});
        WriteBytesTo(path, b);
        auto other = MakeDevice();
        ASSERT_TRUE(other->LoadSettingsFile(path));
    }
    const auto put32 = [](Bytes& b, std::size_t at, std::int32_t v) { std::memcpy(&b[at], &v, 4); };
    refused("length 0", [&](Bytes& b) { put32(b, 0, 0); });
    refused("length -1", [&](Bytes& b) { put32(b, 0, -1); });
    refused("length -2^31", [&](Bytes& b) { put32(b, 0, INT32_MIN); });
    refused("cut inside the length", [](Bytes& b) { b.resize(3); });
    refused("cut inside the image", [](Bytes& b) { b.resize(4 + 150); });
    refused("cut inside the settings", [&](Bytes& b) { b.resize(settingsAt + 10); });
    refused("cut inside the time-out", [&](Bytes& b) { b.resize(timeoutAt + 3); });
    refused("0x01 in a name", [&](Bytes& b) { b[namesAt] = 0x01; });
    refused("0x1F in a name", [&](Bytes& b) { b[namesAt + 2] = 0x1F; });
    refused("0x7F in the last name", [&](Bytes& b) { b[namesAt + 6] = 0x7F; });
    refused("a line feed in a name", [&](Bytes& b) { b.insert(b.begin() + static_cast<std::ptrdiff_t>(namesAt), '\n'); });
    refused("a control byte in a name cut by the end", [](Bytes& b) { b.back() = 0x02; });

    // Random bytes: a control byte in the names, if nothing before, gives them away.
    std::mt19937 random(42);
    for (std::size_t n = 300; n < 600; n += 7) {
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

TEST_F(SettingsFileTest, LoadWhileDisconnectedChangesOnlyTheCopy) {
    StartSim();
    const std::string path = dir.file("offline.fws2");
    fw->FocuserBacklash = 1234;
    fw->SaveSettingsFile(path);
    auto dev = MakeDevice();
    ASSERT_TRUE(dev->LoadSettingsFile(path));
    EXPECT_FALSE(dev->IsOpen());
    EXPECT_EQ(dev->FocuserBacklash, 1234);
    EXPECT_EQ(dev->ComPort, 4);
    // The next connection reads the controller's own image, which the load never reached.
    dev->ComPort = 3;
    ASSERT_TRUE(dev->OpenLink());
    std::uint8_t inDevice[16];
    ASSERT_TRUE(dev->ReadMemory(0, sizeof inDevice, inDevice));
    EXPECT_NE(GetU16(inDevice + 12), 1234);
    EXPECT_EQ(dev->FocuserBacklash, GetU16(inDevice + 12));
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
