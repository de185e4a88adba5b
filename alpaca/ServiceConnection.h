// Adapter from the device service to what the Alpaca devices need: one client identity per
// device, its Connected state, Connect/Disconnect run in the background for the Platform 7
// members, and the one mapping of the service's command results to Alpaca errors. Several
// clients of one device may connect at once (an imaging program and a guider starting
// together): a Connect while one is in progress joins it, and a Disconnect (or a Connect
// after a Disconnect) waits for the one in progress and then runs.
#pragma once

#include <future>
#include <mutex>
#include <optional>

#include "alpaca/AlpacaDevice.h"
#include "service/DeviceService.h"

namespace velq3::alpaca {

// The Alpaca reply of a service command: Busy and refusals become 0x40B, bad values 0x401,
// a closed link 0x407, a failed device command 0x500, each with the service's message.
Outcome FromCommand(const CommandResult& result);

class ServiceConnection : public DeviceConnection {
public:
    ServiceConnection(DeviceService& service, DeviceKind kind);
    ~ServiceConnection() override;  // waits for a background Connect/Disconnect, then lets go

    bool IsConnected() const override;
    Outcome Connect() override;
    Outcome Disconnect() override;
    Outcome StartConnect() override;
    Outcome StartDisconnect() override;
    bool Connecting() const override;
    std::optional<Outcome> TakeFailure() override;

    ClientId Client() const { return m_Client; }

private:
    // The Connect (or Disconnect) to wait for: the one in progress when it is the same, else a
    // new one that starts once the one in progress has ended.
    // `background`: started by StartConnect/StartDisconnect, whose failure Connecting reports.
    std::shared_future<CommandResult> Begin(bool connect, bool background);
    // Whether the newest operation is still running; the caller holds m_Mutex.
    bool InProgress() const;

    DeviceService& m_Service;
    DeviceKind m_Kind;
    const ClientId m_Client;
    mutable std::mutex m_Mutex;
    std::shared_future<CommandResult> m_Pending;  // the newest Connect or Disconnect
    bool m_PendingConnects = false;               // whether it connects
    bool m_Background = false;                    // a background start waits for it
    bool m_Reported = true;                       // its result was looked at by TakeFailure
    std::optional<Outcome> m_Failure;
};

} // namespace velq3::alpaca
