// The snapshot's derived values, from the shared device rules.
#include "service/Snapshot.h"

#include <algorithm>

namespace velq3 {

bool Snapshot::Holds(ClientId client) const {
    return std::find(clients.begin(), clients.end(), client) != clients.end();
}

bool Snapshot::Moving(MoveKind kind) const {
    return move.kind == kind ||
           std::any_of(queued.begin(), queued.end(), [kind](const RunningMove& m) { return m.kind == kind; });
}

bool Snapshot::Stale(std::chrono::steady_clock::time_point now) const {
    if (!open || Moving()) return false;
    if (lineGone) return true;
    return !lastAnswer || now - *lastAnswer > staleAfter;
}

std::optional<std::string> Snapshot::ReadingProblem(std::chrono::steady_clock::time_point now) const {
    if (Stale(now)) return std::string(kNoAnswerMessage);
    return std::nullopt;
}

std::int32_t Snapshot::FocuserPosition(int motor) const {
    return ClientFocuserPosition(MotorPosition(motor), settings.AscomFocusShift);
}

bool Snapshot::Temperature(double& celsius) const {
    return SelectTemperature(status, sensorCount, settings.AscomPreferredTermometer, celsius);
}

float Snapshot::RotatorPosition() const { return RotatorAngle(status.Focus2Pos, image.MaxSteps, rotatorReverse); }
float Snapshot::RotatorMechanicalPosition() const { return RotatorAngle(status.Focus2Pos, image.MaxSteps, false); }
float Snapshot::RotatorStepSize() const { return velq3::RotatorStepSize(image.MaxSteps); }

CoverStatus Snapshot::Cover() const {
    const bool moving = Moving(MoveKind::SecondMotor);
    if (coverEnd && !moving) return *coverEnd;
    return CoverState(moving, status.Focus2Pos, image.MaxSteps, image.HomeMark != 0, status.Sw);
}

bool Snapshot::CoverPositionUnknown() const {
    return velq3::CoverPositionUnknown(Moving(MoveKind::SecondMotor), status.Focus2Pos, image.HomeMark != 0);
}

} // namespace velq3
