// The request ladder and the members every device has.
#include "alpaca/AlpacaDevice.h"

#include "platform/Clock.h"

#include <chrono>
#include <cstdio>
#include <ctime>

namespace velq3::alpaca {

AlpacaDevice::AlpacaDevice(DeviceIdentity identity, DeviceConnection& connection)
    : connection_(connection), identity_(std::move(identity)) {
    AddCommonMembers();
}

void AlpacaDevice::AddGet(const std::string& member, Json placeholder, Handler handler, bool needsConnection) {
    getters_[member] = Member{std::move(placeholder), std::move(handler), needsConnection};
}

void AlpacaDevice::AddPut(const std::string& member, Handler handler, bool needsConnection) {
    putters_[member] = Member{Json(), std::move(handler), needsConnection};
}

HttpReply AlpacaDevice::Handle(Verb verb, const std::string& member, const Params& params, const ClientIds& ids,
                               std::uint32_t serverTransactionId) {
    auto& table = verb == Verb::Get ? getters_ : putters_;
    const auto it = table.find(member);
    if (it == table.end()) {
        const auto& other = verb == Verb::Get ? putters_ : getters_;
        if (other.count(member))
            return BadRequestReply("'" + member + "' cannot be used with " + (verb == Verb::Get ? "GET" : "PUT"));
        return BadRequestReply("Unknown member '" + member + "' of " + identity_.type);
    }
    const Member& m = it->second;
    Outcome outcome;
    if (m.needsConnection && !connection_.IsConnected()) {
        outcome = Outcome::Error(ErrorCode::NotConnected, identity_.name + " is not connected");
    } else {
        outcome = m.handler(params);
    }
    return EnvelopeReply(outcome, m.placeholder, verb, ids, serverTransactionId);
}

void AlpacaDevice::AddCommonMembers() {
    AddGet("connected", false, [this](const Params&) { return Outcome::Of(connection_.IsConnected()); }, false);
    AddPut("connected", [this](const Params& p) {
        bool value = false;
        if (auto bad = RequireBool(p, "Connected", value)) return *bad;
        return value ? connection_.Connect() : connection_.Disconnect();
    }, false);
    AddPut("connect", [this](const Params&) { return connection_.StartConnect(); }, false);
    AddPut("disconnect", [this](const Params&) { return connection_.StartDisconnect(); }, false);
    AddGet("connecting", false, [this](const Params&) {
        if (connection_.Connecting()) return Outcome::Of(true);
        if (auto failure = connection_.TakeFailure()) return *failure;
        return Outcome::Of(false);
    }, false);
    AddGet("description", "", [this](const Params&) { return Outcome::Of(identity_.description); }, false);
    AddGet("driverinfo", "", [](const Params&) {
        return Outcome::Of("velq3 Alpaca server for the filter wheel and focuser controller");
    }, false);
    AddGet("driverversion", "", [](const Params&) { return Outcome::Of(kDriverVersion); }, false);
    AddGet("interfaceversion", 0, [this](const Params&) { return Outcome::Of(identity_.interfaceVersion); }, false);
    AddGet("name", "", [this](const Params&) { return Outcome::Of(identity_.name); }, false);
    AddGet("supportedactions", Json::array(), [](const Params&) { return Outcome::Of(Json::array()); }, false);
    AddPut("action", [](const Params& p) {
        std::string action;
        if (auto bad = RequireText(p, "Action", action)) return *bad;
        if (!p.Find("Parameters")) return Outcome::BadRequest("Missing parameter 'Parameters'");
        return Outcome::Error(ErrorCode::ActionNotImplemented, "Action '" + action + "' is not implemented");
    });
    for (const char* member : {"commandblind", "commandbool", "commandstring"}) {
        AddPut(member, [member](const Params& p) {
            std::string command;
            if (auto bad = RequireText(p, "Command", command)) return *bad;
            bool raw = false;
            if (auto bad = RequireBool(p, "Raw", raw)) return *bad;
            return Outcome::Error(ErrorCode::NotImplemented, std::string(member) + " is not implemented");
        });
    }
    AddGet("devicestate", Json::array(), [this](const Params&) {
        Json items = DeviceStateItems();
        items.push_back(StateItem("TimeStamp", UtcTimeStamp()));
        return Outcome::Of(std::move(items));
    });
}

std::optional<Outcome> AlpacaDevice::RequireText(const Params& params, const char* key, std::string& out) {
    auto text = params.Find(key);
    if (!text) return Outcome::BadRequest(std::string("Missing parameter '") + key + "'");
    out = std::move(*text);
    return std::nullopt;
}

std::optional<Outcome> AlpacaDevice::RequireInt(const Params& params, const char* key, std::int32_t& out) {
    std::string text;
    if (auto bad = RequireText(params, key, text)) return bad;
    const auto v = ParseInt32(text);
    if (!v) return Outcome::BadRequest(std::string("Parameter '") + key + "' is not a 32-bit integer");
    out = *v;
    return std::nullopt;
}

std::optional<Outcome> AlpacaDevice::RequireDouble(const Params& params, const char* key, double& out) {
    std::string text;
    if (auto bad = RequireText(params, key, text)) return bad;
    const auto v = ParseDouble(text);
    if (!v) return Outcome::BadRequest(std::string("Parameter '") + key + "' is not a finite number");
    out = *v;
    return std::nullopt;
}

std::optional<Outcome> AlpacaDevice::RequireBool(const Params& params, const char* key, bool& out) {
    std::string text;
    if (auto bad = RequireText(params, key, text)) return bad;
    const auto v = ParseBool(text);
    if (!v) return Outcome::BadRequest(std::string("Parameter '") + key + "' is not true or false");
    out = *v;
    return std::nullopt;
}

std::string UtcTimeStamp() {
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
    const std::tm utc = FixedCalendarClock(seconds).LocalNow();  // UTC fields on every system
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900, utc.tm_mon + 1,
                  utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec, static_cast<int>(ms));
    return text;
}

} // namespace velq3::alpaca
