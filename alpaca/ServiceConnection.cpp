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
    std::shared_future<CommandResult> pending;
    {
        std::lock_guard lock(m_Mutex);
        pending = m_Pending;
    }
    if (pending.valid()) pending.wait();
    if (IsConnected()) m_Service.Disconnect(m_Client);
}

bool ServiceConnection::IsConnected() const { return m_Service.Current()->Holds(m_Client); }

bool ServiceConnection::InProgress() const {
    return m_Pending.valid() && m_Pending.wait_for(std::chrono::seconds(0)) != std::future_status::ready;
}

std::shared_future<CommandResult> ServiceConnection::Begin(bool connect, bool background) {
    std::lock_guard lock(m_Mutex);
    if (InProgress() && m_PendingConnects == connect) {
        m_Background = m_Background || background;
        return m_Pending;  // joins the one in progress
    }
    std::shared_future<CommandResult> before;
    if (InProgress()) before = m_Pending;
    m_Failure.reset();
    DeviceService& service = m_Service;
    const ClientId client = m_Client;
    const DeviceKind kind = m_Kind;
    m_Pending = std::async(std::launch::async, [&service, client, kind, connect, before] {
        if (before.valid()) before.wait();
        return connect ? service.Connect(client, kind) : service.Disconnect(client);
    }).share();
    m_PendingConnects = connect;
    m_Background = background;
    m_Reported = false;
    return m_Pending;
}

Outcome ServiceConnection::Connect() {
    {
        std::lock_guard lock(m_Mutex);
        if (!InProgress() && IsConnected()) return Outcome::Done();
    }
    return FromCommand(Begin(true, false).get());
}

Outcome ServiceConnection::Disconnect() {
    {
        std::lock_guard lock(m_Mutex);
        if (!InProgress() && !IsConnected()) return Outcome::Done();
    }
    return FromCommand(Begin(false, false).get());
}

Outcome ServiceConnection::StartConnect() {
    Begin(true, true);
    return Outcome::Done();
}

Outcome ServiceConnection::StartDisconnect() {
    Begin(false, true);
    return Outcome::Done();
}

bool ServiceConnection::Connecting() const {
    std::lock_guard lock(m_Mutex);
    return InProgress();
}

std::optional<Outcome> ServiceConnection::TakeFailure() {
    std::lock_guard lock(m_Mutex);
    if (!m_Reported && m_Pending.valid() && m_Pending.wait_for(std::chrono::seconds(0)) == std::future_status::ready) {
        m_Reported = true;
        const CommandResult& result = m_Pending.get();
        if (!result.Ok() && m_Background) m_Failure = FromCommand(result);
    }
    std::optional<Outcome> failure = std::move(m_Failure);
    m_Failure.reset();
    return failure;
}

} // namespace velq3::alpaca
