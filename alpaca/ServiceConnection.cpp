// One Alpaca device's share of the controller connection.
#include "alpaca/ServiceConnection.h"

namespace velq3::alpaca {

Outcome FromCommand(const CommandResult& result) {
    switch (result.status) {
    case CommandStatus::Ok: return Outcome::Done();
    case CommandStatus::Busy:
    case CommandStatus::WrongMode:
    case CommandStatus::NotAvailable: return Outcome::Error(ErrorCode::InvalidOperation, result.message);
    case CommandStatus::InvalidValue: return Outcome::Error(ErrorCode::InvalidValue, result.message);
    case CommandStatus::NotConnected: return Outcome::Error(ErrorCode::NotConnected, result.message);
    case CommandStatus::Failed:
    case CommandStatus::Stopped: break;
    }
    return Outcome::Error(ErrorCode::DeviceFailure, result.message.empty() ? "The command failed" : result.message);
}

ServiceConnection::ServiceConnection(DeviceService& service, DeviceKind kind)
    : m_Service(service), m_Kind(kind), m_Client(DeviceService::NewClient()) {}

ServiceConnection::~ServiceConnection() {
    std::future<CommandResult> pending;
    {
        std::lock_guard lock(m_Mutex);
        pending = std::move(m_Pending);
    }
    if (pending.valid()) pending.wait();
    if (IsConnected()) m_Service.Disconnect(m_Client);
}

bool ServiceConnection::IsConnected() const { return m_Service.Current()->Holds(m_Client); }

Outcome ServiceConnection::Connect() {
    if (IsConnected()) return Outcome::Done();
    return FromCommand(m_Service.Connect(m_Client, m_Kind));
}

Outcome ServiceConnection::Disconnect() {
    if (!IsConnected()) return Outcome::Done();
    return FromCommand(m_Service.Disconnect(m_Client));
}

Outcome ServiceConnection::Start(bool connect) {
    std::lock_guard lock(m_Mutex);
    if (m_Pending.valid() && m_Pending.wait_for(std::chrono::seconds(0)) != std::future_status::ready)
        return Outcome::Error(ErrorCode::InvalidOperation, "A Connect or Disconnect is already in progress");
    m_Failure.reset();
    DeviceService& service = m_Service;
    const ClientId client = m_Client;
    const DeviceKind kind = m_Kind;
    m_Pending = std::async(std::launch::async, [&service, client, kind, connect] {
        return connect ? service.Connect(client, kind) : service.Disconnect(client);
    });
    return Outcome::Done();
}

Outcome ServiceConnection::StartConnect() { return Start(true); }
Outcome ServiceConnection::StartDisconnect() { return Start(false); }

bool ServiceConnection::Connecting() const {
    std::lock_guard lock(m_Mutex);
    return m_Pending.valid() && m_Pending.wait_for(std::chrono::seconds(0)) != std::future_status::ready;
}

std::optional<Outcome> ServiceConnection::TakeFailure() {
    std::lock_guard lock(m_Mutex);
    if (m_Pending.valid() && m_Pending.wait_for(std::chrono::seconds(0)) == std::future_status::ready) {
        const CommandResult result = m_Pending.get();
        if (!result.Ok()) m_Failure = FromCommand(result);
    }
    std::optional<Outcome> failure = std::move(m_Failure);
    m_Failure.reset();
    return failure;
}

} // namespace velq3::alpaca
