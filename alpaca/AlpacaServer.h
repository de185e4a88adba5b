// The Alpaca HTTP server: routes /api/v1/{type}/{n}/{member} to the devices, answers the
// management API, and applies the connection limits. Handlers run on the server's worker
// threads; they read device snapshots and post commands, never touch the device object.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "alpaca/AlpacaDevice.h"
#include "alpaca/Protocol.h"

namespace httplib {
class Server;
}

namespace velq3::alpaca {

// Limits of the HTTP server.
struct ServerLimits {
    std::size_t workerThreads = 16;        // connections served at once; more wait for a worker
    std::size_t keepAliveRequests = 100;   // requests on one connection before it is closed
    int keepAliveIdleSeconds = 5;          // an idle kept-alive connection is closed after this
    int readTimeoutSeconds = 5;            // a request that does not arrive in full within this
    std::size_t maxRequestBytes = 64 * 1024;
};

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
    void AddRoutes(const std::function<void(httplib::Server&)>& add);

    // Binds `address`:`port` (0: a free port) and serves on its own threads. False with a
    // message when the address cannot be bound.
    bool Start(const std::string& address, std::uint16_t port, std::string& error);
    void Stop();

    std::uint16_t Port() const { return port_; }
    bool Running() const { return thread_.joinable(); }

    // The reply to one request, without HTTP: `target` is the raw path with its query, `body`
    // the form body of a PUT. Used by the server's handlers and by tests.
    HttpReply Dispatch(const std::string& method, const std::string& target, const std::string& body);

private:
    HttpReply DispatchApi(Verb verb, const std::vector<std::string>& parts, const Params& params, const ClientIds& ids);
    HttpReply DispatchManagement(const std::vector<std::string>& parts, const ClientIds& ids);

    ServerDescription description_;
    ServerLimits limits_;
    std::vector<ConfiguredDevice> devices_;
    TransactionCounter transactions_;
    std::unique_ptr<httplib::Server> http_;
    std::thread thread_;
    std::atomic<bool> loopEnded_{false};  // set when the serving loop has returned
    std::uint16_t port_ = 0;
};

} // namespace velq3::alpaca
