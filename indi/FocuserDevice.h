// "VELQ3 Focuser": the built-in focuser (motor 0) with FOCUS_TEMPERATURE from the preferred
// thermometer, the controller's temperature compensation as FOCUS_TEMPERATURE_COMPENSATION,
// and in the "Sensors" group the thermometers, the supply voltage, the output power and the
// four output bits.
#pragma once

#include <vector>

#include "indi/FocuserBase.h"

namespace velq3::indi {

class FocuserDevice : public FocuserBase {
public:
    explicit FocuserDevice(Velq3Driver& driver);

    bool initProperties() override;
    bool updateProperties() override;
    bool ISNewSwitch(const char* dev, const char* name, ISState* states, char* names[], int n) override;

protected:
    void Refresh(const Snapshot& snapshot, const std::optional<std::string>& problem, bool force) override;

private:
    void SetCompensation(bool on);
    void BuildSensors(const Snapshot& snapshot);

    INumberVectorProperty m_TemperatureNP{};
    INumber m_TemperatureN[1]{};
    ISwitchVectorProperty m_CompSP{};
    ISwitch m_CompS[2]{};
    bool m_CompPending = false;
    bool m_CompFailed = false;

    INumberVectorProperty m_SensorsNP{};
    std::vector<INumber> m_SensorsN;
    INumberVectorProperty m_VoltageNP{};
    INumber m_VoltageN[1]{};
    INumberVectorProperty m_PowerNP{};
    INumber m_PowerN[1]{};
    ILightVectorProperty m_OutputsLP{};
    ILight m_OutputsL[4]{};
    bool m_Defined = false;
};

} // namespace velq3::indi
