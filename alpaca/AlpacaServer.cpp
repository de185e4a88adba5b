// Routing, the management API and the HTTP server's set-up.
#include "alpaca/AlpacaServer.h"

#include <sys/socket.h>

#include <httplib.h>

#include <chrono>

namespace velq3::alpaca {

namespace {

std::vector<std::string> SplitPath(std::string_view path) {
    std::vector<std::string> parts;
    if (path.empty() || path.front() != '/') return parts;
    path.remove_prefix(1);
    for (;;) {
        const std::size_t slash = path.find('/');
        parts.emplace_back(path.substr(0, slash));
        if (slash == std::string_view::npos) break;
        path.remove_prefix(slash + 1);
    }
    return parts;
}

bool IsLowerWord(std::string_view s) {
    if (s.empty()) return false;
    for (char c : s)
        if (c < 'a' || c > 'z') return false;
    return true;
}

// A device number: plain decimal digits that fit a uint32.
std::optional<std::uint32_t> DeviceNumber(std::string_view s) {
    if (s.empty() || s.size() > 10) return std::nullopt;
    for (char c : s)
        if (c < '0' || c > '9') return std::nullopt;
    return ParseUInt32(s);
}

// Longer paths are refused before any pattern is matched against them.
constexpr std::size_t kMaxPathBytes = 512;

void Apply(const HttpReply& reply, httplib::Response& res) {
    res.status = reply.status;
    res.set_content(reply.body, reply.contentType.c_str());
}

} // namespace

AlpacaServer::AlpacaServer(ServerDescription description, ServerLimits limits)
    : description_(std::move(description)), limits_(limits), http_(std::make_unique<httplib::Server>()) {
    httplib::Server& http = *http_;
    const std::size_t workers = limits_.workerThreads;
    http.new_task_queue = [workers] { return new httplib::ThreadPool(workers); };
    // Without it every reply on a kept-alive connection waits for the client's delayed ACK.
    http.set_tcp_nodelay(true);
    http.set_keep_alive_max_count(limits_.keepAliveRequests);
    http.set_keep_alive_timeout(limits_.keepAliveIdleSeconds);
    http.set_read_timeout(limits_.readTimeoutSeconds, 0);
    http.set_write_timeout(limits_.readTimeoutSeconds, 0);
    http.set_payload_max_length(limits_.maxRequestBytes);
    // The library's default also sets SO_REUSEPORT, which lets a second server bind the same
    // port and silently share its clients; a taken port must be an error instead.
    http.set_socket_options([](int sock) {
        int yes = 1;
        ::setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    });

    // Requests are answered here, before the library's routing, except the setup pages and
    // PUT, whose form body the library reads only after this step. Paths are capped first: the
    // library matches routes with std::regex, which recurses once per character.
    http.set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
        using Response = httplib::Server::HandlerResponse;
        const bool hasBody = req.has_header("Content-Length") || req.has_header("Transfer-Encoding");
        if (req.path.size() > kMaxPathBytes) {
            Apply(BadRequestReply("Path too long"), res);
        } else if (req.path == "/setup" || req.path.rfind("/setup/", 0) == 0) {
            return Response::Unhandled;
        } else if (req.method == "PUT") {
            if (hasBody) return Response::Unhandled;
            // Without a length the body would be read until the connection closes.
            Apply(BadRequestReply("PUT needs a Content-Length"), res);
        } else {
            Apply(Dispatch(req.method, req.target, std::string()), res);
        }
        // A body left unread would be taken for the next request on this connection.
        if (hasBody) res.set_header("Connection", "close");
        return Response::Handled;
    });
    http.Put(R"(/.*)", [this](const httplib::Request& req, httplib::Response& res) {
        Apply(Dispatch(req.method, req.target, req.body), res);
    });
    // Errors the library detects itself (malformed request, too large, unknown route) get a
    // short text; an oversized request is a bad request like any other.
    http.set_error_handler(httplib::Server::HandlerWithResponse([](const httplib::Request&, httplib::Response& res) {
        if (res.status == 413 || res.status == 414 || res.status == 431) {
            res.status = 400;
            res.set_content("Request too large", std::string(kTextType).c_str());
        } else if (res.body.empty()) {
            res.set_content(res.status == 404 ? "Not found" : "Bad request", std::string(kTextType).c_str());
        }
        return httplib::Server::HandlerResponse::Handled;
    }));
    http.set_exception_handler([](const httplib::Request&, httplib::Response& res, std::exception_ptr) {
        res.status = 500;
        res.set_content("Internal server error", std::string(kTextType).c_str());
    });
}

AlpacaServer::~AlpacaServer() { Stop(); }

void AlpacaServer::AddDevice(AlpacaDevice& device, std::string uniqueId) {
    devices_.push_back(ConfiguredDevice{&device, std::move(uniqueId)});
}

void AlpacaServer::AddRoutes(const std::function<void(httplib::Server&)>& add) { add(*http_); }

bool AlpacaServer::Start(const std::string& address, std::uint16_t port, std::string& error) {
    if (Running()) return true;
    int bound = -1;
    if (port == 0) {
        bound = http_->bind_to_any_port(address);
    } else if (http_->bind_to_port(address, port)) {
        bound = port;
    }
    if (bound <= 0) {
        error = "cannot listen on " + address + ":" + std::to_string(port) +
                " (the port is taken or the address is not this computer's)";
        return false;
    }
    port_ = static_cast<std::uint16_t>(bound);
    loopEnded_ = false;
    thread_ = std::thread([this] {
        http_->listen_after_bind();
        loopEnded_ = true;  // ended: nobody waits for it to start any more
    });
    // The library's stop() does nothing until its loop runs, so a Stop() right after Start()
    // would wait for ever: return only once it serves.
    while (!http_->is_running() && !loopEnded_) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return true;
}

void AlpacaServer::Stop() {
    if (!thread_.joinable()) return;
    http_->stop();
    thread_.join();
}

HttpReply AlpacaServer::Dispatch(const std::string& method, const std::string& target, const std::string& body) {
    Verb verb;
    if (method == "GET") verb = Verb::Get;
    else if (method == "PUT") verb = Verb::Put;
    else return BadRequestReply("Method " + method + " is not used by the Alpaca API");

    const std::size_t question = target.find('?');
    const std::string_view path = std::string_view(target).substr(0, question);
    const std::string_view query =
        question == std::string::npos ? std::string_view() : std::string_view(target).substr(question + 1);

    // GET takes its parameters from the query, PUT from the form body.
    const auto params = Params::Parse(verb == Verb::Get ? query : std::string_view(body), verb);
    if (!params) return BadRequestReply("Malformed parameters (bad escape or not UTF-8)");
    std::string idError;
    const auto ids = ReadClientIds(*params, idError);
    if (!ids) return BadRequestReply(idError);

    const std::vector<std::string> parts = SplitPath(path);
    if (parts.size() >= 1 && parts[0] == "api") return DispatchApi(verb, parts, *params, *ids);
    if (parts.size() >= 1 && parts[0] == "management") {
        if (verb != Verb::Get) return BadRequestReply("The management API is read with GET");
        return DispatchManagement(parts, *ids);
    }
    return BadRequestReply("Unknown path");
}

HttpReply AlpacaServer::DispatchApi(Verb verb, const std::vector<std::string>& parts, const Params& params,
                                    const ClientIds& ids) {
    if (parts.size() != 5) return BadRequestReply("Expected /api/v1/{device_type}/{device_number}/{member}");
    if (parts[1] != "v1") return BadRequestReply("Unsupported API version '" + parts[1] + "'");
    if (!IsLowerWord(parts[2])) return BadRequestReply("Device type must be lower case letters");
    const auto number = DeviceNumber(parts[3]);
    if (!number) return BadRequestReply("Device number must be a non-negative integer");
    if (!IsLowerWord(parts[4])) return BadRequestReply("Member must be lower case letters");
    for (const ConfiguredDevice& entry : devices_) {
        const DeviceIdentity& id = entry.device->Identity();
        if (id.type == parts[2] && id.number == *number)
            return entry.device->Handle(verb, parts[4], params, ids, transactions_.Next());
    }
    return BadRequestReply("No device " + parts[2] + "/" + parts[3]);
}

HttpReply AlpacaServer::DispatchManagement(const std::vector<std::string>& parts, const ClientIds& ids) {
    if (parts.size() == 2 && parts[1] == "apiversions") return ManagementReply(Json::array({1}), ids, transactions_.Next());
    if (parts.size() == 3 && parts[1] == "v1" && parts[2] == "description") {
        Json value = {{"ServerName", description_.serverName},
                      {"Manufacturer", description_.manufacturer},
                      {"ManufacturerVersion", description_.manufacturerVersion},
                      {"Location", description_.location}};
        return ManagementReply(std::move(value), ids, transactions_.Next());
    }
    if (parts.size() == 3 && parts[1] == "v1" && parts[2] == "configureddevices") {
        Json list = Json::array();
        for (const ConfiguredDevice& entry : devices_) {
            const DeviceIdentity& id = entry.device->Identity();
            list.push_back({{"DeviceName", id.name},
                            {"DeviceType", id.typeName},
                            {"DeviceNumber", id.number},
                            {"UniqueID", entry.uniqueId}});
        }
        return ManagementReply(std::move(list), ids, transactions_.Next());
    }
    return BadRequestReply("Unknown management path");
}

} // namespace velq3::alpaca
