// An Alpaca device over the device service: its own connection as one client of the shared
// link, and reads from the latest snapshot, refused while the controller does not answer.
#pragma once

#include <memory>

#include "alpaca/AlpacaDevice.h"
#include "alpaca/ServiceConnection.h"
#include "service/DeviceService.h"

namespace velq3::alpaca {

class ServiceDevice : public AlpacaDevice {
public:
    ServiceDevice(DeviceIdentity identity, DeviceService& service, DeviceKind kind)
        : AlpacaDevice(std::move(identity), m_Connection), m_Service(service), m_Kind(kind),
          m_Connection(service, kind) {}

    ClientId Client() const { return m_Connection.Client(); }

    // Listed when the mode read at the last connection fits, or before any connection.
    bool Listed() const override {
        const auto mode = m_Service.Current()->connectedMode;
        return !mode || ModeFits(m_Kind, *mode);
    }

protected:
    std::shared_ptr<const Snapshot> Snap() const { return m_Service.Current(); }

    // The snapshot for a reading, or the error that the readings are stale.
    std::shared_ptr<const Snapshot> Reading(Outcome& error) const {
        auto snap = m_Service.Current();
        if (auto problem = snap->ReadingProblem(m_Service.Now())) {
            error = Outcome::Error(ErrorCode::DeviceFailure, *problem);
            return nullptr;
        }
        return snap;
    }

    DeviceService& m_Service;

private:
    DeviceKind m_Kind;
    ServiceConnection m_Connection;
};

} // namespace velq3::alpaca
