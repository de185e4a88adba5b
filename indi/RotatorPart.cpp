#include "indi/RotatorPart.h"

#include <cmath>
#include <memory>

namespace velq3::indi {

namespace {
constexpr const char* kOffset = "ROTATOR_SYNC_OFFSET";
}  // namespace

RotatorPart::RotatorPart(Velq3Device& device) : DevicePart(device), RotatorInterface(std::addressof(device)) {
    RI::SetCapability(ROTATOR_CAN_SYNC | ROTATOR_CAN_REVERSE | ROTATOR_CAN_ABORT);
}

void RotatorPart::Init() {
    RI::initProperties(MAIN_CONTROL_TAB);
    IUFillNumber(&m_OffsetN[0], "OFFSET", "Degrees", "%.2f", 0, 360, 0, 0);
    IUFillNumberVector(&m_OffsetNP, m_OffsetN, 1, m_Device.getDeviceName(), kOffset, "Sync Offset", OPTIONS_TAB, IP_RW, 0,
                       IPS_IDLE);
}

// Kept only once read: a config saved in another mode must not lose the stored offset.
void RotatorPart::SaveConfig(FILE* fp) {
    if (m_Loaded) IUSaveConfigNumber(fp, &m_OffsetNP);
}

void RotatorPart::Define(const Snapshot&) {
    m_Device.defineProperty(&m_OffsetNP);
    if (!m_Loaded) {
        m_Device.LoadConfigItem(kOffset);
        m_Loaded = true;
    }
    m_Device.defineProperty(&GotoRotatorNP);
    m_Device.defineProperty(&AbortRotatorSP);
    m_Device.defineProperty(&SyncRotatorNP);
    m_Device.defineProperty(&ReverseRotatorSP);
    m_Defined = true;
}

void RotatorPart::Delete() {
    if (!m_Defined) return;
    for (const char* name : {GotoRotatorNP.name, AbortRotatorSP.name, SyncRotatorNP.name, ReverseRotatorSP.name, m_OffsetNP.name})
        m_Device.deleteProperty(name);
    m_Defined = false;
}

bool RotatorPart::HandleNumber(const char* name, double values[], char*[], int n) {
    if (n < 1) return false;
    if (Is(name, GotoRotatorNP.name)) {
        MoveTo(values[0]);
        return true;
    }
    if (Is(name, SyncRotatorNP.name)) {
        Sync(values[0]);
        return true;
    }
    if (Is(name, kOffset)) {
        SetOffset(values[0]);
        m_OffsetNP.s = IPS_OK;
        IDSetNumber(&m_OffsetNP, nullptr);
        return true;
    }
    return false;
}

bool RotatorPart::HandleSwitch(const char* name, ISState* states, char* names[], int n) {
    if (Is(name, ReverseRotatorSP.name)) {
        const char* on = IUFindOnSwitchName(states, names, n);
        if (on) SetReverse(Is(on, "INDI_ENABLED"));
        return true;
    }
    if (Is(name, AbortRotatorSP.name)) {
        Abort();
        return true;
    }
    return false;
}

IPState RotatorPart::MoveRotator(double) {
    // Every move request is taken by HandleNumber; the interface's own path is not used.
    return IPS_ALERT;
}

double RotatorPart::Shown(double motorAngle) const { return WrapDegrees(motorAngle + m_OffsetN[0].value); }

void RotatorPart::SetOffset(double offset) {
    m_OffsetN[0].value = WrapDegrees(offset);
    if (isConnected() && m_Defined) Refresh(*m_Driver.Latest(), std::nullopt, true);
}

void RotatorPart::MoveTo(double angle) {
    const char* property = GotoRotatorNP.name;
    if (!isConnected()) return m_Device.Refuse(property, "The rotator is not connected");
    if (m_Moving) return m_Device.Refuse(property, "The rotator is already moving");
    const auto snapshot = m_Driver.Latest();
    if (snapshot->MaxSteps() == 0) return m_Device.Refuse(property, "The rotator has no steps per turn (MaxSteps is 0)");
    const float motorAngle = static_cast<float>(WrapDegrees(angle - m_OffsetN[0].value));
    m_Moving = true;
    GotoRotatorNP.s = IPS_BUSY;
    IDSetNumber(&GotoRotatorNP, "Rotating to %.2f degrees...", angle);
    m_Device.StartMove(MoveKind::SecondMotor, [motorAngle](DeviceService& s) { return s.MoveRotatorAbsolute(motorAngle); },
                       [this, angle](const MoveOutcome& outcome) {
                           m_Moving = false;
                           const auto now = m_Driver.Latest();
                           if (outcome.ok) {
                               GotoRotatorN[0].value = Shown(now->RotatorPosition());
                               GotoRotatorNP.s = IPS_OK;
                               IDSetNumber(&GotoRotatorNP, nullptr);
                               return;
                           }
                           m_Device.Refuse(GotoRotatorNP.name, "");
                           LOGF_ERROR("The rotation to %.2f degrees failed: %s", angle,
                                      outcome.message.empty() ? "the motor did not report arriving"
                                                              : outcome.message.c_str());
                       });
}

void RotatorPart::Sync(double angle) {
    const char* property = SyncRotatorNP.name;
    const auto snapshot = m_Driver.Latest();
    const float motorAngle = snapshot->RotatorPosition();
    if (!isConnected()) return m_Device.Refuse(property, "The rotator is not connected");
    if (m_Moving || snapshot->Moving(MoveKind::SecondMotor))
        return m_Device.Refuse(property, "The rotator is moving; sync once it has stopped");
    if (!std::isfinite(motorAngle) || !PositionKnown(snapshot->status.Focus2Pos))
        return m_Device.Refuse(property, "The rotator's position is not known; nothing was synced");
    m_OffsetN[0].value = WrapDegrees(angle - motorAngle);
    m_OffsetNP.s = IPS_OK;
    IDSetNumber(&m_OffsetNP, nullptr);
    SyncRotatorN[0].value = angle;
    SyncRotatorNP.s = IPS_OK;
    IDSetNumber(&SyncRotatorNP, nullptr);
    // The offset outlives the session: it is written to the config file at once.
    m_Device.SaveConfigItem(kOffset);
    Refresh(*snapshot, std::nullopt, true);
    LOGF_INFO("Synced: the rotator now reads %.2f degrees", angle);
}

void RotatorPart::SetReverse(bool reverse) {
    if (!isConnected()) return m_Device.Refuse(ReverseRotatorSP.name, "The rotator is not connected");
    ReverseRotatorSP.s = IPS_BUSY;
    IDSetSwitch(&ReverseRotatorSP, nullptr);
    const auto before = m_Driver.Latest();
    m_Device.RunCommand([reverse](DeviceService& s) { return s.SetRotatorReverse(reverse); },
                        [this, reverse, before](const CommandResult& r) {
                            const auto now = m_Driver.Latest();
                            const bool reversed = r.Ok() ? reverse : now->rotatorReverse;
                            ReverseRotatorS[0].s = reversed ? ISS_ON : ISS_OFF;
                            ReverseRotatorS[1].s = reversed ? ISS_OFF : ISS_ON;
                            if (!r.Ok()) {
                                m_Device.Refuse(ReverseRotatorSP.name, "The direction was not changed: " + r.message);
                                return;
                            }
                            ReverseRotatorSP.s = IPS_OK;
                            IDSetSwitch(&ReverseRotatorSP, nullptr);
                            // The camera did not turn: the angle shown stays where it was.
                            const double offset =
                                RotatorOffsetAfterReverse(m_OffsetN[0].value, now->status.Focus2Pos, now->MaxSteps(),
                                                          before->rotatorReverse, reversed);
                            if (offset != m_OffsetN[0].value) {
                                m_OffsetN[0].value = offset;
                                IDSetNumber(&m_OffsetNP, nullptr);
                                m_Device.SaveConfigItem(kOffset);
                            }
                            Refresh(*now, std::nullopt, true);
                        });
}

void RotatorPart::Abort() {
    const char* property = AbortRotatorSP.name;
    IUResetSwitch(&AbortRotatorSP);
    if (!isConnected()) return m_Device.Refuse(property, "The rotator is not connected");
    // A move still waiting for the line is dropped; a running one cannot be stopped.
    m_Device.RunCommand([](DeviceService& s) { return Velq3Device::DropQueued(s, MoveKind::SecondMotor); },
                        [this, property](const CommandResult& dropped) {
                            if (dropped.Ok()) m_Device.AbandonMoves(MoveKind::SecondMotor, "it was aborted before it started");
                            if (m_Driver.Latest()->Moving(MoveKind::SecondMotor) || m_Moving)
                                return m_Device.Refuse(
                                    property, "The controller cannot stop a rotator move: the rotator goes on to its target");
                            AbortRotatorSP.s = IPS_OK;
                            IDSetSwitch(&AbortRotatorSP, nullptr);
                        });
}

void RotatorPart::Refresh(const Snapshot& s, const std::optional<std::string>& problem, bool force) {
    if (!m_Defined) return;
    if ((ReverseRotatorS[0].s == ISS_ON) != s.rotatorReverse && ReverseRotatorSP.s != IPS_BUSY) {
        ReverseRotatorS[0].s = s.rotatorReverse ? ISS_ON : ISS_OFF;
        ReverseRotatorS[1].s = s.rotatorReverse ? ISS_OFF : ISS_ON;
        ReverseRotatorSP.s = m_Device.Shown(ReverseRotatorSP.name, IPS_OK);
        IDSetSwitch(&ReverseRotatorSP, nullptr);
    }
    if (m_Moving) return;
    const float motorAngle = s.RotatorPosition();
    const bool known = std::isfinite(motorAngle) && PositionKnown(s.status.Focus2Pos);
    IPState state = IPS_OK;
    if (s.Moving(MoveKind::SecondMotor)) state = IPS_BUSY;
    if (problem || !known) state = IPS_ALERT;
    m_Device.Report(GotoRotatorNP, known ? Shown(motorAngle) : GotoRotatorN[0].value, state, force);
}

} // namespace velq3::indi
