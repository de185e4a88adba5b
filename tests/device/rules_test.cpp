// The shared device rules at their edges: which modes fit which device, the focuser target's
// 16-bit range, the cover's states, the rotator without steps per turn.
#include <gtest/gtest.h>

#include <cmath>

#include "device/DeviceRules.h"

namespace velq3 {
namespace {

TEST(DeviceRulesTest, ModesFitTheirDevicesOnly) {
    struct Case {
        std::int8_t mode;
        bool wheel, focuser2, rotator, cover;
    };
    for (const Case& c : {Case{1, true, false, false, false}, Case{20, true, false, false, false},
                          Case{0, false, true, false, false}, Case{-1, false, false, true, false},
                          Case{-2, false, false, false, true}, Case{-3, false, false, false, false}}) {
        SCOPED_TRACE(static_cast<int>(c.mode));
        EXPECT_EQ(ModeFits(DeviceKind::FilterWheel, c.mode), c.wheel);
        EXPECT_EQ(ModeFits(DeviceKind::Focuser2, c.mode), c.focuser2);
        EXPECT_EQ(ModeFits(DeviceKind::Rotator, c.mode), c.rotator);
        EXPECT_EQ(ModeFits(DeviceKind::Cover, c.mode), c.cover);
        EXPECT_TRUE(ModeFits(DeviceKind::Focuser, c.mode));
    }
    EXPECT_EQ(FocuserMoveKind(0, -1), MoveKind::Focuser0);
    EXPECT_EQ(FocuserMoveKind(1, 0), MoveKind::Focuser1);
    EXPECT_EQ(FocuserMoveKind(1, -2), MoveKind::SecondMotor);
}

TEST(DeviceRulesTest, FocuserPositionsAndTargets) {
    EXPECT_EQ(ClientFocuserPosition(0, 10000), 10000);
    EXPECT_EQ(ClientFocuserPosition(2147483647, 1), -2147483647 - 1);  // cut to 32 bits, no overflow trap
    EXPECT_EQ(DeviceFocuserTarget(10500, 10000), std::optional<int>(500));
    EXPECT_EQ(DeviceFocuserTarget(10000 - 32768, 10000), std::optional<int>(-32768));
    EXPECT_EQ(DeviceFocuserTarget(10000 + 32767, 10000), std::optional<int>(32767));
    EXPECT_FALSE(DeviceFocuserTarget(10000 + 32768, 10000).has_value());
    EXPECT_FALSE(DeviceFocuserTarget(10000 - 32769, 10000).has_value());
    EXPECT_TRUE(HasFocusShift(10000));
    EXPECT_FALSE(HasFocusShift(kNoFocusShift));
}

TEST(DeviceRulesTest, CoverStates) {
    // Moving: judged from the start position.
    EXPECT_EQ(CoverState(true, 600, 1000, false, 0), CoverStatus::Closing);
    EXPECT_EQ(CoverState(true, 100, 1000, true, 1), CoverStatus::Opening);
    // At rest without end-stops: the half travel decides.
    EXPECT_EQ(CoverState(false, 499, 1000, false, 0), CoverStatus::Closed);
    EXPECT_EQ(CoverState(false, 500, 1000, false, 0), CoverStatus::Open);
    // With end-stops: the switches decide, neither is an error.
    EXPECT_EQ(CoverState(false, 0, 1000, true, 0x01), CoverStatus::Open);
    EXPECT_EQ(CoverState(false, 1000, 1000, true, 0x02), CoverStatus::Closed);
    EXPECT_EQ(CoverState(false, 1000, 1000, true, 0x00), CoverStatus::Error);
    EXPECT_FALSE(CoverPositionUnknown(false, 1000, true));
    EXPECT_EQ(CoverMoveTarget(10, 1000, true), 1010);
    EXPECT_EQ(CoverMoveTarget(10, 1000, false), -990);
}

// An unknown position (never carried by the status, or lost by a failed move) is neither open
// nor closed: without end-stops the state is an error until the position is known; the
// end-stops and a running move do not need it.
TEST(DeviceRulesTest, CoverStateOfAnUnknownPosition) {
    struct Case {
        bool moving;
        bool endStops;
        std::uint8_t sw;
        CoverStatus state;
        bool unknown;
    };
    for (const Case& c : {Case{false, false, 0, CoverStatus::Error, true}, Case{false, false, 3, CoverStatus::Error, true},
                          Case{false, true, 0x01, CoverStatus::Open, false},
                          Case{false, true, 0x02, CoverStatus::Closed, false},
                          Case{true, false, 0, CoverStatus::Closing, false}}) {
        SCOPED_TRACE(testing::Message() << c.moving << c.endStops << int{c.sw});
        EXPECT_EQ(CoverState(c.moving, kPositionNotRead, 1000, c.endStops, c.sw), c.state);
        EXPECT_EQ(CoverPositionUnknown(c.moving, kPositionNotRead, c.endStops), c.unknown);
    }
    EXPECT_FALSE(PositionKnown(kPositionNotRead));
    EXPECT_TRUE(PositionKnown(-1));
}

TEST(DeviceRulesTest, ReverseMovesTheSyncOffsetSoTheReportedAngleStays) {
    struct Case {
        std::int32_t steps;
        int n;
        bool from, to;
        double offset, want;
    };
    // N = 1000: 250 steps read 90 degrees, 270 reversed.
    const Case cases[] = {
        {250, 1000, false, true, 0.0, 180.0},   // 90 + 0 == 270 + 180 (mod 360)
        {250, 1000, true, false, 180.0, 0.0},   // and back
        {250, 1000, false, false, 33.0, 33.0},  // no change
        {0, 1000, false, true, 10.0, 10.0},     // 0 mirrors to 360 == 0
        {250, 0, false, true, 10.0, 10.0},      // no steps per turn
        {kPositionNotRead, 1000, false, true, 10.0, 10.0},
    };
    for (const Case& c : cases) {
        const double offset = RotatorOffsetAfterReverse(c.offset, c.steps, c.n, c.from, c.to);
        EXPECT_NEAR(offset, c.want, 1e-4) << c.steps << " " << c.from << "->" << c.to;
        if (c.n != 0 && PositionKnown(c.steps)) {
            EXPECT_NEAR(WrapDegrees(RotatorAngle(c.steps, c.n, c.to) + offset),
                        WrapDegrees(RotatorAngle(c.steps, c.n, c.from) + c.offset), 1e-4);
        }
    }
}

TEST(DeviceRulesTest, RotatorWithoutStepsPerTurnOrAngle) {
    EXPECT_EQ(RotatorAbsoluteTarget(10, 0, false).error, RotatorTargetError::NoStepsPerTurn);
    EXPECT_EQ(RotatorRelativeTarget(INFINITY, 0, 1000, false).error, RotatorTargetError::NotANumber);
    EXPECT_TRUE(std::isinf(RotatorStepSize(0)));
    EXPECT_TRUE(std::isnan(RotatorAngle(0, 0, false)));
    EXPECT_EQ(RotatorRelativeTarget(45, 250, 1000, false).steps, 375);
    EXPECT_EQ(RotatorRelativeTarget(45, 250, 1000, true).steps, 125);
}

} // namespace
} // namespace velq3
