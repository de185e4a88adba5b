// The driver process: its INDI devices over one device service. The service runs the device
// object on its own owner thread (libindi owns the main thread); blocking service calls run on
// a command thread of this class, and their results, like every new snapshot, come back to
// libindi's thread through the loop inbox. Holds what the devices share: the serial port path
// and the status query period.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "indi/LoopInbox.h"
#include "platform/Registry.h"
#include "service/DeviceService.h"

namespace velq3::indi {

class Velq3Device;

class Velq3Driver {
public:
    Velq3Driver() = default;
    ~Velq3Driver();
    Velq3Driver(const Velq3Driver&) = delete;
    Velq3Driver& operator=(const Velq3Driver&) = delete;

    // ---- libindi's thread ----

    void AddDevice(Velq3Device* device) { m_Devices.push_back(device); }
    // The device of that name; null when there is none.
    Velq3Device* Find(const char* name) const;

    // The newest snapshot; an empty one before the service runs.
    std::shared_ptr<const Snapshot> Latest() const;
    SteadyTime Now() const;

    // Runs `call` on the command thread, where it may wait for the service, and then `done`
    // with its result on libindi's thread. Starts the service on first use; when it cannot
    // start, `done` gets the reason.
    void Call(std::function<CommandResult(DeviceService&)> call, std::function<void(const CommandResult&)> done);

    // How move `sequence` ended, once a snapshot has told.
    std::optional<MoveOutcome> Outcome(std::uint64_t sequence) const;

    // The serial port every device connects through, and its change by one device (the
    // others show the new path too; `persist`: and keep it in their config files).
    std::string Port() const;
    void SetPort(const std::string& path, Velq3Device* from, bool persist);

    // The status query period of the service, and its change by one device.
    std::uint32_t PollPeriod() const { return m_PollMs; }
    void SetPollPeriod(std::uint32_t ms, Velq3Device* from);

private:
    struct Job {
        std::function<CommandResult(DeviceService&)> call;
        std::function<void(const CommandResult&)> done;
    };

    // Starts the service thread, the listener and the command thread (libindi's thread).
    bool EnsureStarted(std::string& error);
    void CommandLoop();
    void OnSnapshot(const std::shared_ptr<const Snapshot>& snapshot);  // libindi's thread
    void ApplyPollPeriod();

    std::unique_ptr<LoopInbox> m_Inbox;
    std::unique_ptr<RegistryHive> m_Hive;
    std::unique_ptr<ServiceThread> m_Service;
    std::uint64_t m_Listener = 0;
    std::string m_StartError;
    int m_SavedComPort = 0;
    TimerId m_PollTimer = kNoTimer;  // on the service's loop

    std::vector<Velq3Device*> m_Devices;
    std::shared_ptr<const Snapshot> m_Latest;
    std::map<std::uint64_t, MoveOutcome> m_Outcomes;  // the last few ended moves
    std::uint32_t m_PollMs = 1000;
    std::optional<std::int8_t> m_ModeRead;  // the mode the devices were last told of

    mutable std::mutex m_PortMutex;  // the owner thread reads the path when it opens the link
    std::string m_Port;

    std::mutex m_JobMutex;
    std::condition_variable m_JobReady;
    std::deque<Job> m_Jobs;
    bool m_Stop = false;
    std::thread m_CommandThread;
};

} // namespace velq3::indi
