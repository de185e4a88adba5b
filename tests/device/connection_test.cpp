// Connecting to a simulated controller: the scan, a fixed port, the handshake, closing, the
// command log file and several holders sharing the link.
#include <fstream>

#include "device/ConnectionSequence.h"
#include "device/DeviceFixture.h"

namespace velq3::test {
namespace {

std::string ReadFile(const std::string& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

using ConnectionTest = DeviceTest;

TEST_F(ConnectionTest, ScanWithoutDeviceTriesEveryPortOnce) {
    auto fw = MakeDevice();
    EXPECT_FALSE(fw->OpenLink());
    EXPECT_EQ(triedPorts, std::vector<int>({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16}));
    EXPECT_FALSE(fw->IsOpen());
}

TEST_F(ConnectionTest, FixedPortIsTheOnlyOneTried) {
    StartSim({}, 3);
    auto fw = MakeDevice();
    fw->ComPort = 5;
    EXPECT_FALSE(fw->OpenLink());
    EXPECT_EQ(triedPorts, std::vector<int>({5}));
    fw->ComPort = 3;
    EXPECT_TRUE(fw->OpenLink());
}

TEST_F(ConnectionTest, ScanFindsTheDeviceAndHandshakeReadsIt) {
    StartSim({}, 3);
    auto fw = MakeDevice();
    ASSERT_TRUE(fw->OpenLink());
    EXPECT_EQ(triedPorts, std::vector<int>({1, 2, 3}));
    EXPECT_TRUE(fw->m_bWheelPresent);
    EXPECT_TRUE(fw->m_bFocuserPresent);
    EXPECT_TRUE(fw->m_bStatusPresent);
    EXPECT_EQ(fw->m_MemorySize, 202);
    EXPECT_GT(fw->Mode, 0);
    EXPECT_EQ(fw->FilterCount(), FilterCountFromMode(fw->Mode));
    EXPECT_FALSE(fw->Filters.at(0).Name.empty());
    EXPECT_GE(fw->CurrentFilter, 0);
    EXPECT_GT(fw->m_MicrostepTableLen, 0);
    EXPECT_NE(fw->FocusPos, kPositionNotRead);

    // A connect while open sends nothing and succeeds.
    EXPECT_TRUE(fw->OpenPort(9));
    EXPECT_EQ(triedPorts.size(), 3u);

    fw->CloseLink();
    EXPECT_FALSE(fw->IsOpen());
    EXPECT_FALSE(fw->m_bWheelPresent || fw->m_bFocuserPresent);
    EXPECT_FALSE(fw->Filters.empty());  // the list survives the close
}

TEST_F(ConnectionTest, LogFileHoldsOnlyTheLatestConnection) {
    StartSim({}, 3);
    auto fw = MakeDevice();
    fw->ComPort = 3;
    fw->LogFile = dir.file("cmd.log");
    ASSERT_TRUE(fw->ConnectMulti(1));
    fw->Log("first session\n");
    ASSERT_TRUE(fw->DisconnectMulti(1));
    fw->Log("between sessions\n");
    ASSERT_TRUE(fw->ConnectMulti(1));
    fw->Log("second session\n");
    fw->CloseLink();
    std::string text = ReadFile(fw->LogFile);
    EXPECT_EQ(text.find("first session"), std::string::npos);
    EXPECT_EQ(text.find("between"), std::string::npos);
    EXPECT_NE(text.find(" : second session\n"), std::string::npos);
    EXPECT_EQ(text.find(" : "), text.find_first_of(':') - 1);  // "%.3f : " prefix
}

TEST_F(ConnectionTest, NoLogFileWithoutAPath) {
    StartSim({}, 3);
    auto fw = MakeDevice();
    fw->ComPort = 3;
    ASSERT_TRUE(fw->ConnectMulti(1));
    fw->Log("line\n");
    EXPECT_FALSE(fw->IsFileOpen());
    EXPECT_EQ(CountLines("line\n"), 1);  // still on the debug output
}

TEST_F(ConnectionTest, TwoHoldersShareOnePort) {
    StartSim({}, 3);
    auto fw = MakeDevice();
    fw->ComPort = 3;
    EXPECT_TRUE(fw->ConnectMulti(0xA1));
    EXPECT_TRUE(fw->ConnectMulti(0xA1));  // the same holder twice is one holder
    EXPECT_EQ(fw->ClientSet.size(), 1u);
    EXPECT_TRUE(fw->ConnectMulti(0xB2));
    EXPECT_EQ(CountLines("ConnectMulti(0xa1) = connect\r\n"), 1);
    EXPECT_EQ(CountLines("ConnectMulti(0xb2) = skip\r\n"), 1);
    EXPECT_EQ(triedPorts.size(), 1u);  // opened once

    EXPECT_FALSE(fw->DisconnectMulti(0xA1));
    EXPECT_EQ(CountLines("DisconnectMulti(0xa1) = skip\r\n"), 1);
    EXPECT_TRUE(fw->IsOpen());
    EXPECT_TRUE(fw->DisconnectMulti(0xB2));
    EXPECT_EQ(CountLines("DisconnectMulti(0xb2) = Disconnect\r\n"), 1);
    EXPECT_FALSE(fw->IsOpen());
    EXPECT_FALSE(fw->DisconnectMulti(0xB2));  // closed: nothing logged
    EXPECT_EQ(CountLines("DisconnectMulti(0xb2) = Disconnect\r\n"), 1);
}

struct RecordingWindow : IClientWindow {
    void ShowForClient() override { ++shown; }
    void HideForClient() override { ++hidden; }
    int shown = 0, hidden = 0;
};

TEST_F(ConnectionTest, DriverSequenceChecksModeAndShowsWindow) {
    StartSim({}, 3);
    auto fw = MakeDevice();
    fw->ComPort = 3;
    fw->ShowWindowOnConnect = 1;
    RecordingWindow window;
    auto rotatorOnly = [](std::int8_t mode) { return mode == -1; };
    EXPECT_FALSE(RunConnectSequence(*fw, 0x10, -1, "CRotatorImpl", "put_Connected", rotatorOnly, window));
    EXPECT_FALSE(fw->IsOpen());
    EXPECT_EQ(CountLines("CRotatorImpl::put_Connected(-1)\n"), 1);
    EXPECT_EQ(CountLines("ConnectMulti(0x10) = connect\r\n"), 1);
    EXPECT_EQ(CountLines("DisconnectMulti(0x10) = Disconnect\r\n"), 1);
    EXPECT_EQ(window.shown, 0);

    auto anyMode = [](std::int8_t) { return true; };
    EXPECT_TRUE(RunConnectSequence(*fw, 0x20, -1, "CFocuser", "put_Link", anyMode, window));
    EXPECT_EQ(window.shown, 1);
    EXPECT_TRUE(ConnectionState(*fw, 0x20, "CFocuser", "get_Link"));
    EXPECT_FALSE(ConnectionState(*fw, 0x30, "CFocuser", "get_Link"));
    EXPECT_EQ(CountLines("CFocuser::get_Link(0)\n"), 1);
    EXPECT_TRUE(RunConnectSequence(*fw, 0x20, 0, "CFocuser", "put_Link", anyMode, window));
    EXPECT_EQ(window.hidden, 1);
    EXPECT_FALSE(fw->IsOpen());
    // Only the low 16 bits count: 0x10000 asks for a disconnection.
    EXPECT_TRUE(RunConnectSequence(*fw, 0x20, 0x10000, "CFocuser", "put_Link", anyMode, window));
    EXPECT_EQ(CountLines("CFocuser::put_Link(0)\n"), 2);
}

} // namespace
} // namespace velq3::test
