#include "indi/FocuserBase.h"

#include <cmath>
#include <cstdio>
#include <memory>

#include "device/DeviceMoves.h"
#include "indi/Velq3Driver.h"

namespace velq3::indi {

namespace {
constexpr const char* kOffset = "FOCUS_SYNC_OFFSET";
// FOCUS_MAX and the sync offset go no further than positions of 32 bits.
constexpr double kLargest = 2147483647.0;

std::string Steps(double value) {
    char text[40];
    std::snprintf(text, sizeof text, "%.0f", value);
    return text;
}
}  // namespace

FocuserBase::FocuserBase(Velq3Driver& driver, DeviceKind kind, std::string name, int motor)
    : Velq3Device(driver, kind, std::move(name)), FocuserInterface(this), m_Motor(motor) {
    // No FOCUSER_CAN_REVERSE: the controller has no reversed direction for its motors. Abort
    // is offered so that clients find the standard property; it says what the controller can.
    FI::SetCapability(FOCUSER_CAN_ABS_MOVE | FOCUSER_CAN_REL_MOVE | FOCUSER_CAN_SYNC | FOCUSER_CAN_ABORT);
}

bool FocuserBase::initProperties() {
    Velq3Device::initProperties();
    FI::initProperties(MAIN_CONTROL_TAB);
    FocusMaxPosN[0].min = 1;
    FocusMaxPosN[0].max = kLargest;
    FocusSyncN[0].min = -kLargest;
    FocusSyncN[0].max = kLargest;
    IUFillNumber(&m_OffsetN[0], "OFFSET", "Steps", "%.0f", -kLargest, kLargest, 0, 0);
    IUFillNumberVector(&m_OffsetNP, m_OffsetN, 1, getDeviceName(), kOffset, "Sync Offset", OPTIONS_TAB, IP_RW, 0, IPS_IDLE);
    setDriverInterface(FOCUSER_INTERFACE);
    return true;
}

void FocuserBase::LoadOwnConfig() {
    defineProperty(&m_OffsetNP);
    loadConfig(true, kOffset);
}

bool FocuserBase::saveConfigItems(FILE* fp) {
    Velq3Device::saveConfigItems(fp);
    IUSaveConfigNumber(fp, &m_OffsetNP);
    return true;
}

std::vector<MoveKind> FocuserBase::OwnMoves() const { return {FocuserMoveKind(m_Motor, m_Driver.Latest()->mode)}; }

bool FocuserBase::updateProperties() {
    Velq3Device::updateProperties();
    if (isConnected()) SetLimits(*m_Driver.Latest(), false);
    FI::updateProperties();
    return true;
}

// Limits in shown positions: the client range 0..`AscomMaxFocusPos` moved by the sync offset.
void FocuserBase::SetLimits(const Snapshot& s, bool announce) {
    const double max = std::max(s.settings.AscomMaxFocusPos, 0);
    const double low = Offset(), high = max + Offset();
    if (FocusMaxPosN[0].value == max && FocusAbsPosN[0].min == low && FocusAbsPosN[0].max == high) return;
    FocusMaxPosN[0].value = max;
    FocusAbsPosN[0].min = low;
    FocusAbsPosN[0].max = high;
    FocusAbsPosN[0].step = std::max(1.0, std::round(max / 100));
    FocusRelPosN[0].min = 0;
    FocusRelPosN[0].max = std::max(max, 1.0);
    FocusRelPosN[0].step = FocusAbsPosN[0].step;
    if (announce) {
        IUUpdateMinMax(&FocusAbsPosNP);
        IUUpdateMinMax(&FocusRelPosNP);
        IDSetNumber(&FocusMaxPosNP, nullptr);
    }
}

bool FocuserBase::HandleNumber(const char* name, double values[], char* names[], int n) {
    if (n >= 1) {
        if (Is(name, FocusAbsPosNP.name)) {
            MoveTo(values[0], FocusAbsPosNP.name);
            return true;
        }
        if (Is(name, FocusRelPosNP.name)) {
            MoveRelative(values[0]);
            return true;
        }
        if (Is(name, FocusMaxPosNP.name)) {
            SetMaximum(values[0]);
            return true;
        }
        if (Is(name, FocusSyncNP.name)) {
            Sync(values[0]);
            return true;
        }
        if (Is(name, kOffset)) {
            m_OffsetN[0].value = std::round(values[0]);
            m_OffsetNP.s = IPS_OK;
            IDSetNumber(&m_OffsetNP, nullptr);
            if (isConnected()) {
                SetLimits(*m_Driver.Latest(), true);
                Refresh(*m_Driver.Latest(), std::nullopt, true);
            }
            return true;
        }
    }
    return Velq3Device::HandleNumber(name, values, names, n);
}

bool FocuserBase::HandleSwitch(const char* name, ISState* states, char* names[], int n) {
    if (Is(name, FocusAbortSP.name)) {
        Abort();
        return true;
    }
    if (Is(name, FocusMotionSP.name)) {
        IUUpdateSwitch(&FocusMotionSP, states, names, n);
        FocusMotionSP.s = IPS_OK;
        IDSetSwitch(&FocusMotionSP, nullptr);
        return true;
    }
    return Velq3Device::HandleSwitch(name, states, names, n);
}

void FocuserBase::MoveRelative(double steps) {
    const char* property = FocusRelPosNP.name;
    if (!isConnected()) return Refuse(property, "The focuser is not connected");
    if (m_Moving) return Refuse(property, "The focuser is already moving");
    if (steps != std::floor(steps) || steps <= 0) return Refuse(property, "The relative move must be a whole number of steps above 0");
    const double signedSteps = IUFindOnSwitchIndex(&FocusMotionSP) == FOCUS_INWARD ? -steps : steps;
    const auto snapshot = m_Driver.Latest();
    if (PositionKnown(snapshot->MotorPosition(m_Motor))) return MoveTo(FocusAbsPosN[0].value + signedSteps, property);
    // Lost by a failed move or never carried by the status: ask the controller first.
    const int motor = m_Motor;
    auto position = std::make_shared<std::int32_t>(0);
    m_Moving = true;
    RunCommand([motor, position](DeviceService& s) {
                   return s.Run([motor, position](OrnFilterWheel& fw) {
                       return PositionForRelativeMove(fw, motor, *position)
                                  ? CommandResult::Success()
                                  : CommandResult::Error(CommandStatus::Failed, "The focuser's position could not be read");
                   });
               },
               [this, position, signedSteps, property](const CommandResult& r) {
                   m_Moving = false;
                   if (!r.Ok()) return Refuse(property, r.message + "; the focuser did not move");
                   const auto s = m_Driver.Latest();
                   const double from = ClientFocuserPosition(*position, s->settings.AscomFocusShift) + Offset();
                   MoveTo(from + signedSteps, property);
               });
}

void FocuserBase::MoveTo(double target, const char* property) {
    const bool relative = !Is(property, FocusAbsPosNP.name);
    if (!isConnected()) return Refuse(property, "The focuser is not connected");
    if (m_Moving) return Refuse(property, "The focuser is already moving");
    if (target != std::floor(target)) return Refuse(property, "The position must be a whole number of steps");
    if (target < FocusAbsPosN[0].min || target > FocusAbsPosN[0].max)
        return Refuse(property, "Position " + Steps(target) + " is out of range: the focuser moves from " +
                                    Steps(FocusAbsPosN[0].min) + " to " + Steps(FocusAbsPosN[0].max));
    const auto snapshot = m_Driver.Latest();
    const auto client = static_cast<std::int64_t>(target - Offset());
    if (!DeviceFocuserTarget(client, snapshot->settings.AscomFocusShift))
        return Refuse(property, "Position " + Steps(target) + " is beyond the controller's step range with the focus shift " +
                                    std::to_string(snapshot->settings.AscomFocusShift));

    m_Moving = true;
    ClearAlert(FocusAbsPosNP.name);
    if (relative) {
        FocusRelPosNP.s = IPS_BUSY;
        IDSetNumber(&FocusRelPosNP, nullptr);
    }
    FocusAbsPosNP.s = IPS_BUSY;
    IDSetNumber(&FocusAbsPosNP, "Moving to position %.0f...", target);
    const int motor = m_Motor;
    StartMove(FocuserMoveKind(m_Motor, snapshot->mode), [motor, client](DeviceService& s) { return s.MoveFocuser(motor, client); },
              [this, relative, target](const MoveOutcome& outcome) {
                  m_Moving = false;
                  if (outcome.ok) {
                      FocusAbsPosN[0].value = target;
                      if (relative) {
                          FocusRelPosNP.s = IPS_OK;
                          IDSetNumber(&FocusRelPosNP, nullptr);
                      }
                      FocusAbsPosNP.s = IPS_OK;
                      IDSetNumber(&FocusAbsPosNP, "Focuser at position %.0f", target);
                      return;
                  }
                  if (relative) Refuse(FocusRelPosNP.name, "");
                  Refuse(FocusAbsPosNP.name, "");
                  LOGF_ERROR("The move to position %.0f failed: %s", target,
                             outcome.message.empty() ? "the focuser did not report arriving" : outcome.message.c_str());
              });
}

void FocuserBase::Sync(double position) {
    const char* property = FocusSyncNP.name;
    if (!isConnected()) return Refuse(property, "The focuser is not connected");
    const auto s = m_Driver.Latest();
    if (m_Moving || s->Moving(FocuserMoveKind(m_Motor, s->mode)))
        return Refuse(property, "The focuser is moving; sync once it has stopped");
    if (!PositionKnown(s->MotorPosition(m_Motor))) return Refuse(property, "The focuser's position is not known; nothing was synced");
    if (position != std::floor(position)) return Refuse(property, "The position must be a whole number of steps");
    // Nothing is written to the controller: this device shows positions moved by the offset.
    m_OffsetN[0].value = position - s->FocuserPosition(m_Motor);
    IDSetNumber(&m_OffsetNP, nullptr);
    saveConfig(true, kOffset);
    FocusSyncN[0].value = position;
    FocusSyncNP.s = IPS_OK;
    IDSetNumber(&FocusSyncNP, nullptr);
    SetLimits(*s, true);
    Refresh(*s, std::nullopt, true);
    LOGF_INFO("Synced: the focuser now reads %.0f", position);
}

void FocuserBase::SetMaximum(double maximum) {
    const char* property = FocusMaxPosNP.name;
    if (maximum != std::floor(maximum)) return Refuse(property, "The maximum position must be a whole number of steps");
    FocusMaxPosNP.s = IPS_BUSY;
    IDSetNumber(&FocusMaxPosNP, nullptr);
    const auto value = static_cast<std::int32_t>(maximum);
    RunCommand([value](DeviceService& s) { return s.SetMaxFocusPosition(value); },
               [this, property](const CommandResult& r) {
                   if (!r.Ok()) return Refuse(property, "The maximum position was not changed: " + r.message);
                   SetLimits(*m_Driver.Latest(), true);
                   FocusMaxPosNP.s = IPS_OK;
                   IDSetNumber(&FocusMaxPosNP, nullptr);
               });
}

void FocuserBase::Abort() {
    const char* property = FocusAbortSP.name;
    IUResetSwitch(&FocusAbortSP);
    if (!isConnected()) return Refuse(property, "The focuser is not connected");
    const MoveKind kind = FocuserMoveKind(m_Motor, m_Driver.Latest()->mode);
    // A move still waiting for the line is dropped; a running one cannot be stopped.
    RunCommand([kind](DeviceService& s) { return DropQueued(s, kind); },
               [this, kind, property](const CommandResult& dropped) {
                   if (dropped.Ok()) AbandonMoves(kind, "it was aborted before it started");
                   if (m_Driver.Latest()->Moving(kind) || m_Moving)
                       return Refuse(property, "The controller cannot stop a focuser move: the focuser goes on to its target");
                   FocusAbortSP.s = IPS_OK;
                   IDSetSwitch(&FocusAbortSP, nullptr);
               });
}

void FocuserBase::Refresh(const Snapshot& s, const std::optional<std::string>& problem, bool force) {
    SetLimits(s, true);
    if (m_Moving) return;  // the move's end reports the position
    const bool known = PositionKnown(s.MotorPosition(m_Motor));
    const double position = known ? s.FocuserPosition(m_Motor) + Offset() : FocusAbsPosN[0].value;
    IPState state = IPS_OK;
    if (s.Moving(FocuserMoveKind(m_Motor, s.mode))) state = IPS_BUSY;  // a move another program started
    if (problem || !known) state = IPS_ALERT;
    Report(FocusAbsPosNP, position, state, force);
}

} // namespace velq3::indi
