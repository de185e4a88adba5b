// The operator settings in the registry: defaults, a full round trip through the hive file,
// missing values, and the temperature-log timer that construction installs.
#include <cstring>
#include <fstream>

#include "device/DeviceFixture.h"

namespace velq3::test {
namespace {

using RegistrySettingsTest = DeviceTest;

TEST_F(RegistrySettingsTest, DefaultsWithoutStoredSettings) {
    auto fw = MakeDevice();
    EXPECT_EQ(fw->ComPort, 0);
    EXPECT_EQ(fw->ChangeFilterTimeoutMs, 1000);
    EXPECT_EQ(fw->StepLenInMicrons, 10.0);
    EXPECT_EQ(fw->AscomPreferredTermometer, -1);
    EXPECT_EQ(fw->AscomFocusShift, 10000);
    EXPECT_EQ(fw->AscomMaxFocusPos, 30000);
    EXPECT_EQ(fw->MinMotorStep, 1);
    EXPECT_EQ(fw->FocusPos, kPositionNotRead);
    EXPECT_EQ(fw->Focus2Pos, kPositionNotRead);
    EXPECT_EQ(fw->CurrentFilter, -1);
    EXPECT_EQ(fw->m_MicrostepTableLen, -1);
    EXPECT_FALSE(fw->IsOpen());
}

TEST_F(RegistrySettingsTest, EveryValueRoundTripsThroughTheFile) {
    {
        auto fw = MakeDevice();
        fw->ComPort = 7;
        fw->ChangeFilterTimeoutMs = 1500;
        fw->StepLenInMicrons = 3.14159;
        fw->AscomPreferredTermometer = 2;
        fw->AscomFocusShift = -250;
        fw->AscomMaxFocusPos = 65000;
        fw->MinMotorStep = 25;
        fw->ShowWindowOnConnect = 1;
        fw->OnTop = 1;
        fw->LogFile = "/var/log/velq3 \"cmd\".log";
        fw->TermLogPath = "/home/obs/Temperatur";
        fw->TermometerName = {"Mirror", "Air", "Tube", "Öl"};
    }  // saved at destruction
    auto raw = hive.Query(kSettingsKey, "StepLenInMicrons");
    ASSERT_TRUE(raw);
    EXPECT_EQ(raw->type, RegType::Binary);
    ASSERT_EQ(raw->data.size(), 8u);
    double d = 0;
    std::memcpy(&d, raw->data.data(), 8);
    EXPECT_EQ(d, 3.14159);

    RegistryHive reloaded(dir.file("user.reg"), kCurrentUserRoot);
    ASSERT_EQ(reloaded.Load(), RegistryHive::LoadResult::Loaded);
    DeviceEnvironment env;
    env.userHive = &reloaded;
    OrnFilterWheel fw(env);
    EXPECT_EQ(fw.ComPort, 7);
    EXPECT_EQ(fw.ChangeFilterTimeoutMs, 1500);
    EXPECT_EQ(fw.StepLenInMicrons, 3.14159);
    EXPECT_EQ(fw.AscomPreferredTermometer, 2);
    EXPECT_EQ(fw.AscomFocusShift, -250);
    EXPECT_EQ(fw.AscomMaxFocusPos, 65000);
    EXPECT_EQ(fw.MinMotorStep, 25);
    EXPECT_EQ(fw.ShowWindowOnConnect, 1);
    EXPECT_EQ(fw.OnTop, 1);
    EXPECT_EQ(fw.LogFile, "/var/log/velq3 \"cmd\".log");
    EXPECT_EQ(fw.TermLogPath, "/home/obs/Temperatur");
    EXPECT_EQ(fw.TermometerName[3], "Öl");
}

TEST_F(RegistrySettingsTest, MissingValuesKeepDefaultsAndTypesAreNotChecked) {
    hive.SetDword(kSettingsKey, "AscomFocusShift", 123);
    hive.SetString(kSettingsKey, "OnTop", "1");  // wrong type: its first bytes are taken
    auto fw = MakeDevice();
    EXPECT_EQ(fw->AscomFocusShift, 123);
    EXPECT_EQ(fw->OnTop, '1');
    EXPECT_EQ(fw->AscomMaxFocusPos, 30000);
    EXPECT_EQ(fw->StepLenInMicrons, 10.0);
}

TEST_F(RegistrySettingsTest, TemperatureLogTimerLivesWithTheDevice) {
    EXPECT_EQ(loop.TimerCount(), 0u);
    {
        auto fw = MakeDevice();
        EXPECT_NE(fw->m_TimerId, kNoTimer);
        EXPECT_EQ(loop.TimerCount(), 1u);
        loop.AdvanceBy(std::chrono::milliseconds(15000));
    }
    EXPECT_EQ(loop.TimerCount(), 0u);
}

TEST_F(RegistrySettingsTest, SerialDeviceOverrideMapsPortNumbers) {
    hive.SetString(kSettingsKey, "SerialDevice4", "/dev/serial/by-id/wheel");
    DeviceEnvironment env;
    env.userHive = &hive;
    OrnFilterWheel fw(env);
    EXPECT_EQ(fw.PortPath(4), "/dev/serial/by-id/wheel");
    EXPECT_EQ(fw.PortPath(1), "/dev/ttyUSB0");
    EXPECT_EQ(fw.PortPath(16), "/dev/ttyS3");
}

} // namespace
} // namespace velq3::test
