// What every device of the driver shares: the connection as one client of the shared serial
// link (asynchronous, so libindi's loop never waits), the serial port, the polling period,
// moves that go Busy at once and Ok or Alert when the service reports their end, and the
// readings that turn Alert when the controller stops answering.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <defaultdevice.h>

#include "service/DeviceService.h"

namespace velq3::indi {

class Velq3Driver;

class Velq3Device : public INDI::DefaultDevice {
public:
    Velq3Device(Velq3Driver& driver, DeviceKind kind, const char* name);
    ~Velq3Device() override;

    const char* getDefaultName() override { return m_Name; }
    bool initProperties() override;
    bool updateProperties() override;
    void ISGetProperties(const char* dev) override;
    bool ISNewSwitch(const char* dev, const char* name, ISState* states, char* names[], int n) override;
    bool ISNewText(const char* dev, const char* name, char* texts[], char* names[], int n) override;
    bool ISNewNumber(const char* dev, const char* name, double values[], char* names[], int n) override;
    void TimerHit() override;

    // ---- from the driver, on libindi's thread ----
    void SnapshotArrived(const Snapshot& snapshot);
    // Shows the port another device chose; `persist`: also into this device's config file.
    void ShowPort(const std::string& path, bool persist);
    void ShowPollPeriod(std::uint32_t ms);

protected:
    bool saveConfigItems(FILE* fp) override;
    // Loads the device's own config items at the first getProperties (before any connection).
    virtual void LoadOwnConfig() {}

    // Reports what changed since the last report (`force`: everything, after a connection).
    // `problem` is set while the controller does not answer.
    virtual void Refresh(const Snapshot& snapshot, const std::optional<std::string>& problem, bool force) = 0;

    // Starts a move through the service: `finish` runs on libindi's thread with its outcome
    // (a refused move gives a failed outcome with the reason at once).
    void StartMove(std::function<CommandResult(DeviceService&)> call, std::function<void(const MoveOutcome&)> finish);
    // Runs a command through the service; `done` gets its result on libindi's thread.
    void RunCommand(std::function<CommandResult(DeviceService&)> call, std::function<void(const CommandResult&)> done);
    bool MoveRunning() const { return !m_Moves.empty(); }

    // Sends `p` when its first value or state differs from what was last sent, or `force`.
    static void Report(INumberVectorProperty& p, double value, IPState state, bool force);
    static void Report(INumberVectorProperty& p, const std::vector<double>& values, IPState state, bool force);

    Velq3Driver& m_Driver;
    const DeviceKind m_Kind;
    const ClientId m_Id;

private:
    struct PendingMove {
        std::uint64_t sequence = 0;  // 0 while the service has not accepted it yet
        std::uint64_t token = 0;
        std::function<void(const MoveOutcome&)> finish;
    };

    void RequestConnect();
    void RequestDisconnect();
    void ConnectDone(const CommandResult& result);
    void FinishMoves();
    // The reason a connection failed, in words a user can act on.
    std::string ConnectFailure(const CommandResult& result) const;

    const char* m_Name;
    ITextVectorProperty m_PortTP{};
    IText m_PortT[1]{};
    bool m_ConfigLoaded = false;
    bool m_LoadingConfig = false;
    bool m_Connecting = false;
    bool m_Disconnecting = false;  // the link closing is this device's own doing
    int m_TimerId = -1;
    bool m_Stale = false;
    std::vector<PendingMove> m_Moves;
    std::uint64_t m_NextToken = 1;
};

// A short name of the controller's mode ("filter wheel with 7 filters", "rotator"...).
std::string ModeName(std::int8_t mode);
// The mode a kind of device needs.
std::string NeededMode(DeviceKind kind);

} // namespace velq3::indi
