#include "indi/CoverPart.h"

#include <cstring>

namespace velq3::indi {

namespace {
const char* StatusText(CoverStatus status) {
    switch (status) {
    case CoverStatus::Open: return "Open";
    case CoverStatus::Closed: return "Closed";
    case CoverStatus::Opening: return "Opening";
    case CoverStatus::Closing: return "Closing";
    case CoverStatus::Error: return "Between the end-stops";
    }
    return "Unknown";
}
}  // namespace

void CoverPart::Init() {
    initDustCapProperties(m_Device.getDeviceName(), MAIN_CONTROL_TAB);
    IUFillText(&m_StatusT[0], "STATUS", "Cover", "");
    IUFillTextVector(&m_StatusTP, m_StatusT, 1, m_Device.getDeviceName(), "COVER_STATUS", "Status", MAIN_CONTROL_TAB, IP_RO, 0,
                     IPS_IDLE);
    IUFillLight(&m_EndStopsL[0], "OPEN", "Open end-stop", IPS_IDLE);
    IUFillLight(&m_EndStopsL[1], "CLOSED", "Closed end-stop", IPS_IDLE);
    IUFillLightVector(&m_EndStopsLP, m_EndStopsL, 2, m_Device.getDeviceName(), "COVER_ENDSTOPS", "End-stops",
                      MAIN_CONTROL_TAB, IPS_IDLE);
}

void CoverPart::Define(const Snapshot&) {
    m_Device.defineProperty(&ParkCapSP);
    m_Device.defineProperty(&m_StatusTP);
    m_Device.defineProperty(&m_EndStopsLP);
    m_Defined = true;
}

void CoverPart::Delete() {
    if (!m_Defined) return;
    m_Device.deleteProperty(ParkCapSP.name);
    m_Device.deleteProperty(m_StatusTP.name);
    m_Device.deleteProperty(m_EndStopsLP.name);
    m_Defined = false;
}

bool CoverPart::HandleSwitch(const char* name, ISState* states, char* names[], int n) {
    if (!Is(name, ParkCapSP.name)) return false;
    const char* on = IUFindOnSwitchName(states, names, n);
    if (on) Move(Is(on, "UNPARK"));
    return true;
}

void CoverPart::Move(bool open) {
    if (!isConnected()) return m_Device.Refuse(ParkCapSP.name, "The cover is not connected");
    if (m_Moving) return m_Device.Refuse(ParkCapSP.name, "The cover is already moving");
    if (m_Driver.Latest()->MaxSteps() == 0)
        return m_Device.Refuse(ParkCapSP.name, "The cover's travel is not set (MaxSteps is 0)");
    m_Moving = true;
    IUResetSwitch(&ParkCapSP);
    ParkCapS[open ? CAP_UNPARK : CAP_PARK].s = ISS_ON;
    ParkCapSP.s = IPS_BUSY;
    IDSetSwitch(&ParkCapSP, open ? "Opening the cover..." : "Closing the cover...");
    m_Device.StartMove(MoveKind::SecondMotor, [open](DeviceService& s) { return s.MoveCover(open); },
              [this, open](const MoveOutcome& outcome) {
                  if (!outcome.ok) {
                      m_Moving = false;
                      m_Device.Refuse(ParkCapSP.name, "");
                      LOGF_ERROR("The cover did not %s: %s", open ? "open" : "close",
                                 outcome.message.empty() ? "the motor did not report arriving" : outcome.message.c_str());
                      return;
                  }
                  // The end-stops arrive with the status: ask for it before reporting the end.
                  m_Device.RunCommand(
                      [](DeviceService& s) {
                          return s.Run([](OrnFilterWheel& fw) {
                              FWCurrentParameters status{};
                              fw.GetAll(status);
                              return CommandResult::Success();
                          });
                      },
                      [this, open](const CommandResult&) {
                          m_Moving = false;
                          ParkCapSP.s = IPS_OK;
                          IDSetSwitch(&ParkCapSP, open ? "The cover is open" : "The cover is closed");
                          Refresh(*m_Driver.Latest(), std::nullopt, true);
                      });
              });
}

void CoverPart::Refresh(const Snapshot& s, const std::optional<std::string>& problem, bool force) {
    if (!m_Defined) return;
    const CoverStatus status = s.Cover();
    // A cover found between its end-stops, or without end-stops at a place not known yet, is no
    // fault until a move fails: it shows Idle and says what to do.
    const bool failed = s.coverEnd && *s.coverEnd == CoverStatus::Error;
    const bool unknown = !problem && status == CoverStatus::Error && !failed;
    const char* text = problem ? "Unknown"
                       : !unknown ? StatusText(status)
                       : s.CoverPositionUnknown() ? "Unknown: open or close the cover once"
                                                  : "Between the end-stops: open or close the cover once";
    if (force || std::strcmp(m_StatusT[0].text ? m_StatusT[0].text : "", text) != 0) {
        IUSaveText(&m_StatusT[0], text);
        m_StatusTP.s = unknown ? IPS_IDLE : problem || status == CoverStatus::Error ? IPS_ALERT : IPS_OK;
        IDSetText(&m_StatusTP, nullptr);
    }
    const bool fitted = s.image.HomeMark != 0;
    const IPState open = fitted ? ((s.status.Sw & 1) ? IPS_OK : IPS_IDLE) : IPS_IDLE;
    const IPState closed = fitted ? ((s.status.Sw & 2) ? IPS_OK : IPS_IDLE) : IPS_IDLE;
    if (force || m_EndStopsL[0].s != open || m_EndStopsL[1].s != closed) {
        m_EndStopsL[0].s = open;
        m_EndStopsL[1].s = closed;
        m_EndStopsLP.s = fitted ? IPS_OK : IPS_IDLE;
        IDSetLight(&m_EndStopsLP, nullptr);
    }
    if (m_Moving) return;
    // CAP_PARK follows the cover: PARK when closed, UNPARK when open.
    ISState park = ParkCapS[CAP_PARK].s, unpark = ParkCapS[CAP_UNPARK].s;
    IPState state = IPS_OK;
    if (status == CoverStatus::Closed) park = ISS_ON, unpark = ISS_OFF;
    if (status == CoverStatus::Open) park = ISS_OFF, unpark = ISS_ON;
    if (status == CoverStatus::Opening || status == CoverStatus::Closing) state = IPS_BUSY;
    if (status == CoverStatus::Error || problem) state = IPS_ALERT;
    if (unknown) state = IPS_IDLE, park = unpark = ISS_OFF;
    state = m_Device.Shown(ParkCapSP.name, state);
    if (force || park != ParkCapS[CAP_PARK].s || unpark != ParkCapS[CAP_UNPARK].s || state != ParkCapSP.s) {
        ParkCapS[CAP_PARK].s = park;
        ParkCapS[CAP_UNPARK].s = unpark;
        ParkCapSP.s = state;
        IDSetSwitch(&ParkCapSP, nullptr);
    }
}

} // namespace velq3::indi
