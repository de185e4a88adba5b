// The Alpaca HTTP server: routes /api/v1/{type}/{n}/{member} to the devices and answers the
// management API over the HTTP engine. Reads are answered on the engine's I/O thread from
// device snapshots; commands (PUT, form posts) run on its handler pool, since they wait for the
// device's owner to take them. Neither touches the device object.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "alpaca/AlpacaDevice.h"
#include "alpaca/HttpServer.h"
#include "alpaca/Protocol.h"

namespace velq3::alpaca {

// Limits of the HTTP server.
using ServerLimits = HttpLimits;

struct ServerDescription {
    std::string serverName = "velq3";
    std::string manufacturer = "velq3";
    std::string manufacturerVersion;
    std::string location;
};

// One entry of /management/v1/configureddevices.
struct ConfiguredDevice {
    AlpacaDevice* device = nullptr;
    std::string uniqueId;
};

class AlpacaServer {
public:
    AlpacaServer(ServerDescription description, ServerLimits limits = {});
    ~AlpacaServer();  // stops
    AlpacaServer(const AlpacaServer&) = delete;
    AlpacaServer& operator=(const AlpacaServer&) = delete;

    // Devices must be added before Start(); they must outlive the server.
    void AddDevice(AlpacaDevice& device, std::string uniqueId);

    // Extra routes (the setup pages), registered before Start().
    void AddRoutes(const std::function<void(HttpRoutes&)>& add);

    // Binds `address`:`port` (0: a free port) and serves on its own threads. False with a
    // message when the address cannot be bound.
    bool Start(const std::string& address, std::uint16_t port, std::string& error);
    void Stop();

    std::uint16_t Port() const { return http_.Port(); }
    bool Running() const { return http_.Running(); }
    std::size_t Connections() const { return http_.Connections(); }

    // The reply to one request, without HTTP: `target` is the raw path with its query, `body`
    // the form body of a PUT. Used by the server's handlers and by tests.
    HttpReply Dispatch(const std::string& method, const std::string& target, const std::string& body);

private:
    HttpReply DispatchApi(Verb verb, const std::vector<std::string>& parts, const Params& params, const ClientIds& ids);
    HttpReply DispatchManagement(const std::vector<std::string>& parts, const ClientIds& ids);
    HttpResponse Serve(const HttpRequest& request);

    ServerDescription description_;
    ServerLimits limits_;
    std::vector<ConfiguredDevice> devices_;
    TransactionCounter transactions_;
    HttpRoutes routes_;
    HttpServer http_;
};

} // namespace velq3::alpaca
