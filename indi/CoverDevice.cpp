#include "indi/CoverDevice.h"

#include <cstring>

#include "indi/Velq3Driver.h"

namespace velq3::indi {

namespace {
bool Is(const char* a, const char* b) { return a && b && std::strcmp(a, b) == 0; }

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

CoverDevice::CoverDevice(Velq3Driver& driver) : Velq3Device(driver, DeviceKind::Cover, "VELQ3 Cover") {}

bool CoverDevice::initProperties() {
    Velq3Device::initProperties();
    initDustCapProperties(getDeviceName(), MAIN_CONTROL_TAB);
    IUFillText(&m_StatusT[0], "STATUS", "Cover", "");
    IUFillTextVector(&m_StatusTP, m_StatusT, 1, getDeviceName(), "COVER_STATUS", "Status", MAIN_CONTROL_TAB, IP_RO, 0, IPS_IDLE);
    IUFillLight(&m_EndStopsL[0], "OPEN", "Open end-stop", IPS_IDLE);
    IUFillLight(&m_EndStopsL[1], "CLOSED", "Closed end-stop", IPS_IDLE);
    IUFillLightVector(&m_EndStopsLP, m_EndStopsL, 2, getDeviceName(), "COVER_ENDSTOPS", "End-stops", MAIN_CONTROL_TAB, IPS_IDLE);
    setDriverInterface(DUSTCAP_INTERFACE);
    return true;
}

bool CoverDevice::updateProperties() {
    Velq3Device::updateProperties();
    if (isConnected()) {
        defineProperty(&ParkCapSP);
        defineProperty(&m_StatusTP);
        defineProperty(&m_EndStopsLP);
        m_Defined = true;
    } else if (m_Defined) {
        deleteProperty(ParkCapSP.name);
        deleteProperty(m_StatusTP.name);
        deleteProperty(m_EndStopsLP.name);
        m_Defined = false;
    }
    return true;
}

bool CoverDevice::ISNewSwitch(const char* dev, const char* name, ISState* states, char* names[], int n) {
    if (Is(dev, getDeviceName()) && Is(name, ParkCapSP.name)) {
        const char* on = IUFindOnSwitchName(states, names, n);
        if (on) Move(Is(on, "UNPARK"));
        return true;
    }
    return Velq3Device::ISNewSwitch(dev, name, states, names, n);
}

void CoverDevice::Move(bool open) {
    if (!isConnected() || m_Moving) {
        ParkCapSP.s = IPS_ALERT;
        IDSetSwitch(&ParkCapSP, nullptr);
        LOG_ERROR(!isConnected() ? "The cover is not connected" : "The cover is already moving");
        return;
    }
    if (m_Driver.Latest()->MaxSteps() == 0) {
        ParkCapSP.s = IPS_ALERT;
        IDSetSwitch(&ParkCapSP, nullptr);
        LOG_ERROR("The cover's travel is not set (MaxSteps is 0)");
        return;
    }
    m_Moving = true;
    m_Failed = false;
    IUResetSwitch(&ParkCapSP);
    ParkCapS[open ? CAP_UNPARK : CAP_PARK].s = ISS_ON;
    ParkCapSP.s = IPS_BUSY;
    IDSetSwitch(&ParkCapSP, open ? "Opening the cover..." : "Closing the cover...");
    StartMove([open](DeviceService& s) { return s.MoveCover(open); },
              [this, open](const MoveOutcome& outcome) {
                  if (!outcome.ok) {
                      m_Moving = false;
                      m_Failed = true;
                      ParkCapSP.s = IPS_ALERT;
                      IDSetSwitch(&ParkCapSP, nullptr);
                      LOGF_ERROR("The cover did not %s: %s", open ? "open" : "close",
                                 outcome.message.empty() ? "the motor did not report arriving" : outcome.message.c_str());
                      return;
                  }
                  // The end-stops arrive with the status: ask for it before reporting the end.
                  RunCommand(
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

void CoverDevice::Refresh(const Snapshot& s, const std::optional<std::string>& problem, bool force) {
    if (!m_Defined) return;
    const CoverStatus status = s.Cover();
    const char* text = problem || s.CoverPositionUnknown() ? "Unknown" : StatusText(status);
    if (force || std::strcmp(m_StatusT[0].text ? m_StatusT[0].text : "", text) != 0) {
        IUSaveText(&m_StatusT[0], text);
        m_StatusTP.s = problem || status == CoverStatus::Error ? IPS_ALERT : IPS_OK;
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
    IPState state = m_Failed ? IPS_ALERT : IPS_OK;
    if (status == CoverStatus::Closed) park = ISS_ON, unpark = ISS_OFF;
    if (status == CoverStatus::Open) park = ISS_OFF, unpark = ISS_ON;
    if (status == CoverStatus::Opening || status == CoverStatus::Closing) state = IPS_BUSY;
    if (status == CoverStatus::Error || problem) state = IPS_ALERT;
    if (force || park != ParkCapS[CAP_PARK].s || unpark != ParkCapS[CAP_UNPARK].s || state != ParkCapSP.s) {
        ParkCapS[CAP_PARK].s = park;
        ParkCapS[CAP_UNPARK].s = unpark;
        ParkCapSP.s = state;
        IDSetSwitch(&ParkCapSP, nullptr);
    }
}

} // namespace velq3::indi
