#include "indi/ControllerDevice.h"

#include <cstring>

#include "indi/Velq3Driver.h"

namespace velq3::indi {

namespace {
constexpr const char* kSensorsGroup = "Sensors";
constexpr float kNoReading = 1e30f;
constexpr const char* kThermometer = "COMPENSATION_THERMOMETER";
}  // namespace

ControllerDevice::ControllerDevice(Velq3Driver& driver, std::string name)
    : FocuserBase(driver, DeviceKind::Focuser, std::move(name), 0) {}

ControllerDevice::~ControllerDevice() = default;

bool ControllerDevice::initProperties() {
    FocuserBase::initProperties();
    for (DevicePart* part : m_Parts) part->Init();
    setDriverInterface(kInterfaceBeforeConnecting);
    IUFillNumber(&m_TemperatureN[0], "TEMPERATURE", "Celsius", "%6.2f", -100, 100, 0, 0);
    IUFillNumberVector(&m_TemperatureNP, m_TemperatureN, 1, getDeviceName(), "FOCUS_TEMPERATURE", "Temperature",
                       MAIN_CONTROL_TAB, IP_RO, 0, IPS_IDLE);
    IUFillSwitch(&m_CompS[0], "INDI_ENABLED", "Enabled", ISS_OFF);
    IUFillSwitch(&m_CompS[1], "INDI_DISABLED", "Disabled", ISS_ON);
    IUFillSwitchVector(&m_CompSP, m_CompS, 2, getDeviceName(), "FOCUS_TEMPERATURE_COMPENSATION", "Temp. Compensation",
                       MAIN_CONTROL_TAB, IP_RW, ISR_1OFMANY, 10, IPS_IDLE);
    IUFillNumber(&m_VoltageN[0], "VOLTAGE", "Volts", "%5.2f", 0, 30, 0, 0);
    IUFillNumberVector(&m_VoltageNP, m_VoltageN, 1, getDeviceName(), "SUPPLY_VOLTAGE", "Supply", kSensorsGroup, IP_RO, 0,
                       IPS_IDLE);
    IUFillNumber(&m_PowerN[0], "POWER", "Percent", "%3.0f", 0, 100, 0, 0);
    IUFillNumberVector(&m_PowerNP, m_PowerN, 1, getDeviceName(), "OUTPUT_POWER", "Output Power", kSensorsGroup, IP_RO, 0,
                       IPS_IDLE);
    for (int i = 0; i < 4; ++i) {
        const std::string name = "OUTPUT_" + std::to_string(i + 1);
        const std::string label = "Output " + std::to_string(i + 1);
        IUFillLight(&m_OutputsL[i], name.c_str(), label.c_str(), IPS_IDLE);
    }
    IUFillLightVector(&m_OutputsLP, m_OutputsL, 4, getDeviceName(), "OUTPUTS", "Outputs", kSensorsGroup, IPS_IDLE);
    return true;
}

void ControllerDevice::FreeSensors() {
    m_SensorsN.clear();
    m_ThermometerS.clear();
}

void ControllerDevice::BuildSensors(const Snapshot& s) {
    FreeSensors();
    const int count = std::clamp(s.sensorCount, 0, 4);
    m_SensorsN.assign(static_cast<std::size_t>(count), INumber{});
    m_ThermometerS.assign(static_cast<std::size_t>(count) + 1, ISwitch{});
    const int preferred = s.settings.AscomPreferredTermometer;
    IUFillSwitch(&m_ThermometerS[0], "NONE", "None", preferred < 0 || preferred >= count ? ISS_ON : ISS_OFF);
    for (int i = 0; i < count; ++i) {
        const std::string name = "TEMPERATURE_" + std::to_string(i + 1);
        const std::string& given = s.thermometerNames[static_cast<std::size_t>(i)];
        const std::string label = given.empty() ? "Sensor " + std::to_string(i + 1) : given;
        IUFillNumber(&m_SensorsN[static_cast<std::size_t>(i)], name.c_str(), label.c_str(), "%6.2f", -100, 100, 0, 0);
        IUFillSwitch(&m_ThermometerS[static_cast<std::size_t>(i) + 1], name.c_str(), label.c_str(),
                     preferred == i ? ISS_ON : ISS_OFF);
    }
    IUFillNumberVector(&m_SensorsNP, m_SensorsN.data(), count, getDeviceName(), "TEMPERATURES", "Temperatures",
                       kSensorsGroup, IP_RO, 0, IPS_IDLE);
    IUFillSwitchVector(&m_ThermometerSP, m_ThermometerS.data(), count + 1, getDeviceName(), kThermometer,
                       "Comp. Thermometer", MAIN_CONTROL_TAB, IP_RW, ISR_1OFMANY, 10, IPS_IDLE);
}

bool ControllerDevice::updateProperties() {
    FocuserBase::updateProperties();
    const auto snapshot = m_Driver.Latest();
    if (isConnected()) {
        BuildSensors(*snapshot);
        defineProperty(&m_TemperatureNP);
        defineProperty(&m_CompSP);
        defineProperty(&m_ThermometerSP);
        if (m_SensorsNP.nnp > 0) defineProperty(&m_SensorsNP);
        defineProperty(&m_VoltageNP);
        defineProperty(&m_PowerNP);
        defineProperty(&m_OutputsLP);
        m_Defined = true;
        DefineParts(*snapshot);
    } else {
        for (DevicePart* part : m_Parts) part->Delete();
        m_PartsMode.reset();
        if (m_Defined) {
            for (const char* name : {m_TemperatureNP.name, m_CompSP.name, m_ThermometerSP.name, m_SensorsNP.name,
                                     m_VoltageNP.name, m_PowerNP.name, m_OutputsLP.name})
                deleteProperty(name);
            m_Defined = false;
        }
    }
    return true;
}

void ControllerDevice::DefineParts(const Snapshot& s) {
    const std::int8_t mode = s.connectedMode.value_or(s.mode);
    if (m_PartsMode == mode) return;
    m_PartsMode = mode;
    std::uint16_t interfaces = FOCUSER_INTERFACE | AUX_INTERFACE;
    for (DevicePart* part : m_Parts) {
        part->Delete();
        if (!part->Fits(mode)) continue;
        part->Define(s);
        part->Refresh(s, std::nullopt, true);
    }
    if (m_Wheel.Fits(mode)) interfaces |= FILTER_INTERFACE;
    if (m_Rotator.Fits(mode)) interfaces |= ROTATOR_INTERFACE;
    if (m_Cover.Fits(mode)) interfaces |= DUSTCAP_INTERFACE;
    if (interfaces != getDriverInterface()) {
        setDriverInterface(interfaces);
        syncDriverInfo();
    }
}

void ControllerDevice::ModeRead(std::int8_t) {
    if (isConnected()) DefineParts(*m_Driver.Latest());
}

std::vector<MoveKind> ControllerDevice::OwnMoves() const {
    return {MoveKind::Focuser0, MoveKind::Wheel, MoveKind::Home, MoveKind::SecondMotor};
}

bool ControllerDevice::saveConfigItems(FILE* fp) {
    FocuserBase::saveConfigItems(fp);
    for (DevicePart* part : m_Parts) part->SaveConfig(fp);
    return true;
}

bool ControllerDevice::HandleNumber(const char* name, double values[], char* names[], int n) {
    for (DevicePart* part : m_Parts)
        if (part->HandleNumber(name, values, names, n)) return true;
    return FocuserBase::HandleNumber(name, values, names, n);
}

bool ControllerDevice::HandleText(const char* name, char* texts[], char* names[], int n) {
    for (DevicePart* part : m_Parts)
        if (part->HandleText(name, texts, names, n)) return true;
    return FocuserBase::HandleText(name, texts, names, n);
}

bool ControllerDevice::HandleSwitch(const char* name, ISState* states, char* names[], int n) {
    for (DevicePart* part : m_Parts)
        if (part->HandleSwitch(name, states, names, n)) return true;
    if (Is(name, m_CompSP.name)) {
        const char* on = IUFindOnSwitchName(states, names, n);
        if (on) SetCompensation(Is(on, "INDI_ENABLED"));
        return true;
    }
    if (Is(name, kThermometer)) {
        const char* on = IUFindOnSwitchName(states, names, n);
        if (ISwitch* chosen = on ? IUFindSwitch(&m_ThermometerSP, on) : nullptr)
            SetThermometer(static_cast<int>(chosen - m_ThermometerSP.sp) - 1);
        return true;
    }
    return FocuserBase::HandleSwitch(name, states, names, n);
}

void ControllerDevice::SetThermometer(int thermometer) {
    if (!isConnected()) return Refuse(kThermometer, "The focuser is not connected");
    m_ThermometerSP.s = IPS_BUSY;
    IDSetSwitch(&m_ThermometerSP, nullptr);
    RunCommand([thermometer](DeviceService& s) { return s.SetPreferredThermometer(thermometer); },
               [this](const CommandResult& r) {
                   if (!r.Ok()) return Refuse(kThermometer, "The compensation thermometer was not changed: " + r.message);
                   m_ThermometerSP.s = IPS_OK;
                   Refresh(*m_Driver.Latest(), std::nullopt, true);
               });
}

void ControllerDevice::SetCompensation(bool on) {
    const auto snapshot = m_Driver.Latest();
    const char* property = m_CompSP.name;
    if (!isConnected()) return Refuse(property, "The focuser is not connected");
    // The controller compensates on the chosen thermometer; without one, "on" would be "off".
    if (on && snapshot->settings.AscomPreferredTermometer < 0)
        return Refuse(property, "Temperature compensation needs a thermometer: choose one in Comp. Thermometer "
                                "(COMPENSATION_THERMOMETER) first");
    m_CompPending = true;
    m_CompS[0].s = on ? ISS_ON : ISS_OFF;
    m_CompS[1].s = on ? ISS_OFF : ISS_ON;
    m_CompSP.s = IPS_BUSY;
    IDSetSwitch(&m_CompSP, nullptr);
    RunCommand([on](DeviceService& s) { return s.SetTempComp(on); },
               [this, on](const CommandResult& r) {
                   m_CompPending = false;
                   const bool now = r.Ok() ? on : m_Driver.Latest()->status.AutoComp >= 0;
                   m_CompS[0].s = now ? ISS_ON : ISS_OFF;
                   m_CompS[1].s = now ? ISS_OFF : ISS_ON;
                   if (!r.Ok()) return Refuse(m_CompSP.name, "Temperature compensation was not changed: " + r.message);
                   m_CompSP.s = IPS_OK;
                   IDSetSwitch(&m_CompSP, nullptr);
               });
}

void ControllerDevice::Refresh(const Snapshot& s, const std::optional<std::string>& problem, bool force) {
    FocuserBase::Refresh(s, problem, force);
    if (!m_Defined) return;
    if (isConnected()) DefineParts(s);
    for (DevicePart* part : m_Parts)
        if (part->Fits(m_PartsMode.value_or(s.mode))) part->Refresh(s, problem, force);
    double celsius = 0;
    const bool good = s.Temperature(celsius) && !problem;
    Report(m_TemperatureNP, celsius, good ? IPS_OK : IPS_ALERT, force);

    if (!m_CompPending) {
        const bool on = s.status.AutoComp >= 0;
        const IPState state = Shown(m_CompSP.name, problem ? IPS_ALERT : IPS_OK);
        if (force || (m_CompS[0].s == ISS_ON) != on || m_CompSP.s != state) {
            m_CompS[0].s = on ? ISS_ON : ISS_OFF;
            m_CompS[1].s = on ? ISS_OFF : ISS_ON;
            m_CompSP.s = state;
            IDSetSwitch(&m_CompSP, nullptr);
        }
    }

    if (m_ThermometerSP.s != IPS_BUSY) {
        const int chosen = s.settings.AscomPreferredTermometer + 1;
        const IPState state = Shown(kThermometer, IPS_OK);
        bool changed = force || m_ThermometerSP.s != state;
        for (int i = 0; i < m_ThermometerSP.nsp; ++i) {
            const ISState want = i == chosen ? ISS_ON : ISS_OFF;
            changed = changed || m_ThermometerSP.sp[i].s != want;
            m_ThermometerSP.sp[i].s = want;
        }
        if (changed) {
            m_ThermometerSP.s = state;
            IDSetSwitch(&m_ThermometerSP, nullptr);
        }
    }
    if (m_SensorsNP.nnp > 0) {
        std::vector<double> values;
        bool all = true;
        for (int i = 0; i < m_SensorsNP.nnp; ++i) {
            const float t = s.status.Temp[i];
            all = all && t != kNoReading;
            values.push_back(t == kNoReading ? 0.0 : t);
        }
        Report(m_SensorsNP, values, all && !problem ? IPS_OK : IPS_ALERT, force);
    }
    const IPState readings = problem ? IPS_ALERT : IPS_OK;
    Report(m_VoltageNP, s.status.Vin, readings, force);
    Report(m_PowerNP, s.status.Out, readings, force);
    bool lightsChanged = force || m_OutputsLP.s != readings;
    for (int i = 0; i < 4; ++i) {
        const IPState light = (s.status.Sw >> i) & 1 ? IPS_OK : IPS_IDLE;
        lightsChanged = lightsChanged || m_OutputsL[i].s != light;
        m_OutputsL[i].s = light;
    }
    if (lightsChanged) {
        m_OutputsLP.s = readings;
        IDSetLight(&m_OutputsLP, nullptr);
    }
}

} // namespace velq3::indi
