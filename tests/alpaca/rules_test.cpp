// Pure mappings of the face: service results to Alpaca errors, the heater set point's coding,
// angle folding and the cover state.
#include <gtest/gtest.h>

#include <cmath>

#include "alpaca/CoverCalibratorDevice.h"
#include "alpaca/RotatorDevice.h"
#include "alpaca/ServiceConnection.h"
#include "alpaca/SwitchDevice.h"

namespace velq3::alpaca {
namespace {

TEST(FaceRules, ServiceResultsMapToOneAlpacaErrorEach) {
    EXPECT_EQ(FromCommand(CommandResult::Success()).error, ErrorCode::Ok);
    const std::pair<CommandStatus, ErrorCode> cases[] = {
        {CommandStatus::Busy, ErrorCode::InvalidOperation},       {CommandStatus::WrongMode, ErrorCode::InvalidOperation},
        {CommandStatus::NotAvailable, ErrorCode::InvalidOperation}, {CommandStatus::InvalidValue, ErrorCode::InvalidValue},
        {CommandStatus::NotConnected, ErrorCode::NotConnected},   {CommandStatus::Failed, ErrorCode::DeviceFailure},
        {CommandStatus::Stopped, ErrorCode::DeviceFailure}};
    for (const auto& [status, code] : cases) {
        const Outcome o = FromCommand(CommandResult::Error(status, "why"));
        EXPECT_EQ(o.error, code);
        EXPECT_EQ(o.message, "why");
    }
    // A failure without a message still says something.
    EXPECT_FALSE(FromCommand(CommandResult::Error(CommandStatus::Failed, "")).message.empty());
}

TEST(FaceRules, HeaterSetPointFollowsThePowerMode) {
    // Heater on T2, 21.50 C; FlatBox; Cooler on T3, 5 C; Const Power 40 %; the deltas.
    EXPECT_EQ(DecodeHeaterSetPoint(0x64F2, 2150).mode, "Heater");
    EXPECT_DOUBLE_EQ(DecodeHeaterSetPoint(0x64F2, 2150).value, 21.5);
    EXPECT_EQ(DecodeHeaterSetPoint(0x00FF, 1000).mode, "FlatBox");
    EXPECT_EQ(DecodeHeaterSetPoint(0x323F, -500).mode, "Cooler");
    EXPECT_DOUBLE_EQ(DecodeHeaterSetPoint(0x323F, -500).value, 5.0);
    const HeaterSetPoint power = DecodeHeaterSetPoint(0xFF00, 102);
    EXPECT_TRUE(power.power);
    EXPECT_NEAR(power.value, 40.0, 1e-9);
    EXPECT_EQ(DecodeHeaterSetPoint(0x0010, 300).mode, "Heater Delta");
    EXPECT_EQ(DecodeHeaterSetPoint(0x0010, -300).mode, "Cooler Delta");

    EXPECT_EQ(EncodeHeaterSetPoint(0x64F2, 0, 21.5), 2150);
    EXPECT_EQ(EncodeHeaterSetPoint(0x323F, 0, 5.0), -500);  // the cooler stores it negated
    EXPECT_EQ(EncodeHeaterSetPoint(0xFF00, 0, 40.0), 102);
    EXPECT_EQ(EncodeHeaterSetPoint(0xFF00, 0, 100.0), 255);
    EXPECT_FALSE(EncodeHeaterSetPoint(0xFF00, 0, 101.0));
    EXPECT_FALSE(EncodeHeaterSetPoint(0x64F2, 0, 400.0));  // beyond the channel's range
    // Encoding then decoding gives the value back in every temperature mode.
    for (std::uint16_t control : {0x64F2, 0x00FF, 0x323F}) {
        const auto stored = EncodeHeaterSetPoint(control, 100, -12.34);
        ASSERT_TRUE(stored);
        EXPECT_NEAR(DecodeHeaterSetPoint(control, *stored).value, -12.34, 1e-9) << std::hex << control;
    }
}

TEST(FaceRules, AnglesFoldIntoOneTurnAndCoverStatesMap) {
    EXPECT_DOUBLE_EQ(WrapDegrees(370.0), 10.0);
    EXPECT_DOUBLE_EQ(WrapDegrees(-10.0), 350.0);
    EXPECT_DOUBLE_EQ(WrapDegrees(360.0), 0.0);
    EXPECT_LT(WrapDegrees(-1e-15), 360.0);
    EXPECT_TRUE(std::isnan(WrapDegrees(NAN)));

    EXPECT_EQ(ToCoverState(CoverStatus::Open), CoverState::Open);
    EXPECT_EQ(ToCoverState(CoverStatus::Closed), CoverState::Closed);
    EXPECT_EQ(ToCoverState(CoverStatus::Opening), CoverState::Moving);
    EXPECT_EQ(ToCoverState(CoverStatus::Closing), CoverState::Moving);
    EXPECT_EQ(ToCoverState(CoverStatus::Error), CoverState::Error);
}

} // namespace
} // namespace velq3::alpaca
