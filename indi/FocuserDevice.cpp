#include "indi/FocuserDevice.h"

#include <cstring>

#include "indi/Velq3Driver.h"

namespace velq3::indi {

namespace {
constexpr const char* kSensorsGroup = "Sensors";
constexpr float kNoReading = 1e30f;

bool Is(const char* a, const char* b) { return a && b && std::strcmp(a, b) == 0; }
}  // namespace

FocuserDevice::FocuserDevice(Velq3Driver& driver) : FocuserBase(driver, DeviceKind::Focuser, "VELQ3 Focuser", 0) {}

bool FocuserDevice::initProperties() {
    FocuserBase::initProperties();
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

void FocuserDevice::BuildSensors(const Snapshot& s) {
    const int count = std::clamp(s.sensorCount, 0, 4);
    m_SensorsN.assign(static_cast<std::size_t>(count), INumber{});
    for (int i = 0; i < count; ++i) {
        const std::string name = "TEMPERATURE_" + std::to_string(i + 1);
        const std::string& given = s.thermometerNames[static_cast<std::size_t>(i)];
        const std::string label = given.empty() ? "Sensor " + std::to_string(i + 1) : given;
        IUFillNumber(&m_SensorsN[static_cast<std::size_t>(i)], name.c_str(), label.c_str(), "%6.2f", -100, 100, 0, 0);
    }
    IUFillNumberVector(&m_SensorsNP, m_SensorsN.data(), count, getDeviceName(), "TEMPERATURES", "Temperatures",
                       kSensorsGroup, IP_RO, 0, IPS_IDLE);
}

bool FocuserDevice::updateProperties() {
    FocuserBase::updateProperties();
    if (isConnected()) {
        BuildSensors(*m_Driver.Latest());
        defineProperty(&m_TemperatureNP);
        defineProperty(&m_CompSP);
        if (m_SensorsNP.nnp > 0) defineProperty(&m_SensorsNP);
        defineProperty(&m_VoltageNP);
        defineProperty(&m_PowerNP);
        defineProperty(&m_OutputsLP);
        m_Defined = true;
    } else if (m_Defined) {
        for (const char* name : {m_TemperatureNP.name, m_CompSP.name, m_SensorsNP.name, m_VoltageNP.name, m_PowerNP.name,
                                 m_OutputsLP.name})
            deleteProperty(name);
        m_Defined = false;
    }
    return true;
}

bool FocuserDevice::ISNewSwitch(const char* dev, const char* name, ISState* states, char* names[], int n) {
    if (Is(dev, getDeviceName()) && Is(name, m_CompSP.name)) {
        const char* on = IUFindOnSwitchName(states, names, n);
        if (on) SetCompensation(Is(on, "INDI_ENABLED"));
        return true;
    }
    return FocuserBase::ISNewSwitch(dev, name, states, names, n);
}

void FocuserDevice::SetCompensation(bool on) {
    const auto snapshot = m_Driver.Latest();
    auto refuse = [&](const char* why) {
        m_CompSP.s = IPS_ALERT;
        IDSetSwitch(&m_CompSP, nullptr);
        LOG_ERROR(why);
    };
    if (!isConnected()) return refuse("The focuser is not connected");
    // The controller compensates on the preferred thermometer; without one, "on" would be "off".
    if (on && snapshot->settings.AscomPreferredTermometer < 0)
        return refuse("Temperature compensation needs a preferred thermometer (focuser setting AscomPreferredTermometer)");
    m_CompPending = true;
    m_CompFailed = false;
    m_CompS[0].s = on ? ISS_ON : ISS_OFF;
    m_CompS[1].s = on ? ISS_OFF : ISS_ON;
    m_CompSP.s = IPS_BUSY;
    IDSetSwitch(&m_CompSP, nullptr);
    RunCommand([on](DeviceService& s) { return s.SetTempComp(on); },
               [this, on](const CommandResult& r) {
                   m_CompPending = false;
                   m_CompFailed = !r.Ok();
                   const bool now = r.Ok() ? on : m_Driver.Latest()->status.AutoComp >= 0;
                   m_CompS[0].s = now ? ISS_ON : ISS_OFF;
                   m_CompS[1].s = now ? ISS_OFF : ISS_ON;
                   m_CompSP.s = r.Ok() ? IPS_OK : IPS_ALERT;
                   IDSetSwitch(&m_CompSP, nullptr);
                   if (!r.Ok()) LOGF_ERROR("Temperature compensation was not changed: %s", r.message.c_str());
               });
}

void FocuserDevice::Refresh(const Snapshot& s, const std::optional<std::string>& problem, bool force) {
    FocuserBase::Refresh(s, problem, force);
    if (!m_Defined) return;
    double celsius = 0;
    const bool good = s.Temperature(celsius) && !problem;
    Report(m_TemperatureNP, celsius, good ? IPS_OK : IPS_ALERT, force);

    if (!m_CompPending) {
        const bool on = s.status.AutoComp >= 0;
        const IPState state = problem || m_CompFailed ? IPS_ALERT : IPS_OK;
        if (force || (m_CompS[0].s == ISS_ON) != on || m_CompSP.s != state) {
            m_CompS[0].s = on ? ISS_ON : ISS_OFF;
            m_CompS[1].s = on ? ISS_OFF : ISS_ON;
            m_CompSP.s = state;
            IDSetSwitch(&m_CompSP, nullptr);
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
