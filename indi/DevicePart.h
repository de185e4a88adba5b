// One part of the controller's INDI device (the wheel, the rotator, the cover, the sensors):
// its properties, defined while the device is connected and the controller's mode has the
// part, its requests and its share of each status report.
#pragma once

#include <cstdio>
#include <optional>
#include <string>

#include "indi/Velq3Device.h"
#include "indi/Velq3Driver.h"

namespace velq3::indi {

class DevicePart {
public:
    explicit DevicePart(Velq3Device& device) : m_Device(device), m_Driver(device.Driver()) {}
    virtual ~DevicePart() = default;
    DevicePart(const DevicePart&) = delete;
    DevicePart& operator=(const DevicePart&) = delete;

    // Whether the controller's mode has this part.
    virtual bool Fits(std::int8_t mode) const = 0;
    virtual void Init() = 0;
    // Defines the part's properties (connected, in a mode that has it) or deletes them.
    virtual void Define(const Snapshot& snapshot) = 0;
    virtual void Delete() = 0;
    virtual bool HandleSwitch(const char* /*name*/, ISState* /*states*/, char* /*names*/[], int /*n*/) { return false; }
    virtual bool HandleText(const char* /*name*/, char* /*texts*/[], char* /*names*/[], int /*n*/) { return false; }
    virtual bool HandleNumber(const char* /*name*/, double /*values*/[], char* /*names*/[], int /*n*/) { return false; }
    virtual void Refresh(const Snapshot& snapshot, const std::optional<std::string>& problem, bool force) = 0;
    virtual void SaveConfig(FILE* /*fp*/) {}

protected:
    // What libindi's logging macros call.
    const char* getDeviceName() const { return m_Device.getDeviceName(); }
    bool isConnected() const { return m_Device.isConnected(); }

    Velq3Device& m_Device;
    Velq3Driver& m_Driver;
};

} // namespace velq3::indi
