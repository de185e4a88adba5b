// The memory image layout, the filter list built from it and written back into it, and the
// two-half image write.
#include <cstddef>

#include "link/LinkFixture.h"

namespace velq3::test {
namespace {

TEST(ImageLayout, FieldOffsetsMatchTheDeviceMemory) {
    EXPECT_EQ(offsetof(EEFilterWheelData, Mode), 1u);
    EXPECT_EQ(offsetof(EEFilterWheelData, FocuserSpeed), 8u);
    EXPECT_EQ(offsetof(EEFilterWheelData, FocuserBacklash), 12u);
    EXPECT_EQ(offsetof(EEFilterWheelData, SensorCount), 15u);
    EXPECT_EQ(offsetof(EEFilterWheelData, FilterFocuserPos), 42u);
    EXPECT_EQ(offsetof(EEFilterWheelData, HeaterControl), 144u);
    EXPECT_EQ(offsetof(EEFilterWheelData, TermSteep), 156u);
    EXPECT_EQ(offsetof(EEFilterWheelData, MotorsPowerOnVoltage), 196u);
    EXPECT_EQ(offsetof(EEFilterWheelData, FocuserCurrent), 201u);
    EXPECT_EQ(offsetof(FWCurrentParameters, Temp), 12u);
    EXPECT_EQ(offsetof(FWCurrentParameters, Focus2Pos), 40u);
    EXPECT_EQ(offsetof(FWCurrentParameters, Sw), 48u);
}

TEST(ImageLayout, SettingsBlockPacksInto32Bytes) {
    FWAdditionalSettings s;
    s.ComPort = 0x01020304;
    s.StepLenInMicrons = 2.5;
    s.OnTop = -1;
    std::uint8_t bytes[kSettingsBlockBytes] = {};
    PackSettings(s, bytes);
    EXPECT_EQ(bytes[0], 0x04);
    double step = 0;
    std::memcpy(&step, bytes + 4, 8);
    EXPECT_EQ(step, 2.5);
    EXPECT_EQ(GetI16(bytes + 12), -1);  // AscomPreferredTermometer default
    EXPECT_EQ(bytes[28], 0xFF);
    FWAdditionalSettings back = UnpackSettings(bytes);
    EXPECT_EQ(back.ComPort, s.ComPort);
    EXPECT_EQ(back.StepLenInMicrons, 2.5);
    EXPECT_EQ(back.AscomFocusShift, 10000);
    EXPECT_EQ(back.OnTop, -1);
}

TEST(ImageLayout, FilterCountFromMode) {
    EXPECT_EQ(FilterCountFromMode(7), 7);
    EXPECT_EQ(FilterCountFromMode(13), 3);
    EXPECT_EQ(FilterCountFromMode(25), 10);
    EXPECT_EQ(FilterCountFromMode(0), 0);
    EXPECT_EQ(FilterCountFromMode(-1), -1);
}

TEST(FilterTableTest, NamesAreCutAtCharacterBoundaries) {
    EXPECT_EQ(TruncateName("Luminance", 8), "Luminanc");
    EXPECT_EQ(TruncateName("OIII", 8), "OIII");
    EXPECT_EQ(TruncateName("Hα-filter", 8), "Hα-filt");
    EXPECT_EQ(TruncateName("ABCDEFGα", 8), "ABCDEFG");  // α would straddle the 8th byte
}

class ImageTest : public ::testing::Test {
protected:
    CFilterTable filters;
    CTimeLogFile log;
    CDeviceLink link{filters, log};
};

TEST_F(ImageTest, FiltersFromImageFollowsTheModeByte) {
    link.Mode = 13;
    std::memcpy(link.FilterNames[0], "Luminanc", 8);  // 8 long, not terminated
    std::memcpy(link.FilterNames[1], "Red\0\0\0\0\0", 8);
    link.FilterWheelPos[1] = -12;
    link.FilterFocuserPos[2] = 20000;
    EXPECT_TRUE(link.FiltersFromImage());
    ASSERT_EQ(filters.FilterCount(), 3);
    EXPECT_EQ(filters.Filters[0].Name, "Luminanc");
    EXPECT_EQ(filters.Filters[1].Name, "Red");
    EXPECT_EQ(filters.Filters[1].Pos, -12);
    EXPECT_EQ(filters.Filters[2].FocuserPos, 20000);

    link.Mode = -1;  // rotator: the list stays as it is
    EXPECT_TRUE(link.FiltersFromImage());
    EXPECT_EQ(filters.FilterCount(), 3);
}

using ImageWriteTest = ScriptedLinkTest;

TEST_F(ImageWriteTest, CopiesFiltersAndWritesTwoHalves) {
    link.m_MemorySize = 144;
    filters.Filters = {{"Luminance", 1, 70000}, {"Ha", -2, 5}};
    std::memset(link.FilterNames[1], 'x', 8);
    link.HeaterControl = 0xBEEF;  // beyond the device's size: never sent
    size_t half = 9 + 2 + 72;
    peer.Run({{half, {'!'}}, {half, {'!'}}});
    EXPECT_TRUE(link.WriteMemoryImage(true));
    Bytes sent = Sent();
    ASSERT_EQ(sent.size(), 2 * half);
    EXPECT_EQ(Bytes(sent.begin(), sent.begin() + 11), Cat(B("FWwriteEE"), {0, 72}));
    EXPECT_EQ(Bytes(sent.begin() + half, sent.begin() + half + 11), Cat(B("FWwriteEE"), {72, 72}));
    Bytes image(144);
    std::copy(sent.begin() + 11, sent.begin() + half, image.begin());
    std::copy(sent.begin() + half + 11, sent.end(), image.begin() + 72);
    const std::uint8_t* data = image.data();
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(data + 62), 8), "Luminanc");
    EXPECT_EQ(Bytes(data + 70, data + 78), Cat(B("Ha"), Bytes(6, 0)));
    EXPECT_EQ(GetI16(data + 22), 1);
    EXPECT_EQ(GetI16(data + 24), -2);
    EXPECT_EQ(GetI16(data + 42), static_cast<std::int16_t>(70000 & 0xFFFF));
}

TEST_F(ImageWriteTest, BothHalvesAreTriedEvenWhenTheFirstFails) {
    link.m_MemorySize = 202;
    peer.Run({{9 + 2 + 101, {'?'}}, {9 + 2 + 101, {'!'}}});
    EXPECT_FALSE(link.WriteMemoryImage(false));
    Bytes sent = Sent();
    ASSERT_EQ(sent.size(), 2u * 112);
    EXPECT_EQ(sent[112 + 9], 101);
    EXPECT_EQ(sent[112 + 10], 101);
}

TEST_F(ImageWriteTest, WriteMemoryRejectsRangesOutsideTheImage) {
    std::uint8_t data[8] = {};
    EXPECT_FALSE(link.WriteMemory(200, 8, data));
    EXPECT_FALSE(link.WriteMemory(-1, 2, data));
    EXPECT_TRUE(peer.Drain(100).empty());
}

} // namespace
} // namespace velq3::test
