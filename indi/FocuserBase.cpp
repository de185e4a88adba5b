#include "indi/FocuserBase.h"

#include <cmath>
#include <cstring>

#include "indi/Velq3Driver.h"

namespace velq3::indi {

namespace {
// A motor position the controller has not reported yet.
constexpr std::int32_t kNotRead = 16777215;

bool Is(const char* a, const char* b) { return a && b && std::strcmp(a, b) == 0; }
}  // namespace

FocuserBase::FocuserBase(Velq3Driver& driver, DeviceKind kind, const char* name, int motor)
    : Velq3Device(driver, kind, name), FocuserInterface(this), m_Motor(motor) {
    FI::SetCapability(FOCUSER_CAN_ABS_MOVE | FOCUSER_CAN_REL_MOVE);
}

bool FocuserBase::initProperties() {
    Velq3Device::initProperties();
    FI::initProperties(MAIN_CONTROL_TAB);
    // The limit is the focuser setting `AscomMaxFocusPos`, changed in the focuser settings.
    FocusMaxPosNP.p = IP_RO;
    setDriverInterface(FOCUSER_INTERFACE);
    return true;
}

bool FocuserBase::updateProperties() {
    Velq3Device::updateProperties();
    if (isConnected()) SetLimits(*m_Driver.Latest(), false);
    FI::updateProperties();
    return true;
}

void FocuserBase::SetLimits(const Snapshot& s, bool announce) {
    const double max = std::max(s.settings.AscomMaxFocusPos, 0);
    if (FocusMaxPosN[0].value == max && FocusAbsPosN[0].max == max) return;
    FocusMaxPosN[0].value = FocusMaxPosN[0].max = max;
    FocusMaxPosN[0].min = 0;
    FocusAbsPosN[0].min = 0;
    FocusAbsPosN[0].max = max;
    FocusAbsPosN[0].step = std::max(1.0, std::round(max / 100));
    FocusRelPosN[0].min = 0;
    FocusRelPosN[0].max = max;
    FocusRelPosN[0].step = FocusAbsPosN[0].step;
    if (announce) {
        IUUpdateMinMax(&FocusAbsPosNP);
        IUUpdateMinMax(&FocusRelPosNP);
        IDSetNumber(&FocusMaxPosNP, nullptr);
    }
}

bool FocuserBase::ISNewNumber(const char* dev, const char* name, double values[], char* names[], int n) {
    if (Is(dev, getDeviceName()) && n >= 1) {
        if (Is(name, FocusAbsPosNP.name)) {
            MoveTo(values[0], false);
            return true;
        }
        if (Is(name, FocusRelPosNP.name)) {
            MoveTo(values[0], true);
            return true;
        }
        if (Is(name, FocusMaxPosNP.name)) {
            FocusMaxPosNP.s = IPS_ALERT;
            IDSetNumber(&FocusMaxPosNP, "The maximum position is the focuser setting AscomMaxFocusPos; it is not set here");
            return false;
        }
        if (FI::processNumber(dev, name, values, names, n)) return true;
    }
    return Velq3Device::ISNewNumber(dev, name, values, names, n);
}

bool FocuserBase::ISNewSwitch(const char* dev, const char* name, ISState* states, char* names[], int n) {
    if (Is(dev, getDeviceName()) && FI::processSwitch(dev, name, states, names, n)) return true;
    return Velq3Device::ISNewSwitch(dev, name, states, names, n);
}

void FocuserBase::MoveTo(double value, bool relative) {
    INumberVectorProperty& asked = relative ? FocusRelPosNP : FocusAbsPosNP;
    auto refuse = [&](const std::string& why) {
        asked.s = IPS_ALERT;
        IDSetNumber(&asked, nullptr);
        LOG_ERROR(why.c_str());
    };
    if (!isConnected()) return refuse("The focuser is not connected");
    if (m_Moving) return refuse("The focuser is already moving");
    if (!std::isfinite(value) || value != std::floor(value)) return refuse("The position must be a whole number of steps");
    double target = value;
    if (relative) {
        if (value <= 0) return refuse("The relative move must be more than 0 steps");
        const bool inward = IUFindOnSwitchIndex(&FocusMotionSP) == FOCUS_INWARD;
        target = FocusAbsPosN[0].value + (inward ? -value : value);
    }
    if (target < FocusAbsPosN[0].min || target > FocusAbsPosN[0].max) {
        char text[200];
        std::snprintf(text, sizeof text, "Position %.0f is out of range: the focuser moves from %.0f to %.0f", target,
                      FocusAbsPosN[0].min, FocusAbsPosN[0].max);
        return refuse(text);
    }
    const auto snapshot = m_Driver.Latest();
    if (!DeviceFocuserTarget(static_cast<std::int64_t>(target), snapshot->settings.AscomFocusShift))
        return refuse("Position " + std::to_string(static_cast<long long>(target)) +
                      " is beyond the controller's step range with the focus shift " +
                      std::to_string(snapshot->settings.AscomFocusShift));

    m_Moving = true;
    m_Failed = false;
    if (relative) {
        FocusRelPosN[0].value = value;
        FocusRelPosNP.s = IPS_BUSY;
        IDSetNumber(&FocusRelPosNP, nullptr);
    }
    FocusAbsPosNP.s = IPS_BUSY;
    IDSetNumber(&FocusAbsPosNP, "Moving to position %.0f...", target);
    const int motor = m_Motor;
    const auto position = static_cast<std::int64_t>(target);
    StartMove([motor, position](DeviceService& s) { return s.MoveFocuser(motor, position); },
              [this, relative, target](const MoveOutcome& outcome) {
                  m_Moving = false;
                  m_Failed = !outcome.ok;
                  const IPState state = outcome.ok ? IPS_OK : IPS_ALERT;
                  if (outcome.ok) FocusAbsPosN[0].value = target;
                  if (relative) {
                      FocusRelPosNP.s = state;
                      IDSetNumber(&FocusRelPosNP, nullptr);
                  }
                  FocusAbsPosNP.s = state;
                  if (outcome.ok) {
                      IDSetNumber(&FocusAbsPosNP, "Focuser at position %.0f", target);
                  } else {
                      IDSetNumber(&FocusAbsPosNP, nullptr);
                      LOGF_ERROR("The move to position %.0f failed: %s", target,
                                 outcome.message.empty() ? "the focuser did not report arriving" : outcome.message.c_str());
                  }
              });
}

void FocuserBase::Refresh(const Snapshot& s, const std::optional<std::string>& problem, bool force) {
    SetLimits(s, true);
    if (m_Moving) return;  // the move's end reports the position
    const std::int32_t raw = s.MotorPosition(m_Motor);
    const bool known = raw != kNotRead;
    const double position = known ? s.FocuserPosition(m_Motor) : FocusAbsPosN[0].value;
    IPState state = m_Failed ? IPS_ALERT : IPS_OK;
    const MoveKind mine = FocuserMoveKind(m_Motor, s.mode);
    if (s.Moving(mine)) state = IPS_BUSY;  // a move another program started
    if (problem || !known) state = IPS_ALERT;
    Report(FocusAbsPosNP, position, state, force);
}

} // namespace velq3::indi
