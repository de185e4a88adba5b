// The controller's INDI device, "VELQ3" unless INDIDEV names it: the built-in focuser (motor
// 0) always, and by the controller's mode read at connection the filter wheel, the rotator or
// the cover, each through libindi's interface for it; DRIVER_INTERFACE follows. Also
// FOCUS_TEMPERATURE from the compensation thermometer, the controller's temperature
// compensation as FOCUS_TEMPERATURE_COMPENSATION with COMPENSATION_THERMOMETER choosing its
// thermometer, and in the "Sensors" group the thermometers, the supply voltage, the output
// power and the four output bits.
#pragma once

#include <vector>

#include "indi/CoverPart.h"
#include "indi/FocuserBase.h"
#include "indi/RotatorPart.h"
#include "indi/WheelPart.h"

namespace velq3::indi {

class ControllerDevice : public FocuserBase {
public:
    ControllerDevice(Velq3Driver& driver, std::string name);
    ~ControllerDevice() override;

    bool initProperties() override;
    bool updateProperties() override;
    void ModeRead(std::int8_t mode) override;

    // The interfaces offered before the controller's mode is known: a focuser with a filter
    // wheel, so that clients list the device for both roles.
    static constexpr std::uint16_t kInterfaceBeforeConnecting = FOCUSER_INTERFACE | FILTER_INTERFACE | AUX_INTERFACE;

protected:
    bool HandleSwitch(const char* name, ISState* states, char* names[], int n) override;
    bool HandleText(const char* name, char* texts[], char* names[], int n) override;
    bool HandleNumber(const char* name, double values[], char* names[], int n) override;
    void Refresh(const Snapshot& snapshot, const std::optional<std::string>& problem, bool force) override;
    std::vector<MoveKind> OwnMoves() const override;
    bool saveConfigItems(FILE* fp) override;

private:
    // Defines the parts the controller's mode has and deletes the others; sets the interfaces.
    void DefineParts(const Snapshot& snapshot);
    void SetCompensation(bool on);
    void SetThermometer(int thermometer);
    void BuildSensors(const Snapshot& snapshot);
    void FreeSensors();

    WheelPart m_Wheel{*this};
    RotatorPart m_Rotator{*this};
    CoverPart m_Cover{*this};
    std::vector<DevicePart*> m_Parts{&m_Wheel, &m_Rotator, &m_Cover};
    std::optional<std::int8_t> m_PartsMode;  // the mode whose parts are defined

    INumberVectorProperty m_TemperatureNP{};
    INumber m_TemperatureN[1]{};
    ISwitchVectorProperty m_CompSP{};
    ISwitch m_CompS[2]{};
    bool m_CompPending = false;
    ISwitchVectorProperty m_ThermometerSP{};
    std::vector<ISwitch> m_ThermometerS;

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
