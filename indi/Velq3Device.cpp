#include "indi/Velq3Device.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include <indicom.h>

#include "indi/SerialPortChoice.h"
#include "indi/Velq3Driver.h"

namespace velq3::indi {

namespace {
constexpr const char* kPortProperty = "DEVICE_PORT";
constexpr std::uint32_t kDefaultPollMs = 1000;

bool Is(const char* a, const char* b) { return a && b && std::strcmp(a, b) == 0; }
}  // namespace

std::string ModeName(std::int8_t mode) {
    if (mode >= 1 && mode <= 10) return "filter wheel (" + std::to_string(mode) + " filters)";
    if (mode >= 11 && mode <= 20) return "virtual filter wheel (" + std::to_string(mode - 10) + " filters)";
    if (mode > 20) return "filter wheel (10 filters)";
    switch (mode) {
    case 0: return "second focuser";
    case -1: return "rotator";
    case -2: return "cover";
    default: return "unknown (" + std::to_string(mode) + ")";
    }
}

std::string NeededMode(DeviceKind kind) {
    switch (kind) {
    case DeviceKind::FilterWheel: return "a filter wheel mode";
    case DeviceKind::Focuser: return "any mode";
    case DeviceKind::Focuser2: return "second focuser mode";
    case DeviceKind::Rotator: return "rotator mode";
    case DeviceKind::Cover: return "cover mode";
    }
    return "another mode";
}

Velq3Device::Velq3Device(Velq3Driver& driver, DeviceKind kind, const char* name)
    : m_Driver(driver), m_Kind(kind), m_Id(DeviceService::NewClient()), m_Name(name) {
    setVersion(1, 0);
    m_Driver.AddDevice(this);
}

// libindi allocates the texts of text properties and leaves them to their owner.
Velq3Device::~Velq3Device() { free(m_PortT[0].text); }

bool Velq3Device::initProperties() {
    DefaultDevice::initProperties();
    if (m_Driver.Port().empty()) m_Driver.SetPort(DefaultSerialPort(), this, false);
    IUFillText(&m_PortT[0], "PORT", "Port", m_Driver.Port().c_str());
    IUFillTextVector(&m_PortTP, m_PortT, 1, getDeviceName(), kPortProperty, "Ports", CONNECTION_TAB, IP_RW, 60, IPS_IDLE);
    addDebugControl();
    addConfigurationControl();
    addPollPeriodControl();
    setDefaultPollingPeriod(kDefaultPollMs);
    return true;
}

void Velq3Device::ISGetProperties(const char* dev) {
    if (dev && !Is(dev, getDeviceName())) return;
    DefaultDevice::ISGetProperties(dev);
    // Defined once: later getProperties calls resend every defined property by themselves.
    if (!m_ConfigLoaded) {
        defineProperty(&m_PortTP);
        m_ConfigLoaded = true;
        m_LoadingConfig = true;
        loadConfig(true, kPortProperty);
        loadConfig(true, "POLLING_PERIOD");
        LoadOwnConfig();
        m_LoadingConfig = false;
    }
}

bool Velq3Device::updateProperties() {
    DefaultDevice::updateProperties();
    return true;
}

bool Velq3Device::saveConfigItems(FILE* fp) {
    DefaultDevice::saveConfigItems(fp);
    IUSaveConfigText(fp, &m_PortTP);
    return true;
}

bool Velq3Device::ISNewSwitch(const char* dev, const char* name, ISState* states, char* names[], int n) {
    if (Is(dev, getDeviceName()) && Is(name, "CONNECTION")) {
        const char* on = IUFindOnSwitchName(states, names, n);
        if (Is(on, "CONNECT")) RequestConnect();
        else if (Is(on, "DISCONNECT")) RequestDisconnect();
        return true;
    }
    return DefaultDevice::ISNewSwitch(dev, name, states, names, n);
}

bool Velq3Device::ISNewText(const char* dev, const char* name, char* texts[], char* names[], int n) {
    if (Is(dev, getDeviceName()) && Is(name, kPortProperty)) {
        IUUpdateText(&m_PortTP, texts, names, n);
        std::string path = m_PortT[0].text ? m_PortT[0].text : "";
        while (!path.empty() && (path.back() == ' ' || path.back() == '\n')) path.pop_back();
        if (path.empty()) {
            IUSaveText(&m_PortT[0], m_Driver.Port().c_str());
            m_PortTP.s = IPS_ALERT;
            IDSetText(&m_PortTP, "The serial port cannot be empty");
            return false;
        }
        m_PortTP.s = IPS_OK;
        IDSetText(&m_PortTP, nullptr);
        const auto snapshot = m_Driver.Latest();
        if (snapshot->open && snapshot->portPath != path && !m_LoadingConfig)
            LOGF_WARN("The controller stays connected on %s; %s is used from the next connection", snapshot->portPath.c_str(),
                      path.c_str());
        m_Driver.SetPort(path, this, !m_LoadingConfig);
        if (!m_LoadingConfig) saveConfig(true, kPortProperty);
        return true;
    }
    return DefaultDevice::ISNewText(dev, name, texts, names, n);
}

bool Velq3Device::ISNewNumber(const char* dev, const char* name, double values[], char* names[], int n) {
    if (Is(dev, getDeviceName()) && Is(name, "POLLING_PERIOD")) {
        const bool done = DefaultDevice::ISNewNumber(dev, name, values, names, n);
        m_Driver.SetPollPeriod(getCurrentPollingPeriod(), this);
        return done;
    }
    return DefaultDevice::ISNewNumber(dev, name, values, names, n);
}

void Velq3Device::ShowPort(const std::string& path, bool persist) {
    if (m_PortT[0].text == nullptr) return;  // not initialised yet: initProperties reads the port
    IUSaveText(&m_PortT[0], path.c_str());
    m_PortTP.s = IPS_OK;
    IDSetText(&m_PortTP, nullptr);
    // Every device's config names the same port, whichever device saved it last.
    if (persist) saveConfig(true, kPortProperty);
}

void Velq3Device::ShowPollPeriod(std::uint32_t ms) {
    if (getCurrentPollingPeriod() == ms) return;
    double value = ms;
    char element[] = "PERIOD_MS";
    char* names[] = {element};
    DefaultDevice::ISNewNumber(getDeviceName(), "POLLING_PERIOD", &value, names, 1);
}

// ---- connection ----

void Velq3Device::RequestConnect() {
    if (isConnected()) {
        setConnected(true, IPS_OK);
        return;
    }
    if (m_Connecting) return;
    const std::string port = m_Driver.Port();
    if (port.empty()) {
        setConnected(false, IPS_ALERT);
        LOG_ERROR("No serial port is set (DEVICE_PORT)");
        return;
    }
    m_Connecting = true;
    if (auto sp = getSwitch("CONNECTION"); !sp.isEmpty()) {
        sp.setState(IPS_BUSY);
        sp.apply();
    }
    LOGF_INFO("Connecting to the controller on %s...", port.c_str());
    const ClientId id = m_Id;
    const DeviceKind kind = m_Kind;
    RunCommand([id, kind](DeviceService& s) { return s.Connect(id, kind); },
               [this](const CommandResult& r) { ConnectDone(r); });
}

void Velq3Device::ConnectDone(const CommandResult& result) {
    m_Connecting = false;
    if (!result.Ok()) {
        setConnected(false, IPS_ALERT);
        LOG_ERROR(ConnectFailure(result).c_str());
        return;
    }
    setConnected(true, IPS_OK);
    LOGF_INFO("Connected to the controller on %s", m_Driver.Port().c_str());
    updateProperties();
    const auto snapshot = m_Driver.Latest();
    const auto problem = snapshot->ReadingProblem(m_Driver.Now());
    m_Stale = problem.has_value();
    Refresh(*snapshot, problem, true);
    if (m_TimerId < 0) m_TimerId = SetTimer(getCurrentPollingPeriod());
}

std::string Velq3Device::ConnectFailure(const CommandResult& result) const {
    if (result.status == CommandStatus::WrongMode) {
        return std::string(m_Name) + " cannot connect: the controller is in " + ModeName(m_Driver.Latest()->mode) +
               " mode, and this device needs " + NeededMode(m_Kind) + ". Nothing was connected.";
    }
    if (result.status == CommandStatus::Busy || result.status == CommandStatus::Stopped) return result.message;
    const std::string port = m_Driver.Port();
    if (const auto problem = DescribePortProblem(port)) return *problem;
    return "No controller answers on " + port + (result.message.empty() ? "" : " (" + result.message + ")");
}

void Velq3Device::RequestDisconnect() {
    if (!isConnected() && !m_Connecting) {
        setConnected(false, IPS_IDLE);
        return;
    }
    const ClientId id = m_Id;
    m_Disconnecting = true;
    RunCommand([id](DeviceService& s) { return s.Disconnect(id); },
               [this](const CommandResult& r) {
                   m_Disconnecting = false;
                   if (!r.Ok() && r.status != CommandStatus::NotConnected) LOG_WARN(r.message.c_str());
                   if (m_TimerId >= 0) RemoveTimer(m_TimerId);
                   m_TimerId = -1;
                   setConnected(false, IPS_IDLE);
                   updateProperties();
                   LOG_INFO("Disconnected");
               });
}

// ---- status ----

void Velq3Device::TimerHit() {
    m_TimerId = -1;
    if (!isConnected()) return;
    SnapshotArrived(*m_Driver.Latest());
    m_TimerId = SetTimer(getCurrentPollingPeriod());
}

void Velq3Device::SnapshotArrived(const Snapshot& snapshot) {
    FinishMoves();
    if (!isConnected()) return;
    if (!snapshot.open) {
        if (m_Disconnecting) return;  // this device's own disconnection closed it
        // The link closed under this device (the line went away and the device gave up).
        if (m_TimerId >= 0) RemoveTimer(m_TimerId);
        m_TimerId = -1;
        setConnected(false, IPS_ALERT);
        updateProperties();
        LOG_ERROR("The serial link to the controller has closed");
        return;
    }
    const auto problem = snapshot.ReadingProblem(m_Driver.Now());
    if (problem && !m_Stale) LOG_ERROR(problem->c_str());
    if (!problem && m_Stale) LOG_INFO("The controller answers again");
    m_Stale = problem.has_value();
    Refresh(snapshot, problem, false);
}

// ---- commands and moves ----

void Velq3Device::RunCommand(std::function<CommandResult(DeviceService&)> call, std::function<void(const CommandResult&)> done) {
    m_Driver.Call(std::move(call), std::move(done));
}

void Velq3Device::StartMove(std::function<CommandResult(DeviceService&)> call, std::function<void(const MoveOutcome&)> finish) {
    const std::uint64_t token = m_NextToken++;
    m_Moves.push_back(PendingMove{0, token, std::move(finish)});
    RunCommand(std::move(call), [this, token](const CommandResult& r) {
        const auto it = std::find_if(m_Moves.begin(), m_Moves.end(), [token](const PendingMove& m) { return m.token == token; });
        if (it == m_Moves.end()) return;
        if (!r.Ok() || r.moveSequence == 0) {
            MoveOutcome refused;
            refused.ok = r.Ok();
            refused.message = r.message.empty() ? "The move was refused" : r.message;
            auto finish = std::move(it->finish);
            m_Moves.erase(it);
            finish(refused);
            return;
        }
        it->sequence = r.moveSequence;
        FinishMoves();
    });
}

void Velq3Device::FinishMoves() {
    std::vector<std::pair<std::function<void(const MoveOutcome&)>, MoveOutcome>> ended;
    for (auto it = m_Moves.begin(); it != m_Moves.end();) {
        std::optional<MoveOutcome> outcome;
        if (it->sequence != 0) outcome = m_Driver.Outcome(it->sequence);
        if (outcome) {
            ended.emplace_back(std::move(it->finish), *outcome);
            it = m_Moves.erase(it);
        } else {
            ++it;
        }
    }
    for (auto& [finish, outcome] : ended) finish(outcome);
}

void Velq3Device::Report(INumberVectorProperty& p, double value, IPState state, bool force) {
    if (!force && p.np[0].value == value && p.s == state) return;
    p.np[0].value = value;
    p.s = state;
    IDSetNumber(&p, nullptr);
}

void Velq3Device::Report(INumberVectorProperty& p, const std::vector<double>& values, IPState state, bool force) {
    bool same = p.s == state && static_cast<int>(values.size()) == p.nnp;
    for (int i = 0; same && i < p.nnp; ++i) same = p.np[i].value == values[static_cast<std::size_t>(i)];
    if (same && !force) return;
    for (int i = 0; i < p.nnp && i < static_cast<int>(values.size()); ++i) p.np[i].value = values[static_cast<std::size_t>(i)];
    p.s = state;
    IDSetNumber(&p, nullptr);
}

} // namespace velq3::indi
