#include "indi/Velq3Device.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include <indicom.h>
#include <indidriver.h>

#include "indi/SerialPortChoice.h"
#include "indi/Velq3Driver.h"

namespace velq3::indi {

namespace {
constexpr const char* kPortProperty = "DEVICE_PORT";
constexpr const char* kPortsProperty = "SYSTEM_PORTS";
constexpr std::uint32_t kDefaultPollMs = 1000;
}  // namespace

bool Is(const char* a, const char* b) { return a && b && std::strcmp(a, b) == 0; }

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

Velq3Device::Velq3Device(Velq3Driver& driver, DeviceKind kind, std::string name)
    : m_Driver(driver), m_Kind(kind), m_Id(DeviceService::NewClient()), m_Name(std::move(name)) {
    setVersion(1, 0);
    // Named before libindi's first getProperties, which would otherwise give every device of
    // the process the name in INDIDEV.
    setDeviceName(m_Name.c_str());
    m_Driver.AddDevice(this);
}

// libindi allocates the texts of text properties and leaves them to their owner.
Velq3Device::~Velq3Device() {
    free(m_PortT[0].text);
    FreePorts();
}

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
    if (!Offered()) return;
    DefaultDevice::ISGetProperties(dev);
    // Defined once: later getProperties calls resend every defined property by themselves.
    if (!m_ConfigLoaded) {
        // The saved port is read first, so that clients never see the default in its place.
        char saved[MAXINDINAME * 4] = "";
        if (IUGetConfigText(getDeviceName(), kPortProperty, "PORT", saved, sizeof saved) == 0 && saved[0] != '\0') {
            IUSaveText(&m_PortT[0], saved);
            m_Driver.SetPort(saved, this, false);
        }
        defineProperty(&m_PortTP);
        m_ConfigLoaded = true;
        m_LoadingConfig = true;
        loadConfig(true, "POLLING_PERIOD");
        LoadOwnConfig();
        m_LoadingConfig = false;
        ListPorts();
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

// ---- requests ----

std::optional<std::string> Velq3Device::CheckElements(const char* name, char* names[], int n) {
    const INDI::Property p = getProperty(name);
    for (int i = 0; i < n; ++i) {
        const char* element = names[i];
        bool known = false;
        if (auto* np = p.getNumber()) known = IUFindNumber(np, element) != nullptr;
        else if (auto* sp = p.getSwitch()) known = IUFindSwitch(sp, element) != nullptr;
        else if (auto* tp = p.getText()) known = IUFindText(tp, element) != nullptr;
        if (!known) return std::string(name) + " has no element " + (element ? element : "(none)") + "; nothing was changed";
    }
    return std::nullopt;
}

std::optional<std::string> Velq3Device::CheckNumbers(const char* name, const double values[], char* names[], int n) {
    if (auto bad = CheckElements(name, names, n)) return bad;
    INumberVectorProperty* p = getProperty(name, INDI_NUMBER).getNumber();
    for (int i = 0; i < n; ++i) {
        const INumber* e = IUFindNumber(p, names[i]);
        char text[256];
        if (!std::isfinite(values[i])) {
            std::snprintf(text, sizeof text, "%s.%s must be a number; nothing was changed", name, names[i]);
            return std::string(text);
        }
        if (e->min < e->max && (values[i] < e->min || values[i] > e->max)) {
            std::snprintf(text, sizeof text, "%s.%s = %g is out of range: it goes from %g to %g; nothing was changed", name,
                          names[i], values[i], e->min, e->max);
            return std::string(text);
        }
    }
    return std::nullopt;
}

bool Velq3Device::ISNewSwitch(const char* dev, const char* name, ISState* states, char* names[], int n) {
    if (!Is(dev, getDeviceName()) || !Offered() || !getProperty(name).isValid()) return false;
    ClearAlert(name);
    if (auto bad = CheckElements(name, names, n)) {
        Refuse(name, *bad);
        return false;
    }
    return HandleSwitch(name, states, names, n);
}

bool Velq3Device::ISNewText(const char* dev, const char* name, char* texts[], char* names[], int n) {
    if (!Is(dev, getDeviceName()) || !Offered() || !getProperty(name).isValid()) return false;
    ClearAlert(name);
    if (auto bad = CheckElements(name, names, n)) {
        Refuse(name, *bad);
        return false;
    }
    return HandleText(name, texts, names, n);
}

bool Velq3Device::ISNewNumber(const char* dev, const char* name, double values[], char* names[], int n) {
    if (!Is(dev, getDeviceName()) || !Offered() || !getProperty(name).isValid()) return false;
    ClearAlert(name);
    if (auto bad = CheckNumbers(name, values, names, n)) {
        Refuse(name, *bad);
        return false;
    }
    return HandleNumber(name, values, names, n);
}

void Velq3Device::RefuseMalformed(const char* property, const std::string& why) {
    if (!Offered() || !getProperty(property).isValid()) return;
    Refuse(property, why);
}

void Velq3Device::Refuse(const char* property, const std::string& why) {
    m_Alerts.insert(property);
    INDI::Property p = getProperty(property);
    if (p.isValid()) {
        p.setState(IPS_ALERT);
        p.apply();
    }
    if (!why.empty()) LOG_ERROR(why.c_str());
}

IPState Velq3Device::Shown(const char* property, IPState state) const {
    return InAlert(property) && state != IPS_BUSY ? IPS_ALERT : state;
}

bool Velq3Device::HandleSwitch(const char* name, ISState* states, char* names[], int n) {
    if (Is(name, "CONNECTION")) {
        const char* on = IUFindOnSwitchName(states, names, n);
        if (Is(on, "CONNECT")) RequestConnect();
        else if (Is(on, "DISCONNECT")) RequestDisconnect();
        return true;
    }
    if (Is(name, kPortsProperty)) {
        const char* on = IUFindOnSwitchName(states, names, n);
        ISwitch* chosen = on ? IUFindSwitch(&m_PortsSP, on) : nullptr;
        if (!chosen) return true;
        SetPort(chosen->name);
        return true;
    }
    return DefaultDevice::ISNewSwitch(getDeviceName(), name, states, names, n);
}

bool Velq3Device::HandleText(const char* name, char* texts[], char* names[], int n) {
    if (Is(name, kPortProperty)) {
        std::string path = texts[0] ? texts[0] : "";
        while (!path.empty() && (path.back() == ' ' || path.back() == '\n')) path.pop_back();
        if (path.empty()) {
            IUSaveText(&m_PortT[0], m_Driver.Port().c_str());
            Refuse(kPortProperty, "The serial port cannot be empty");
            return false;
        }
        SetPort(path);
        return true;
    }
    return DefaultDevice::ISNewText(getDeviceName(), name, texts, names, n);
}

bool Velq3Device::HandleNumber(const char* name, double values[], char* names[], int n) {
    if (Is(name, "POLLING_PERIOD")) {
        const bool done = DefaultDevice::ISNewNumber(getDeviceName(), name, values, names, n);
        m_Driver.SetPollPeriod(getCurrentPollingPeriod(), this);
        return done;
    }
    return DefaultDevice::ISNewNumber(getDeviceName(), name, values, names, n);
}

// ---- ports ----

void Velq3Device::SetPort(const std::string& path) {
    IUSaveText(&m_PortT[0], path.c_str());
    m_PortTP.s = IPS_OK;
    IDSetText(&m_PortTP, nullptr);
    const auto snapshot = m_Driver.Latest();
    if (snapshot->open && snapshot->portPath != path && !m_LoadingConfig)
        LOGF_WARN("The controller stays connected on %s; %s is used from the next connection", snapshot->portPath.c_str(),
                  path.c_str());
    m_Driver.SetPort(path, this, !m_LoadingConfig);
    if (!m_LoadingConfig) {
        saveConfig(true, kPortProperty);
        ListPorts();
    }
}

void Velq3Device::FreePorts() { m_PortsS.clear(); }

void Velq3Device::ListPorts() {
    std::vector<std::string> ports = PresentSerialPorts();
    const std::string chosen = m_Driver.Port();
    if (!chosen.empty() && std::find(ports.begin(), ports.end(), chosen) == ports.end()) ports.push_back(chosen);
    if (m_PortsDefined) deleteProperty(kPortsProperty);
    m_PortsS.assign(ports.size(), ISwitch{});
    for (std::size_t i = 0; i < ports.size(); ++i) {
        // The path is the element's name and label, as in libindi's own list.
        IUFillSwitch(&m_PortsS[i], ports[i].c_str(), ports[i].c_str(), ports[i] == chosen ? ISS_ON : ISS_OFF);
    }
    IUFillSwitchVector(&m_PortsSP, m_PortsS.data(), static_cast<int>(m_PortsS.size()), getDeviceName(), kPortsProperty,
                       "System Ports", CONNECTION_TAB, IP_RW, ISR_ATMOST1, 60, IPS_IDLE);
    m_PortsDefined = !m_PortsS.empty();
    if (m_PortsDefined) defineProperty(&m_PortsSP);
}

void Velq3Device::ShowPort(const std::string& path, bool persist) {
    if (m_PortT[0].text == nullptr) return;  // not initialised yet: initProperties reads the port
    IUSaveText(&m_PortT[0], path.c_str());
    m_PortTP.s = IPS_OK;
    IDSetText(&m_PortTP, nullptr);
    // Every device's config names the same port, whichever device saved it last.
    if (persist) saveConfig(true, kPortProperty);
    if (m_ConfigLoaded) ListPorts();
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
    if (m_Disconnecting) {
        // Connects anew once the disconnection under way has ended (a new port may be set).
        m_ConnectAfter = true;
        return;
    }
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
    m_ConnectAfter = false;
    if (!isConnected() && !m_Connecting) {
        setConnected(false, IPS_IDLE);
        return;
    }
    // A move this device asked for and that has not run yet never runs after it let go.
    m_NextMoves.clear();
    const ClientId id = m_Id;
    const std::vector<MoveKind> moves = OwnMoves();
    m_Disconnecting = true;
    RunCommand(
        [id, moves](DeviceService& s) {
            for (MoveKind kind : moves) s.DropQueuedMove(kind);
            return s.Disconnect(id);
        },
        [this](const CommandResult& r) {
            m_Disconnecting = false;
            if (!r.Ok() && r.status != CommandStatus::NotConnected) LOG_WARN(r.message.c_str());
            if (m_TimerId >= 0) RemoveTimer(m_TimerId);
            m_TimerId = -1;
            m_Alerts.clear();
            setConnected(false, IPS_IDLE);
            updateProperties();
            LOG_INFO("Disconnected");
            if (m_ConnectAfter) {
                m_ConnectAfter = false;
                RequestConnect();
            }
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

void Velq3Device::StartMove(MoveKind kind, std::function<CommandResult(DeviceService&)> call,
                            std::function<void(const MoveOutcome&)> finish) {
    if (m_InFlight.count(kind)) {
        // A burst of requests ends in at most one more move: the newest.
        m_NextMoves[kind] = NextMove{std::move(call), std::move(finish)};
        return;
    }
    SendMove(kind, std::move(call), std::move(finish));
}

void Velq3Device::SendMove(MoveKind kind, std::function<CommandResult(DeviceService&)> call,
                           std::function<void(const MoveOutcome&)> finish) {
    const std::uint64_t token = m_NextToken++;
    m_Moves.push_back(PendingMove{kind, 0, token, std::move(finish)});
    m_InFlight.insert(kind);
    RunCommand(std::move(call), [this, token, kind](const CommandResult& r) {
        m_InFlight.erase(kind);
        const auto it = std::find_if(m_Moves.begin(), m_Moves.end(), [token](const PendingMove& m) { return m.token == token; });
        if (it != m_Moves.end()) {
            if (!r.Ok() || r.moveSequence == 0) {
                MoveOutcome refused;
                refused.ok = r.Ok();
                refused.message = r.message.empty() ? "The move was refused" : r.message;
                auto finish = std::move(it->finish);
                m_Moves.erase(it);
                finish(refused);
            } else {
                it->sequence = r.moveSequence;
                FinishMoves();
            }
        }
        const auto next = m_NextMoves.find(kind);
        if (next == m_NextMoves.end()) return;
        NextMove move = std::move(next->second);
        m_NextMoves.erase(next);
        if (isConnected()) SendMove(kind, std::move(move.call), std::move(move.finish));
    });
}

void Velq3Device::AbandonMoves(MoveKind kind, const std::string& why) {
    m_NextMoves.erase(kind);
    std::vector<PendingMove> abandoned;
    for (auto it = m_Moves.begin(); it != m_Moves.end();) {
        if (it->kind == kind) {
            abandoned.push_back(std::move(*it));
            it = m_Moves.erase(it);
        } else {
            ++it;
        }
    }
    MoveOutcome outcome;
    outcome.message = why;
    for (auto& m : abandoned) m.finish(outcome);
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
    Report(p, std::vector<double>{value}, state, force);
}

void Velq3Device::Report(INumberVectorProperty& p, const std::vector<double>& values, IPState state, bool force) {
    state = Shown(p.name, state);
    bool same = p.s == state && static_cast<int>(values.size()) == p.nnp;
    for (int i = 0; same && i < p.nnp; ++i) same = p.np[i].value == values[static_cast<std::size_t>(i)];
    if (same && !force) return;
    for (int i = 0; i < p.nnp && i < static_cast<int>(values.size()); ++i) p.np[i].value = values[static_cast<std::size_t>(i)];
    p.s = state;
    IDSetNumber(&p, nullptr);
}

} // namespace velq3::indi
