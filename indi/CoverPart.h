// The cover part of the controller's device, in cover mode: the second motor opening and
// closing a telescope cover. CAP_PARK (libindi's dust cap interface) closes (PARK) and opens
// (UNPARK); COVER_STATUS says where the cover is (from the end-stops when fitted, else from the
// motor position) and COVER_ENDSTOPS shows them.
#pragma once

#include <cstdlib>

#include <indidustcapinterface.h>

#include "indi/DevicePart.h"

namespace velq3::indi {

class CoverPart : public DevicePart, public INDI::DustCapInterface {
public:
    explicit CoverPart(Velq3Device& device) : DevicePart(device) {}
    ~CoverPart() override { free(m_StatusT[0].text); }

    bool Fits(std::int8_t mode) const override { return ModeFits(DeviceKind::Cover, mode); }
    void Init() override;
    void Define(const Snapshot& snapshot) override;
    void Delete() override;
    bool HandleSwitch(const char* name, ISState* states, char* names[], int n) override;
    void Refresh(const Snapshot& snapshot, const std::optional<std::string>& problem, bool force) override;

private:
    using DevicePart::getDeviceName;

    void Move(bool open);

    ITextVectorProperty m_StatusTP{};
    IText m_StatusT[1]{};
    ILightVectorProperty m_EndStopsLP{};
    ILight m_EndStopsL[2]{};
    bool m_Defined = false;
    bool m_Moving = false;
};

} // namespace velq3::indi
