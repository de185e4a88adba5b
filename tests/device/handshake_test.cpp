// The connection handshake with older or unusual controllers, and moves through the device
// object with their logged time-outs.
#include "common/ScriptedPeer.h"
#include "device/DeviceFixture.h"

namespace velq3::test {
namespace {

using HandshakeTest = DeviceTest;

TEST_F(HandshakeTest, DeviceWithoutSizeAnswerGets144Bytes) {
    StartSim({"--no-eesize"});
    auto fw = MakeDevice();
    fw->ComPort = 3;
    ASSERT_TRUE(fw->OpenLink());
    EXPECT_EQ(fw->m_MemorySize, 144);
    EXPECT_EQ(fw->FilterCount(), 7);
}

TEST_F(HandshakeTest, MemorySizeZeroKeepsThePreviousImage) {
    StartSim();
    sim->control("set memory-size 0");
    auto fw = MakeDevice();
    fw->ComPort = 3;
    fw->MaxSteps = 4321;
    ASSERT_TRUE(fw->OpenLink());
    EXPECT_EQ(fw->m_MemorySize, 0);
    EXPECT_EQ(fw->MaxSteps, 4321);
}

TEST_F(HandshakeTest, DeviceWithoutStatusCommandIsStillFound) {
    StartSim({"--no-all"});
    auto fw = MakeDevice();
    fw->ComPort = 3;
    ASSERT_TRUE(fw->OpenLink());
    EXPECT_FALSE(fw->m_bStatusPresent);
    EXPECT_TRUE(fw->m_bWheelPresent);
    EXPECT_TRUE(fw->m_bFocuserPresent);
}

TEST_F(HandshakeTest, DeviceAnsweringOnlyStatusSetsBothPresenceFlags) {
    ScriptedPeer peer;
    Bytes block(1 + 16, 0);
    block[0] = 16;
    block[1] = '2';
    Bytes image(144, 0);
    image[1] = 4;  // a four-filter wheel
    peer.Run({{8, {}}, {7, {}}, {5, block}, {8, {144, 0}}, {10, image}});
    DeviceEnvironment env;
    env.portPath = [&](int) { return peer.path(); };
    OrnFilterWheel fw(env);
    fw.SetSink([](std::string_view) {});
    fw.ComPort = 1;
    ASSERT_TRUE(fw.OpenLink());
    EXPECT_TRUE(fw.m_bStatusPresent);
    EXPECT_TRUE(fw.m_bWheelPresent);
    EXPECT_TRUE(fw.m_bFocuserPresent);
    EXPECT_EQ(fw.FilterCount(), 4);
    EXPECT_EQ(fw.CurrentFilter, 2);
    fw.CloseLink();
}

TEST_F(HandshakeTest, SilentDeviceIsClosedAgain) {
    StartSim({"--fault", "silent"});
    auto fw = MakeDevice();
    fw->ComPort = 3;
    EXPECT_FALSE(fw->OpenLink());
    EXPECT_FALSE(fw->IsOpen());
}

TEST_F(HandshakeTest, MovesLogTheirTimeoutsAndOutcome) {
    StartSim();
    auto fw = MakeDevice();
    fw->ComPort = 3;
    ASSERT_TRUE(fw->OpenLink());
    int from = fw->CurrentFilter;
    int to = (from + 2) % fw->FilterCount();
    ASSERT_TRUE(fw->SelectFilter(to));
    char expected[64];
    std::snprintf(expected, sizeof expected, "Goto(%d->%d) dif=2 TimeOut=7000\r\n", from, to);
    EXPECT_EQ(CountLines(expected), 1);
    EXPECT_EQ(fw->CurrentFilter, to);

    sim->control("fault short");  // the wheel never reports arriving
    fw->ChangeFilterTimeoutMs = -4600;  // time-out 1 * -4600 + 5000 = 400 ms
    int next = (to + 1) % fw->FilterCount();
    EXPECT_FALSE(fw->SelectFilter(next));
    EXPECT_EQ(fw->CurrentFilter, -1);  // somewhere between the two slots
    EXPECT_EQ(fw->FilterPos, -1);
    sim->control("fault none");
    FWCurrentParameters status = EmptyStatus();
    ASSERT_TRUE(fw->GetAll(status));  // the next status tells where the wheel stands
    EXPECT_EQ(fw->CurrentFilter, next);

    fw->FocuserSpeed = 250;
    fw->FocuserBacklash = 20;
    int start = fw->FocusPos;
    ASSERT_TRUE(fw->GoToPosition(start + 500, 0));
    EXPECT_EQ(fw->FocusPos, start + 500);
    EXPECT_EQ(GoToPositionTimeoutMs(start, start + 500, 250, 20), 4220);
}

TEST_F(HandshakeTest, LineVanishingMidMoveEndsTheMoveAsFailure) {
    StartSim({"--replug-ms", "100000"});
    auto fw = MakeDevice();
    fw->ComPort = 3;
    ASSERT_TRUE(fw->OpenLink());
    sim->control("fault vanish");
    fw->ChangeFilterTimeoutMs = -4000;  // 1000 ms for one slot
    EXPECT_FALSE(fw->SelectFilter((fw->CurrentFilter + 1) % fw->FilterCount()));
    EXPECT_FALSE(fw->IsBusy());
    EXPECT_EQ(fw->CurrentFilter, -1);
    // The controller is gone: its readings are not offered as fresh while the line stays away.
    EXPECT_TRUE(fw->LineGone());
    EXPECT_TRUE(fw->ReadingsStale());
}

} // namespace
} // namespace velq3::test
