// "VELQ3 Cover": the second motor opening and closing a telescope cover, in the controller's
// cover mode. CAP_PARK closes (PARK) and opens (UNPARK); COVER_STATUS says where the cover is
// (from the end-stops when fitted, else from the motor position) and COVER_ENDSTOPS shows them.
#pragma once

#include <cstdlib>

#include <indidustcapinterface.h>

#include "indi/Velq3Device.h"

namespace velq3::indi {

class CoverDevice : public Velq3Device, public INDI::DustCapInterface {
public:
    explicit CoverDevice(Velq3Driver& driver);
    ~CoverDevice() override { free(m_StatusT[0].text); }

    bool initProperties() override;
    bool updateProperties() override;
    bool ISNewSwitch(const char* dev, const char* name, ISState* states, char* names[], int n) override;

protected:
    void Refresh(const Snapshot& snapshot, const std::optional<std::string>& problem, bool force) override;

private:
    void Move(bool open);

    ITextVectorProperty m_StatusTP{};
    IText m_StatusT[1]{};
    ILightVectorProperty m_EndStopsLP{};
    ILight m_EndStopsL[2]{};
    bool m_Defined = false;
    bool m_Moving = false;
    bool m_Failed = false;
};

} // namespace velq3::indi
