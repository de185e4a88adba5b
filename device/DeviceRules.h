// Device rules that every face applies the same way: which controller mode fits which kind of
// device, the focuser's shifted positions and its temperature, the rotator's angles and the
// cover's state. Pure functions over the device's values, shared by the automation objects and
// the network faces.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>

#include "link/Records.h"

namespace velq3 {

// Readings whose last answer from the controller is older than this fail while connected.
inline constexpr std::chrono::milliseconds kStaleStatusAge{10000};
// What such a reading says.
inline constexpr const char* kNoAnswerMessage = "The controller does not answer";

// The kinds of device a client can connect as.
enum class DeviceKind { FilterWheel, Focuser, Focuser2, Rotator, Cover };

// Whether the controller's mode byte fits a kind of device: the wheel needs a wheel mode
// (above 0), the second focuser mode 0, the rotator mode -1, the cover mode -2; the built-in
// focuser fits every mode.
bool ModeFits(DeviceKind kind, std::int8_t mode);

// The moves the controller makes. `Focuser1` is the second motor as a focuser (mode 0);
// `SecondMotor` the same motor as rotator or cover.
enum class MoveKind { None, Wheel, Home, Focuser0, Focuser1, SecondMotor };

// What a move of focuser number `focuser` (0 or 1) drives in mode `mode`.
MoveKind FocuserMoveKind(int focuser, std::int8_t mode);

// Whether a status position is one: not the marker of a position the status never carried or
// a failed move lost. Readings of an unknown position fail rather than report the marker.
inline bool PositionKnown(std::int32_t position) { return position != kPositionNotRead; }

// --- focus shift per filter ---

// A filter's focus shift (`FocuserPos`, its entry of FocusOffsets) above this means "none":
// the focuser is not moved for that filter. FocusOffsets report the stored values unchanged.
inline constexpr std::int32_t kNoFocusShiftAbove = 10000;
// What the operator's "none" stores.
inline constexpr std::int32_t kNoFocusShift = 20000;
inline bool HasFocusShift(std::int32_t focuserPos) { return focuserPos <= kNoFocusShiftAbove; }

// --- focuser ---

inline constexpr std::int32_t kFocuserMaxIncrement = 5000;

// The position a client sees: the device position plus the focus shift, in a wide sum so that
// a large shift from the settings cannot overflow (the result is then cut to 32 bits as the
// automation objects report it).
std::int32_t ClientFocuserPosition(std::int32_t devicePosition, std::int32_t focusShift);

// The device target of a client position: position minus the focus shift. None when the
// target does not fit the move command's signed 16-bit position.
std::optional<int> DeviceFocuserTarget(std::int64_t clientPosition, std::int32_t focusShift);

// The sensor reading a focuser reports as its temperature: the preferred sensor alone, or
// without one the first of the fitted sensors that has a reading. True when that gave a value
// or when the device has no sensors (then 0.0).
bool SelectTemperature(const FWCurrentParameters& status, int sensorCount, int preferredSensor, double& value);

// --- rotator: N = `MaxSteps` steps per turn of the second motor ---

// The motor position as an angle in degrees, mirrored (360 - angle) when reversed; not
// wrapped into 0..360. N = 0 gives the floating-point result of the division.
float RotatorAngle(std::int32_t steps, int stepsPerTurn, bool reverse);
// Degrees per step (360 / N).
float RotatorStepSize(int stepsPerTurn);

enum class RotatorTargetError { None, NoStepsPerTurn, NotANumber };
struct RotatorTarget {
    RotatorTargetError error = RotatorTargetError::None;
    int steps = 0;
};
// The target of a relative move by `delta` degrees from motor position `current`. Targets keep
// the sign of the dividend and are not folded into 0..N-1.
RotatorTarget RotatorRelativeTarget(float delta, std::int32_t current, int stepsPerTurn, bool reverse);
// The target of a move to the angle `angle`.
RotatorTarget RotatorAbsoluteTarget(float angle, int stepsPerTurn, bool reverse);

// `angle` in degrees folded into 0 <= a < 360.
double WrapDegrees(double angle);

// The network faces report the rotator angle plus a sync offset. Toggling the direction flag
// (from `wasReversed` to `reversed`) does not turn the camera, so it must not change that
// reported angle: the new offset takes up the difference of the mirrored angles. The offset
// stays as it was while the position or the steps per turn are unknown.
double RotatorOffsetAfterReverse(double offset, std::int32_t steps, int stepsPerTurn, bool wasReversed, bool reversed);

// --- cover: X = the second motor's position, N = `MaxSteps` its travel from closed (0) to
// open (N) ---

// The values are those of the automation Dome's ShutterStatus.
enum class CoverStatus : std::int32_t { Open = 0, Closed = 1, Opening = 2, Closing = 3, Error = 4 };

// While the motor moves: Closing from the upper half (X still holds the start), Opening from
// the lower. At rest with end-stops fitted (`HomeMark` != 0 in cover mode): switch bit 0 open,
// bit 1 closed, neither an error. Without end-stops: closed below N/2, open from N/2 on, and an
// error while the position is unknown.
CoverStatus CoverState(bool moving, std::int32_t position, int travel, bool endStopsFitted, std::uint8_t switches);
// Whether that error is the unknown position (rather than a cover between its end-stops).
bool CoverPositionUnknown(bool moving, std::int32_t position, bool endStopsFitted);

// The motor target of a cover move from `position`: a whole travel up (open) or down (close),
// and the position the counter is set to once the move ended (N open, 0 closed).
int CoverMoveTarget(std::int32_t position, int travel, bool open);
inline int CoverEndPosition(int travel, bool open) { return open ? travel : 0; }

} // namespace velq3
