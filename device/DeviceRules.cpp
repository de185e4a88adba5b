// The shared device rules.
#include "device/DeviceRules.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace velq3 {

namespace {

// x / n in the precision of T; with n = 0 the floating-point result of the division
// (infinity with the sign of x, or not-a-number for 0 / 0), made explicit.
template <class T>
T Divide(T x, T n) {
    if (n != 0) return x / n;
    if (x == 0) return std::numeric_limits<T>::quiet_NaN();
    return std::copysign(std::numeric_limits<T>::infinity(), x);
}

} // namespace

bool ModeFits(DeviceKind kind, std::int8_t mode) {
    switch (kind) {
    case DeviceKind::FilterWheel: return mode > 0;
    case DeviceKind::Focuser: return true;
    case DeviceKind::Focuser2: return mode == 0;
    case DeviceKind::Rotator: return mode == -1;
    case DeviceKind::Cover: return mode == -2;
    }
    return false;
}

MoveKind FocuserMoveKind(int focuser, std::int8_t mode) {
    if (focuser == 0 || mode > 0) return MoveKind::Focuser0;
    return mode == 0 ? MoveKind::Focuser1 : MoveKind::SecondMotor;
}

std::int32_t ClientFocuserPosition(std::int32_t devicePosition, std::int32_t focusShift) {
    return static_cast<std::int32_t>(std::int64_t{devicePosition} + focusShift);
}

std::optional<int> DeviceFocuserTarget(std::int64_t clientPosition, std::int32_t focusShift) {
    const std::int64_t target = clientPosition - focusShift;
    // The move command carries a signed 16-bit position; a target outside it would arrive
    // as some other position.
    if (target < std::numeric_limits<std::int16_t>::min() || target > std::numeric_limits<std::int16_t>::max())
        return std::nullopt;
    return static_cast<int>(target);
}

bool SelectTemperature(const FWCurrentParameters& status, int sensorCount, int preferred, double& value) {
    value = 0.0;
    bool ok = sensorCount == 0;
    if (preferred >= 0) {
        // A preferred sensor beyond the four the status holds never has a reading.
        if (preferred < kSensorCount && status.Temp[preferred] != kNoTemperature) {
            value = status.Temp[preferred];
            ok = true;
        }
        return ok;
    }
    const int fitted = std::min<int>(sensorCount, kSensorCount);
    for (int i = 0; i < fitted; ++i) {
        if (status.Temp[i] == kNoTemperature) continue;
        value = status.Temp[i];
        return true;
    }
    return ok;
}

float RotatorAngle(std::int32_t steps, int stepsPerTurn, bool reverse) {
    // Extended precision, then rounded once to single precision.
    const float angle = static_cast<float>(
        Divide(static_cast<long double>(steps) * 360.0L, static_cast<long double>(stepsPerTurn)));
    return reverse ? static_cast<float>(360.0 - angle) : angle;
}

double WrapDegrees(double angle) {
    double a = std::fmod(angle, 360.0);
    if (a < 0) a += 360.0;
    return a >= 360.0 ? 0.0 : a;  // -tiny + 360 rounds to 360
}

double RotatorOffsetAfterReverse(double offset, std::int32_t steps, int stepsPerTurn, bool wasReversed, bool reversed) {
    if (wasReversed == reversed || stepsPerTurn == 0 || !PositionKnown(steps)) return offset;
    const double before = RotatorAngle(steps, stepsPerTurn, wasReversed);
    const double after = RotatorAngle(steps, stepsPerTurn, reversed);
    return WrapDegrees(offset + before - after);
}

float RotatorStepSize(int stepsPerTurn) {
    return static_cast<float>(Divide(360.0, static_cast<double>(stepsPerTurn)));
}

RotatorTarget RotatorRelativeTarget(float delta, std::int32_t current, int n, bool reverse) {
    // Without steps per turn there is no target; an angle that is not a number has none either.
    if (n == 0) return {RotatorTargetError::NoStepsPerTurn, 0};
    if (!std::isfinite(delta)) return {RotatorTargetError::NotANumber, 0};
    const double angle = reverse ? -delta : delta;
    const double k = std::trunc(angle / -360.0 * n);
    // Remainder in floating point: exact for every reachable step count, and no overflow
    // for huge angles.
    return {RotatorTargetError::None, static_cast<int>(std::fmod(current - k, n))};
}

RotatorTarget RotatorAbsoluteTarget(float position, int n, bool reverse) {
    if (n == 0) return {RotatorTargetError::NoStepsPerTurn, 0};
    if (!std::isfinite(position)) return {RotatorTargetError::NotANumber, 0};
    const float angle = reverse ? static_cast<float>(360.0 - position) : position;
    return {RotatorTargetError::None, static_cast<int>(std::fmod(std::trunc(angle / 360.0 * n), n))};
}

CoverStatus CoverState(bool moving, std::int32_t x, int travel, bool endStopsFitted, std::uint8_t sw) {
    const int half = travel / 2;
    // While moving, X still holds the position the move started from.
    if (moving) return x >= half ? CoverStatus::Closing : CoverStatus::Opening;
    if (endStopsFitted) return (sw & 0x01) ? CoverStatus::Open : (sw & 0x02) ? CoverStatus::Closed : CoverStatus::Error;
    if (CoverPositionUnknown(moving, x, endStopsFitted)) return CoverStatus::Error;
    return x < half ? CoverStatus::Closed : CoverStatus::Open;
}

bool CoverPositionUnknown(bool moving, std::int32_t x, bool endStopsFitted) {
    return !moving && !endStopsFitted && !PositionKnown(x);
}

int CoverMoveTarget(std::int32_t position, int travel, bool open) { return position + (open ? travel : -travel); }

} // namespace velq3
