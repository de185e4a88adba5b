// The line under the device object: an adapter pulled out and plugged in again, and a
// controller whose memory holds a mode byte no settings dialog stores.
#include "device/DeviceFixture.h"

namespace velq3::test {
namespace {

using LineTest = DeviceTest;

TEST_F(LineTest, ARepluggedLineIsOpenedAgainByTheNextCommand) {
    StartSim({"--replug-ms", "400"});
    auto fw = MakeDevice();
    ASSERT_TRUE(fw->OpenPort(3));
    const std::string first = sim->ttyPath();
    int position = -2;
    ASSERT_TRUE(fw->GetFilter(position));

    sim->control("replug");
    // While the adapter is out, commands fail, and the link stays open.
    EXPECT_FALSE(fw->GetFilter(position));
    EXPECT_TRUE(fw->IsOpen());
    const std::string second = sim->waitNewTty();
    ASSERT_FALSE(second.empty());
    ASSERT_NE(second, first);
    // Back under the same name: the next command opens it and is answered.
    position = -2;
    EXPECT_TRUE(fw->GetFilter(position));
    EXPECT_GE(position, 0);
    EXPECT_TRUE(fw->IsOpen());
    fw->CloseLink();
}

// Every mode byte is one a controller can hold: a wheel mode above 20 declares ten filters,
// and each driver's own mode condition decides whether it serves the controller.
TEST_F(LineTest, AControllerConnectsWhateverItsModeByte) {
    StartSim({"--mode", "99"});
    auto fw = MakeDevice();
    ASSERT_TRUE(fw->OpenPort(3));
    EXPECT_EQ(fw->Mode, 99);
    EXPECT_EQ(fw->Filters.size(), 10u);
    fw->CloseLink();
    sim->control("set mode 255");  // an erased memory: -1, the rotator
    EXPECT_TRUE(fw->OpenPort(3));
    EXPECT_EQ(fw->Mode, -1);
}

}  // namespace
}  // namespace velq3::test
