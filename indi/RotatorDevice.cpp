#include "indi/RotatorDevice.h"

#include <cmath>
#include <cstring>

#include "indi/Velq3Driver.h"

namespace velq3::indi {

namespace {
constexpr const char* kOffset = "ROTATOR_SYNC_OFFSET";

bool Is(const char* a, const char* b) { return a && b && std::strcmp(a, b) == 0; }
}  // namespace

double WrapDegrees(double angle) {
    double a = std::fmod(angle, 360.0);
    if (a < 0) a += 360.0;
    return a >= 360.0 ? 0.0 : a;
}

RotatorDevice::RotatorDevice(Velq3Driver& driver)
    : Velq3Device(driver, DeviceKind::Rotator, "VELQ3 Rotator"), RotatorInterface(this) {
    RI::SetCapability(ROTATOR_CAN_SYNC | ROTATOR_CAN_REVERSE);
}

bool RotatorDevice::initProperties() {
    Velq3Device::initProperties();
    RI::initProperties(MAIN_CONTROL_TAB);
    IUFillNumber(&m_OffsetN[0], "OFFSET", "Degrees", "%.2f", 0, 360, 0, 0);
    IUFillNumberVector(&m_OffsetNP, m_OffsetN, 1, getDeviceName(), kOffset, "Sync Offset", OPTIONS_TAB, IP_RW, 0, IPS_IDLE);
    setDriverInterface(ROTATOR_INTERFACE);
    return true;
}

void RotatorDevice::LoadOwnConfig() {
    defineProperty(&m_OffsetNP);
    loadConfig(true, kOffset);
}

bool RotatorDevice::saveConfigItems(FILE* fp) {
    Velq3Device::saveConfigItems(fp);
    IUSaveConfigNumber(fp, &m_OffsetNP);
    return true;
}

bool RotatorDevice::updateProperties() {
    Velq3Device::updateProperties();
    RI::updateProperties();
    return true;
}

bool RotatorDevice::ISNewNumber(const char* dev, const char* name, double values[], char* names[], int n) {
    if (Is(dev, getDeviceName()) && n >= 1) {
        if (Is(name, GotoRotatorNP.name)) {
            MoveTo(values[0]);
            return true;
        }
        if (Is(name, SyncRotatorNP.name)) {
            Sync(values[0]);
            return true;
        }
        if (Is(name, kOffset)) {
            if (!std::isfinite(values[0])) {
                m_OffsetNP.s = IPS_ALERT;
                IDSetNumber(&m_OffsetNP, "The offset must be a number of degrees");
                return false;
            }
            m_OffsetN[0].value = WrapDegrees(values[0]);
            m_OffsetNP.s = IPS_OK;
            IDSetNumber(&m_OffsetNP, nullptr);
            if (isConnected()) Refresh(*m_Driver.Latest(), std::nullopt, true);
            return true;
        }
    }
    return Velq3Device::ISNewNumber(dev, name, values, names, n);
}

bool RotatorDevice::ISNewSwitch(const char* dev, const char* name, ISState* states, char* names[], int n) {
    if (Is(dev, getDeviceName()) && Is(name, ReverseRotatorSP.name)) {
        const char* on = IUFindOnSwitchName(states, names, n);
        if (on) SetReverse(Is(on, "INDI_ENABLED"));
        return true;
    }
    return Velq3Device::ISNewSwitch(dev, name, states, names, n);
}

IPState RotatorDevice::MoveRotator(double) {
    // Every move request is taken by ISNewNumber; the interface's own path is not used.
    return IPS_ALERT;
}

double RotatorDevice::Shown(double motorAngle) const { return WrapDegrees(motorAngle + m_OffsetN[0].value); }

void RotatorDevice::MoveTo(double angle) {
    auto refuse = [&](const std::string& why) {
        GotoRotatorNP.s = IPS_ALERT;
        IDSetNumber(&GotoRotatorNP, nullptr);
        LOG_ERROR(why.c_str());
    };
    if (!isConnected()) return refuse("The rotator is not connected");
    if (m_Moving) return refuse("The rotator is already moving");
    if (!std::isfinite(angle) || angle < 0 || angle > 360)
        return refuse("The angle must be from 0 to 360 degrees");
    const auto snapshot = m_Driver.Latest();
    if (snapshot->MaxSteps() == 0) return refuse("The rotator has no steps per turn (MaxSteps is 0)");
    const float motorAngle = static_cast<float>(WrapDegrees(angle - m_OffsetN[0].value));
    m_Moving = true;
    m_Failed = false;
    GotoRotatorNP.s = IPS_BUSY;
    IDSetNumber(&GotoRotatorNP, "Rotating to %.2f degrees...", angle);
    StartMove([motorAngle](DeviceService& s) { return s.MoveRotatorAbsolute(motorAngle); },
              [this, angle](const MoveOutcome& outcome) {
                  m_Moving = false;
                  m_Failed = !outcome.ok;
                  const auto now = m_Driver.Latest();
                  GotoRotatorN[0].value = outcome.ok ? Shown(now->RotatorPosition()) : GotoRotatorN[0].value;
                  GotoRotatorNP.s = outcome.ok ? IPS_OK : IPS_ALERT;
                  IDSetNumber(&GotoRotatorNP, nullptr);
                  if (!outcome.ok)
                      LOGF_ERROR("The rotation to %.2f degrees failed: %s", angle,
                                 outcome.message.empty() ? "the motor did not report arriving" : outcome.message.c_str());
              });
}

void RotatorDevice::Sync(double angle) {
    const auto snapshot = m_Driver.Latest();
    const float motorAngle = snapshot->RotatorPosition();
    if (!isConnected() || !std::isfinite(angle) || angle < 0 || angle > 360 || !std::isfinite(motorAngle)) {
        SyncRotatorNP.s = IPS_ALERT;
        IDSetNumber(&SyncRotatorNP, nullptr);
        LOG_ERROR(!isConnected() ? "The rotator is not connected"
                  : std::isfinite(motorAngle) ? "The angle must be from 0 to 360 degrees"
                                              : "The rotator has no steps per turn (MaxSteps is 0)");
        return;
    }
    m_OffsetN[0].value = WrapDegrees(angle - motorAngle);
    m_OffsetNP.s = IPS_OK;
    IDSetNumber(&m_OffsetNP, nullptr);
    SyncRotatorN[0].value = angle;
    SyncRotatorNP.s = IPS_OK;
    IDSetNumber(&SyncRotatorNP, nullptr);
    // The offset outlives the session: it is written to the config file at once.
    saveConfig(true, kOffset);
    Refresh(*snapshot, std::nullopt, true);
    LOGF_INFO("Synced: the rotator now reads %.2f degrees", angle);
}

void RotatorDevice::SetReverse(bool reverse) {
    if (!isConnected()) {
        ReverseRotatorSP.s = IPS_ALERT;
        IDSetSwitch(&ReverseRotatorSP, "The rotator is not connected");
        return;
    }
    ReverseRotatorSP.s = IPS_BUSY;
    IDSetSwitch(&ReverseRotatorSP, nullptr);
    RunCommand([reverse](DeviceService& s) { return s.SetRotatorReverse(reverse); },
               [this, reverse](const CommandResult& r) {
                   const bool now = r.Ok() ? reverse : m_Driver.Latest()->rotatorReverse;
                   ReverseRotatorS[0].s = now ? ISS_ON : ISS_OFF;
                   ReverseRotatorS[1].s = now ? ISS_OFF : ISS_ON;
                   ReverseRotatorSP.s = r.Ok() ? IPS_OK : IPS_ALERT;
                   IDSetSwitch(&ReverseRotatorSP, nullptr);
                   if (!r.Ok()) LOGF_ERROR("The direction was not changed: %s", r.message.c_str());
                   else Refresh(*m_Driver.Latest(), std::nullopt, true);
               });
}

void RotatorDevice::Refresh(const Snapshot& s, const std::optional<std::string>& problem, bool force) {
    if (!isConnected()) return;
    if ((ReverseRotatorS[0].s == ISS_ON) != s.rotatorReverse && ReverseRotatorSP.s != IPS_BUSY) {
        ReverseRotatorS[0].s = s.rotatorReverse ? ISS_ON : ISS_OFF;
        ReverseRotatorS[1].s = s.rotatorReverse ? ISS_OFF : ISS_ON;
        ReverseRotatorSP.s = IPS_OK;
        IDSetSwitch(&ReverseRotatorSP, nullptr);
    }
    if (m_Moving) return;
    const float motorAngle = s.RotatorPosition();
    const bool known = std::isfinite(motorAngle) && s.status.Focus2Pos != 16777215;
    IPState state = m_Failed ? IPS_ALERT : IPS_OK;
    if (s.Moving(MoveKind::SecondMotor)) state = IPS_BUSY;
    if (problem || !known) state = IPS_ALERT;
    Report(GotoRotatorNP, known ? Shown(motorAngle) : GotoRotatorN[0].value, state, force);
}

} // namespace velq3::indi
