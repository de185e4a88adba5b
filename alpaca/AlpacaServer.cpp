// Routing, the management API and the HTTP server's set-up.
#include "alpaca/AlpacaServer.h"

namespace velq3::alpaca {

namespace {

std::vector<std::string> SplitPath(std::string_view path) {
    std::vector<std::string> parts;
    parts.reserve(6);  // an API path has five
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
// No form of the API or the setup pages comes near this.
constexpr std::size_t kMaxFormBytes = 8 * 1024;

HttpResponse ToResponse(HttpReply reply) {
    HttpResponse response;
    response.status = reply.status;
    response.contentType = std::move(reply.contentType);
    response.body = std::move(reply.body);
    return response;
}

bool IsSetupPath(std::string_view path) { return path == "/setup" || path.rfind("/setup/", 0) == 0; }

} // namespace

AlpacaServer::AlpacaServer(ServerDescription description, ServerLimits limits)
    : description_(std::move(description)),
      limits_(limits),
      http_(
          limits, [this](const HttpRequest& request) { return Serve(request); },
          // Reads answer from snapshots at once; anything else may wait for the device's owner.
          [](const HttpRequest& request) { return request.method != "GET"; }) {}

AlpacaServer::~AlpacaServer() { Stop(); }

void AlpacaServer::AddDevice(AlpacaDevice& device, std::string uniqueId) {
    devices_.push_back(ConfiguredDevice{&device, std::move(uniqueId)});
}

void AlpacaServer::AddRoutes(const std::function<void(HttpRoutes&)>& add) { add(routes_); }

bool AlpacaServer::Start(const std::string& address, std::uint16_t port, std::string& error) {
    return http_.Start(address, port, error);
}

void AlpacaServer::Stop() { http_.Stop(); }

HttpResponse AlpacaServer::Serve(const HttpRequest& request) {
    // Paths are capped before any route looks at them.
    if (request.path.size() > kMaxPathBytes) return ToResponse(BadRequestReply("Path too long"));
    if (request.body.size() > kMaxFormBytes) return ToResponse(BadRequestReply("Request too large"));
    if (IsSetupPath(request.path)) {
        if (auto response = routes_.Handle(request)) return std::move(*response);
        return HttpResponse::Text(404, "Not found");
    }
    return ToResponse(Dispatch(request.method, request.target, request.body));
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
            if (!entry.device->Listed()) continue;
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
