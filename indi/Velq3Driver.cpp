#include "indi/Velq3Driver.h"

#include <chrono>
#include <cstring>
#include <exception>

#include "indi/Velq3Device.h"

namespace velq3::indi {

namespace {
// Move outcomes kept for devices whose accepted-move answer arrives after the end of the move.
constexpr std::size_t kKeptOutcomes = 32;
}

Velq3Driver::~Velq3Driver() {
    {
        std::lock_guard lock(m_JobMutex);
        m_Stop = true;
        m_Jobs.clear();
    }
    m_JobReady.notify_all();
    if (m_CommandThread.joinable()) m_CommandThread.join();
    if (m_Service) {
        m_Service->Service().RemoveListener(m_Listener);
        // The operator's own port choice is what the device saves, not the one of this driver.
        const int saved = m_SavedComPort;
        m_Service->Invoke([saved](OrnFilterWheel& fw) { fw.ComPort = saved; });
        m_Service.reset();
    }
}

std::shared_ptr<const Snapshot> Velq3Driver::Latest() const {
    if (m_Service) return m_Service->Service().Current();
    static const auto empty = std::make_shared<const Snapshot>();
    return empty;
}

SteadyTime Velq3Driver::Now() const { return m_Service ? m_Service->Service().Now() : std::chrono::steady_clock::now(); }

bool Velq3Driver::EnsureStarted(std::string& error) {
    if (m_Service) return true;
    try {
        if (!m_Inbox) m_Inbox = std::make_unique<LoopInbox>();
        m_Hive = std::make_unique<RegistryHive>(OpenCurrentUserHive());
        DeviceEnvironment env;
        env.userHive = m_Hive.get();
        // The device opens "port 1", which is whatever path the devices' DEVICE_PORT names.
        env.portPath = [this](int) { return Port(); };
        ServiceOptions options;
        options.pollInterval = std::chrono::milliseconds(m_PollMs);
        m_Service = std::make_unique<ServiceThread>(std::move(env), options);
        m_Service->Invoke([this](OrnFilterWheel& fw) {
            m_SavedComPort = fw.ComPort;
            fw.ComPort = 1;
        });
        LoopInbox* inbox = m_Inbox.get();
        m_Listener = m_Service->Service().AddListener([this, inbox](const std::shared_ptr<const Snapshot>& s) {
            inbox->Post([this, s] { OnSnapshot(s); });
        });
        m_CommandThread = std::thread([this] { CommandLoop(); });
        return true;
    } catch (const std::exception& e) {
        m_Service.reset();
        error = std::string("The device service could not start: ") + e.what();
        return false;
    }
}

void Velq3Driver::Call(std::function<CommandResult(DeviceService&)> call, std::function<void(const CommandResult&)> done) {
    std::string error;
    if (!EnsureStarted(error)) {
        done(CommandResult::Error(CommandStatus::Stopped, error));
        return;
    }
    {
        std::lock_guard lock(m_JobMutex);
        m_Jobs.push_back(Job{std::move(call), std::move(done)});
    }
    m_JobReady.notify_one();
}

void Velq3Driver::CommandLoop() {
    for (;;) {
        Job job;
        {
            std::unique_lock lock(m_JobMutex);
            m_JobReady.wait(lock, [this] { return m_Stop || !m_Jobs.empty(); });
            if (m_Stop) return;
            job = std::move(m_Jobs.front());
            m_Jobs.pop_front();
        }
        CommandResult result = job.call(m_Service->Service());
        m_Inbox->Post([done = std::move(job.done), result = std::move(result)] { done(result); });
    }
}

void Velq3Driver::OnSnapshot(const std::shared_ptr<const Snapshot>& snapshot) {
    m_Latest = snapshot;
    const MoveOutcome& last = snapshot->lastMove;
    if (last.sequence != 0) {
        m_Outcomes[last.sequence] = last;
        while (m_Outcomes.size() > kKeptOutcomes) m_Outcomes.erase(m_Outcomes.begin());
    }
    if (snapshot->connectedMode && snapshot->connectedMode != m_ModeRead) {
        m_ModeRead = snapshot->connectedMode;
        for (Velq3Device* d : m_Devices) d->ModeRead(*m_ModeRead);
    }
    for (Velq3Device* d : m_Devices) d->SnapshotArrived(*snapshot);
}

std::optional<MoveOutcome> Velq3Driver::Outcome(std::uint64_t sequence) const {
    if (const auto it = m_Outcomes.find(sequence); it != m_Outcomes.end()) return it->second;
    // The newest snapshot may already tell what the inbox has not delivered yet.
    const auto latest = Latest();
    if (latest->lastMove.sequence == sequence) return latest->lastMove;
    return std::nullopt;
}

Velq3Device* Velq3Driver::Find(const char* name) const {
    for (Velq3Device* d : m_Devices)
        if (name && std::strcmp(d->getDeviceName(), name) == 0) return d;
    return nullptr;
}

std::string Velq3Driver::Port() const {
    std::lock_guard lock(m_PortMutex);
    return m_Port;
}

void Velq3Driver::SetPort(const std::string& path, Velq3Device* from, bool persist) {
    {
        std::lock_guard lock(m_PortMutex);
        if (m_Port == path) return;
        m_Port = path;
    }
    for (Velq3Device* d : m_Devices)
        if (d != from) d->ShowPort(path, persist);
}

void Velq3Driver::SetPollPeriod(std::uint32_t ms, Velq3Device* from) {
    if (ms == 0 || ms == m_PollMs) return;
    m_PollMs = ms;
    for (Velq3Device* d : m_Devices)
        if (d != from) d->ShowPollPeriod(ms);
    ApplyPollPeriod();
}

void Velq3Driver::ApplyPollPeriod() {
    if (!m_Service) return;  // the service starts with the current period
    // The service's own poll has a fixed period; this driver replaces it by a timer of its own
    // on the owner loop that runs the same poll turn. Posted, never waited for: the owner may
    // be in the middle of a move.
    DeviceService* service = &m_Service->Service();
    MainLoop* loop = &m_Service->Loop();
    const auto period = std::chrono::milliseconds(m_PollMs);
    loop->PostTask([this, service, loop, period] {
        service->StopPoll();
        if (m_PollTimer != kNoTimer) loop->RemoveTimer(m_PollTimer);
        m_PollTimer = loop->AddTimer(period, [service] { service->PollOnce(); });
    });
}

} // namespace velq3::indi
