// What both devices of the driver share: the connection as one client of the shared serial
// link (asynchronous, so libindi's loop never waits), the serial port with the list of present
// ports, the polling period, the checks every client request passes (known elements, finite
// numbers within the property's range), moves that go Busy at once and Ok or Alert when the
// service reports their end (at most one request waiting per device), refusals whose Alert
// stays until the next request on that property, and readings that turn Alert when the
// controller stops answering.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include <defaultdevice.h>

#include "service/DeviceService.h"

namespace velq3::indi {

class Velq3Driver;

class Velq3Device : public INDI::DefaultDevice {
public:
    Velq3Device(Velq3Driver& driver, DeviceKind kind, std::string name);
    ~Velq3Device() override;

    // The driver's name (DRIVER_NAME); the devices' names are set at construction.
    const char* getDefaultName() override { return "VELQ3"; }
    bool initProperties() override;
    bool updateProperties() override;
    void ISGetProperties(const char* dev) override;
    // Each request is checked here first, then handed to HandleSwitch/HandleText/HandleNumber.
    bool ISNewSwitch(const char* dev, const char* name, ISState* states, char* names[], int n) final;
    bool ISNewText(const char* dev, const char* name, char* texts[], char* names[], int n) final;
    bool ISNewNumber(const char* dev, const char* name, double values[], char* names[], int n) final;
    void TimerHit() override;

    // ---- from the driver, on libindi's thread ----
    void SnapshotArrived(const Snapshot& snapshot);
    // Shows the port another device chose; `persist`: also into this device's config file.
    void ShowPort(const std::string& path, bool persist);
    void ShowPollPeriod(std::uint32_t ms);
    // A connection has read the controller's mode.
    virtual void ModeRead(std::int8_t /*mode*/) {}
    // Turns a request whose text is no number into Alert on `property` with `why`.
    void RefuseMalformed(const char* property, const std::string& why);

    // ---- for the parts of a device ----

    // Sets `property` Alert with `why` as the message; it stays Alert until the next request on
    // it or the next move that starts.
    void Refuse(const char* property, const std::string& why);
    void ClearAlert(const char* property) { m_Alerts.erase(property); }
    bool InAlert(const char* property) const { return m_Alerts.count(property) != 0; }
    // Starts a move through the service: `finish` runs on libindi's thread with its outcome
    // (a refused move gives a failed outcome with the reason at once). While an earlier request
    // for the same motor (`kind`) has not reached the service, a new one takes the place of any
    // other that waits behind it; the one replaced is dropped without a finish.
    void StartMove(MoveKind kind, std::function<CommandResult(DeviceService&)> call,
                   std::function<void(const MoveOutcome&)> finish);
    // Ends this device's moves of `kind` that were dropped from the service's queue: each
    // finish gets a failed outcome with `why`.
    void AbandonMoves(MoveKind kind, const std::string& why);
    // Drops this device's move that waits for the line, if there is one (any thread's service).
    static CommandResult DropQueued(DeviceService& s, MoveKind kind) {
        return s.DropQueuedMove(kind) ? CommandResult::Success() : CommandResult::Error(CommandStatus::Failed, "");
    }
    // Runs a command through the service; `done` gets its result on libindi's thread.
    void RunCommand(std::function<CommandResult(DeviceService&)> call, std::function<void(const CommandResult&)> done);
    // Sends `p` when its values or state differ from what was last sent, or `force`. A
    // property in Alert from a refusal stays Alert unless a move shows it Busy.
    void Report(INumberVectorProperty& p, double value, IPState state, bool force);
    void Report(INumberVectorProperty& p, const std::vector<double>& values, IPState state, bool force);
    IPState Shown(const char* property, IPState state) const;

    Velq3Driver& Driver() { return m_Driver; }
    // Reads or writes one property of the device's config file.
    bool LoadConfigItem(const char* property) { return loadConfig(true, property); }
    bool SaveConfigItem(const char* property) { return saveConfig(true, property); }

protected:
    bool saveConfigItems(FILE* fp) override;
    // Loads the device's own config items at the first getProperties (before any connection).
    virtual void LoadOwnConfig() {}
    // False while the device is not offered (the controller's mode has no use for it): it
    // defines nothing and takes no request.
    virtual bool Offered() const { return true; }
    // The move kinds of this device, dropped from the service's queue when it disconnects.
    virtual std::vector<MoveKind> OwnMoves() const = 0;

    virtual bool HandleSwitch(const char* name, ISState* states, char* names[], int n);
    virtual bool HandleText(const char* name, char* texts[], char* names[], int n);
    virtual bool HandleNumber(const char* name, double values[], char* names[], int n);

    // Reports what changed since the last report (`force`: everything, after a connection).
    // `problem` is set while the controller does not answer.
    virtual void Refresh(const Snapshot& snapshot, const std::optional<std::string>& problem, bool force) = 0;


    Velq3Driver& m_Driver;
    const DeviceKind m_Kind;
    const ClientId m_Id;

private:
    struct PendingMove {
        MoveKind kind = MoveKind::None;
        std::uint64_t sequence = 0;  // 0 while the service has not accepted it yet
        std::uint64_t token = 0;
        std::function<void(const MoveOutcome&)> finish;
    };
    struct NextMove {
        std::function<CommandResult(DeviceService&)> call;
        std::function<void(const MoveOutcome&)> finish;
    };

    void RequestConnect();
    void RequestDisconnect();
    void ConnectDone(const CommandResult& result);
    void FinishMoves();
    void SendMove(MoveKind kind, std::function<CommandResult(DeviceService&)> call,
                  std::function<void(const MoveOutcome&)> finish);
    // The reason a connection failed, in words a user can act on.
    std::string ConnectFailure(const CommandResult& result) const;
    // Why the request's elements or values do not fit the property `name`, if they do not.
    std::optional<std::string> CheckNumbers(const char* name, const double values[], char* names[], int n);
    std::optional<std::string> CheckElements(const char* name, char* names[], int n);
    void SetPort(const std::string& path);
    // (Re)defines SYSTEM_PORTS with the ports present now and the chosen one.
    void ListPorts();
    void FreePorts();

    const std::string m_Name;
    ITextVectorProperty m_PortTP{};
    IText m_PortT[1]{};
    ISwitchVectorProperty m_PortsSP{};
    std::vector<ISwitch> m_PortsS;
    bool m_PortsDefined = false;
    bool m_ConfigLoaded = false;
    bool m_LoadingConfig = false;
    bool m_Connecting = false;
    bool m_Disconnecting = false;  // the link closing is this device's own doing
    bool m_ConnectAfter = false;   // a connection asked for while disconnecting
    int m_TimerId = -1;
    bool m_Stale = false;
    std::vector<PendingMove> m_Moves;
    std::set<MoveKind> m_InFlight;             // move requests on their way to the service
    std::map<MoveKind, NextMove> m_NextMoves;  // the newest request that waits for each
    std::uint64_t m_NextToken = 1;
    std::set<std::string, std::less<>> m_Alerts;
};

// A short name of the controller's mode ("filter wheel with 7 filters", "rotator"...).
std::string ModeName(std::int8_t mode);
// The mode a kind of device needs.
std::string NeededMode(DeviceKind kind);
// Whether `a` and `b` are the same C string (false when either is null).
bool Is(const char* a, const char* b);

} // namespace velq3::indi
