// The base of every Alpaca device: its member table, the common members and the one ladder each
// request goes through (member lookup → not connected → the member's handler → the envelope).
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "alpaca/Protocol.h"

namespace velq3::alpaca {

// One device's share of the controller connection, as the device service offers it.
class DeviceConnection {
public:
    virtual ~DeviceConnection() = default;
    // Whether this device holds the connection.
    virtual bool IsConnected() const = 0;
    // Connects (opening the port when nobody holds it) and checks the controller mode; waits
    // for the result.
    virtual Outcome Connect() = 0;
    virtual Outcome Disconnect() = 0;
    // Starts Connect or Disconnect and returns at once; Connecting() reads true until it ends
    // and TakeFailure() then gives its error once.
    virtual Outcome StartConnect() = 0;
    virtual Outcome StartDisconnect() = 0;
    virtual bool Connecting() const = 0;
    virtual std::optional<Outcome> TakeFailure() = 0;
};

struct DeviceIdentity {
    std::string type;       // path element, lower case: "filterwheel"
    std::string typeName;   // management name: "FilterWheel"
    std::uint32_t number = 0;
    int interfaceVersion = 1;
    std::string name;
    std::string description;
};

class AlpacaDevice {
public:
    using Handler = std::function<Outcome(const Params&)>;

    AlpacaDevice(DeviceIdentity identity, DeviceConnection& connection);
    virtual ~AlpacaDevice() = default;
    AlpacaDevice(const AlpacaDevice&) = delete;
    AlpacaDevice& operator=(const AlpacaDevice&) = delete;

    const DeviceIdentity& Identity() const { return identity_; }
    // Whether the management API lists this device: false when the controller is known not to
    // serve it. An unlisted device still answers by its URL.
    virtual bool Listed() const { return true; }

    // The reply to one request for `member`; a member this device does not have for `verb` is
    // a bad request.
    HttpReply Handle(Verb verb, const std::string& member, const Params& params, const ClientIds& ids,
                     std::uint32_t serverTransactionId);

    // Driver version and info, the same for every device of this server.
    static constexpr const char* kDriverVersion = "1.0";

protected:
    // Registers a GET member; `placeholder` is its Value when it fails. Members other than the
    // common ones answer 0x407 while the device is not connected.
    void AddGet(const std::string& member, Json placeholder, Handler handler, bool needsConnection = true);
    void AddPut(const std::string& member, Handler handler, bool needsConnection = true);

    // Name/Value pairs of DeviceState, without the TimeStamp (added here).
    virtual Json DeviceStateItems() = 0;

    // Parameter helpers: a missing or unparseable parameter is a bad request (HTTP 400).
    static std::optional<Outcome> RequireInt(const Params& params, const char* key, std::int32_t& out);
    static std::optional<Outcome> RequireDouble(const Params& params, const char* key, double& out);
    static std::optional<Outcome> RequireBool(const Params& params, const char* key, bool& out);
    static std::optional<Outcome> RequireText(const Params& params, const char* key, std::string& out);

    static Json StateItem(const char* name, Json value) { return Json{{"Name", name}, {"Value", std::move(value)}}; }

    DeviceConnection& connection_;

private:
    struct Member {
        Json placeholder;
        Handler handler;
        bool needsConnection = true;
    };

    void AddCommonMembers();

    DeviceIdentity identity_;
    std::map<std::string, Member> getters_;
    std::map<std::string, Member> putters_;
};

// ISO-8601 UTC time of now, with milliseconds, for DeviceState's TimeStamp.
std::string UtcTimeStamp();

} // namespace velq3::alpaca
