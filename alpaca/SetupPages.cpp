// The setup pages: HTML from the files of alpaca/www with the server's values filled in, and a
// small script that refreshes the live fields from /setup/v1/status.json every second. Every text
// filled into the HTML goes through HtmlEscape; the script only sets textContent.
#include "alpaca/SetupPages.h"

#include "alpaca/WwwFiles.h"
#include "platform/PortMap.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <memory>
#include <mutex>

namespace velq3::alpaca {

namespace {

constexpr const char* kStatusPath = "/setup/v1/status.json";
constexpr const char* kHtml = "text/html; charset=utf-8";

// Holds what the form stored during this run, so that the page can show it beside what is in
// force.
struct SetupState {
    SetupPageContext* context = nullptr;
    std::mutex mutex;
    std::optional<SetupSettings> stored;
};

// A device type as shown to a person.
std::string TypeTitle(std::string_view type) {
    if (type == "filterwheel") return "Filter wheel";
    if (type == "focuser") return "Focuser";
    if (type == "rotator") return "Rotator";
    if (type == "dome") return "Dome (cover as shutter)";
    if (type == "covercalibrator") return "Cover calibrator";
    if (type == "switch") return "Switch";
    return std::string(type);
}

// The live fields each device type shows, with their captions.
std::vector<std::pair<const char*, const char*>> FieldsOf(std::string_view type) {
    if (type == "filterwheel")
        return {{"connected", "Connected"}, {"position", "Position"}, {"filter", "Filter"},
                {"moving", "Moving"}};
    if (type == "focuser")
        return {{"connected", "Connected"}, {"position", "Position"}, {"moving", "Moving"},
                {"temperature", "Temperature"}};
    if (type == "rotator")
        return {{"connected", "Connected"}, {"position", "Angle"}, {"moving", "Moving"}};
    if (type == "dome")
        return {{"connected", "Connected"}, {"shutter", "Shutter"}, {"moving", "Moving"}};
    if (type == "covercalibrator")
        return {{"connected", "Connected"}, {"cover", "Cover"}, {"moving", "Moving"}};
    if (type == "switch")
        return {{"connected", "Connected"}, {"voltage", "Supply"}, {"power", "Output power"},
                {"temperatures", "Temperatures"}};
    return {{"connected", "Connected"}, {"moving", "Moving"}};
}

std::string DeviceKey(const SetupDeviceEntry& device) {
    return device.type + "/" + std::to_string(device.number);
}

// One slot of a page file: {{name}} takes text, escaped here; {{{name}}} takes markup that
// was built from the page files.
struct Slot {
    std::string_view name;
    std::string value;
    bool markup = false;
};

Slot Markup(std::string_view name, std::string value) { return Slot{name, std::move(value), true}; }

// The page file `file` with its slots filled; a slot without a value stays empty.
std::string Fill(std::string_view file, std::initializer_list<Slot> slots) {
    const std::string_view text = WwwFile(file);
    std::string out;
    out.reserve(text.size() + 256);
    std::size_t at = 0;
    for (;;) {
        const std::size_t open = text.find("{{", at);
        if (open == std::string_view::npos) break;
        const bool markup = text.compare(open, 3, "{{{") == 0;
        const std::string_view closing = markup ? "}}}" : "}}";
        const std::size_t nameStart = open + (markup ? 3 : 2);
        const std::size_t close = text.find(closing, nameStart);
        if (close == std::string_view::npos) break;
        out.append(text.substr(at, open - at));
        const std::string_view name = text.substr(nameStart, close - nameStart);
        for (const Slot& slot : slots) {
            if (slot.name != name) continue;
            out += slot.markup && markup ? slot.value : HtmlEscape(slot.value);
            break;
        }
        at = close + closing.size();
    }
    out.append(text.substr(at));
    return out;
}

std::string Page(const SetupPageContext& context, std::string_view title, std::string content) {
    return Fill("page.html", {{"title", std::string(title)},
                              {"server", context.serverName + (context.version.empty() ? "" : " " + context.version)},
                              Markup("style", std::string(WwwFile("setup.css"))),
                              Markup("script", std::string(WwwFile("setup.js"))),
                              Markup("content", std::move(content))});
}

std::string ControllerCard() { return std::string(WwwFile("controller-card.html")); }

std::string DeviceCard(const SetupDeviceEntry& device, bool withLink) {
    const std::string key = DeviceKey(device);
    std::string fields;
    for (const auto& [field, caption] : FieldsOf(device.type))
        fields += Fill("field.html", {{"caption", caption}, {"field", field}});
    return Fill("device-card.html",
                {{"key", key},
                 {"name", device.name},
                 Markup("fields", std::move(fields)),
                 Markup("link", withLink ? Fill("device-link.html", {{"key", key}, {"title", TypeTitle(device.type)}})
                                         : std::string())});
}

// `servingPort` is the port this request came in on: the one picked when the setting is 0.
// `emptyPort` is what an empty serial port means in this table.
std::string SettingsRows(const SetupSettings& s, int servingPort, const char* emptyPort) {
    const std::string port = s.alpacaPort == 0 && servingPort > 0
                                 ? "0 (a free port, picked at start: " + std::to_string(servingPort) + ")"
                                 : std::to_string(s.alpacaPort);
    return Fill("settings-rows.html", {{"port", port},
                                       {"bind", s.alpacaBind},
                                       {"discoveryPort", std::to_string(s.discoveryPort)},
                                       {"serialPort", s.serialPort.empty() ? emptyPort : s.serialPort}});
}

// Form field values as text, so that refused input is shown back as it was typed.
struct FormValues {
    std::string alpacaPort, alpacaBind, discoveryPort, serialPort;
    static FormValues Of(const SetupSettings& s) {
        return {std::to_string(s.alpacaPort), s.alpacaBind, std::to_string(s.discoveryPort),
                s.serialPort};
    }
};

std::string ServerPage(SetupState& state, const FormValues& form, std::string_view message,
                       bool good, int servingPort) {
    const SetupPageContext& context = *state.context;
    std::optional<SetupSettings> stored;
    {
        std::lock_guard lock(state.mutex);
        stored = state.stored;
    }
    std::string devices;
    for (const SetupDeviceEntry& device : context.devices) devices += DeviceCard(device, true);
    const std::string content = Fill(
        "server.html",
        {Markup("message", message.empty() ? std::string()
                                           : Fill("message.html", {{"kind", good ? "good" : "bad"},
                                                                   {"text", std::string(message)}})),
         {"serverName", context.serverName},
         {"version", context.version.empty() ? "\xE2\x80\x93" : context.version},
         {"servingPort", std::to_string(servingPort > 0 ? servingPort : context.settings.alpacaPort)},
         {"bind", context.settings.alpacaBind},
         {"discoveryPort", std::to_string(context.settings.discoveryPort)},
         {"deviceCount", std::to_string(context.devices.size())},
         Markup("controller", ControllerCard()),
         Markup("devices", std::move(devices)),
         Markup("inForce", SettingsRows(context.settings, servingPort, "scan of COM1 to COM16")),
         Markup("stored", stored && !(*stored == context.settings)
                              ? Fill("stored.html", {Markup("rows", SettingsRows(*stored, 0, "unchanged"))})
                              : std::string()),
         {"alpacaPort", form.alpacaPort},
         {"alpacaBind", form.alpacaBind},
         {"discoveryPortField", form.discoveryPort},
         {"serialPort", form.serialPort},
         {"token", context.token}});
    return Page(context, "Alpaca server setup", content);
}

// A thermometer's name as the controller card shows it; a sensor without a name gets its number.
std::string ThermometerCaption(const Snapshot& snap, int index) {
    const std::string& name = snap.thermometerNames[static_cast<std::size_t>(index)];
    return name.empty() ? "Sensor " + std::to_string(index + 1) : name;
}

std::string CompensationForm(const SetupPageContext& context, const SetupDeviceEntry& device) {
    const auto snap = context.service.Current();
    const int chosen = snap->settings.AscomPreferredTermometer;
    // Before the first connection the sensor count is not known: every sensor is offered.
    const int count = snap->sensorCount > 0 ? std::min(snap->sensorCount, kSensorCount) : kSensorCount;
    auto option = [chosen](int value, std::string text) {
        return Fill("option.html", {{"value", std::to_string(value)},
                                    Markup("selected", value == chosen ? " selected" : ""),
                                    {"text", std::move(text)}});
    };
    std::string options = option(-1, "None");
    for (int i = 0; i < count; ++i) options += option(i, ThermometerCaption(*snap, i));
    if (chosen >= count && chosen < kSensorCount) options += option(chosen, ThermometerCaption(*snap, chosen));
    return Fill("compensation-form.html",
                {{"key", DeviceKey(device)}, {"token", context.token}, Markup("options", std::move(options))});
}

std::string DevicePage(const SetupPageContext& context, const SetupDeviceEntry& device, std::string_view message = {},
                       bool good = true) {
    const bool form = device.compensation && context.storeCompensationThermometer;
    return Page(context, device.name + " setup",
                Fill("device.html",
                     {Markup("message", message.empty() ? std::string()
                                                        : Fill("message.html", {{"kind", good ? "good" : "bad"},
                                                                                {"text", std::string(message)}})),
                      Markup("device", DeviceCard(device, false)),
                      Markup("controller", ControllerCard()),
                      Markup("form", form ? CompensationForm(context, device) : std::string()),
                      {"key", DeviceKey(device)},
                      {"note", form ? "" : "This device has no settings of its own here. "}}));
}

std::string Trim(std::string_view text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) return {};
    const auto last = text.find_last_not_of(" \t");
    return std::string(text.substr(first, last - first + 1));
}

bool ParsePort(const std::optional<std::string>& raw, const char* caption, int& out,
               std::string& error) {
    const std::string text = Trim(raw.value_or(""));
    int value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    // Ports below 1024 are the system's; 0 asks for a free port.
    if (text.empty() || ec != std::errc() || end != text.data() + text.size() ||
        (value != 0 && value < 1024) || value > 65535) {
        error = std::string(caption) + " must be 0 (a free port) or a whole number from 1024 to 65535.";
        return false;
    }
    out = value;
    return true;
}

bool IsComPortName(const std::string& port) {
    if (port.size() <= 3 || port.compare(0, 3, "COM") != 0 || port[3] == '0') return false;
    int n = 0;
    const auto [end, ec] = std::from_chars(port.data() + 3, port.data() + port.size(), n);
    return ec == std::errc() && end == port.data() + port.size() && n >= 1 && n <= kLastPortNumber;
}

// A browser sends Origin with every form post; a post from another site's page, or one without
// Origin (a Referer alone proves nothing), is refused so that a web page cannot rewrite the
// settings through the user's browser.
bool SameOrigin(const HttpRequest& req) {
    const std::optional<std::string> origin = req.Header("Origin");
    if (!origin) return false;
    const std::string host = req.Header("Host").value_or("");
    return !host.empty() && (*origin == "http://" + host || *origin == "https://" + host);
}

// Compares without stopping at the first difference, so that timing does not tell the token.
bool SameToken(std::string_view a, std::string_view b) {
    if (a.size() != b.size() || a.empty()) return false;
    unsigned char difference = 0;
    for (std::size_t i = 0; i < a.size(); ++i)
        difference |= static_cast<unsigned char>(a[i] ^ b[i]);
    return difference == 0;
}

bool HostOk(const SetupPageContext& context, const HttpRequest& req) {
    const std::optional<std::string> host = req.Header("Host");
    if (!host) return false;
    return context.hostAllowed ? context.hostAllowed(*host) : HostAllowed(*host, context.settings.alpacaBind);
}

HttpResponse Html(int status, std::string body) {
    HttpResponse response;
    response.status = status;
    response.contentType = kHtml;
    response.body = std::move(body);
    return response;
}

// "/setup/v1/{type}/{n}/setup" with a type of lower-case letters and a number of 1 to 9 digits.
bool DevicePagePath(std::string_view path, std::string& type, int& number) {
    constexpr std::string_view prefix = "/setup/v1/", suffix = "/setup";
    if (path.size() <= prefix.size() + suffix.size() || path.substr(0, prefix.size()) != prefix ||
        path.substr(path.size() - suffix.size()) != suffix)
        return false;
    const std::string_view middle = path.substr(prefix.size(), path.size() - prefix.size() - suffix.size());
    const std::size_t slash = middle.find('/');
    if (slash == std::string_view::npos) return false;
    const std::string_view typeText = middle.substr(0, slash), digits = middle.substr(slash + 1);
    if (typeText.empty() || digits.empty() || digits.size() > 9) return false;
    if (!std::all_of(typeText.begin(), typeText.end(), [](char c) { return c >= 'a' && c <= 'z'; })) return false;
    if (!std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; })) return false;
    type = std::string(typeText);
    std::from_chars(digits.data(), digits.data() + digits.size(), number);
    return true;
}

bool HasQueryKey(std::string_view query, std::string_view key) {
    const auto pairs = ParseFormText(query);
    return pairs && std::any_of(pairs->begin(), pairs->end(), [key](const auto& p) { return p.first == key; });
}

using nlohmann::json;

std::string ModeText(std::int8_t mode) {
    if (mode > 10) return "virtual filter wheel, " + std::to_string(FilterCountFromMode(mode)) + " positions";
    if (mode > 0) return "filter wheel, " + std::to_string(FilterCountFromMode(mode)) + " positions";
    if (mode == 0) return "second focuser";
    if (mode == -1) return "rotator";
    if (mode == -2) return "cover";
    return "mode " + std::to_string(mode);
}

const char* CoverText(CoverStatus status) {
    switch (status) {
        case CoverStatus::Open: return "open";
        case CoverStatus::Closed: return "closed";
        case CoverStatus::Opening: return "opening";
        case CoverStatus::Closing: return "closing";
        case CoverStatus::Error: break;
    }
    return "error";
}

// A reading rounded to hundredths (the controller's resolution), so that the float's noise does
// not show.
json Reading(float value) {
    if (!std::isfinite(value) || value >= kNoTemperature) return nullptr;
    return std::round(static_cast<double>(value) * 100.0) / 100.0;
}

// The device kind whose mode rule applies to a page entry; none for entries that fit every mode.
std::optional<DeviceKind> KindOf(const SetupDeviceEntry& d) {
    if (d.type == "filterwheel") return DeviceKind::FilterWheel;
    if (d.type == "focuser") return d.number == 0 ? DeviceKind::Focuser : DeviceKind::Focuser2;
    if (d.type == "rotator") return DeviceKind::Rotator;
    if (d.type == "dome" || d.type == "covercalibrator") return DeviceKind::Cover;
    return std::nullopt;
}

json Temperatures(const Snapshot& s) {
    json list = json::array();
    for (int i = 0; i < std::min(s.sensorCount, kSensorCount); ++i) {
        const std::string& name = s.thermometerNames[static_cast<std::size_t>(i)];
        list.push_back({{"name", name.empty() ? "Sensor " + std::to_string(i + 1) : name},
                        {"celsius", s.open ? Reading(s.status.Temp[i]) : json(nullptr)}});
    }
    return list;
}

json Position(const Snapshot& s, int motor) {
    if (!s.open || s.MotorPosition(motor) == kPositionNotRead) return nullptr;
    return s.FocuserPosition(motor);
}

}  // namespace

json BuildSetupStatus(const Snapshot& s, const std::vector<SetupDeviceEntry>& devices,
                      const std::function<bool(const SetupDeviceEntry&)>& deviceConnected) {
    std::string port;
    if (s.comPort > 0) {
        port = "COM" + std::to_string(s.comPort);
        if (!s.portPath.empty()) port += " (" + s.portPath + ")";
    } else {
        port = s.open ? "found by a scan (COM1 to COM16)" : "scan of COM1 to COM16";
    }
    json controller = {
        {"port", port},
        {"connected", s.open},
        {"mode", s.open ? json(ModeText(s.mode)) : json(nullptr)},
        {"memorySize", s.open && s.memorySize > 0 ? json(s.memorySize) : json(nullptr)},
        {"fwAll", s.open ? json(s.statusPresent) : json(nullptr)},
        {"voltage", s.open ? Reading(s.status.Vin) : json(nullptr)},
        {"power", s.open ? Reading(s.status.Out) : json(nullptr)},
        {"temperatures", Temperatures(s)},
    };

    json list = json::array();
    for (const SetupDeviceEntry& d : devices) {
        json entry = {{"type", d.type},
                      {"number", d.number},
                      {"connected", deviceConnected ? deviceConnected(d) : s.open}};
        const std::optional<DeviceKind> kind = KindOf(d);
        if (s.open && kind && !ModeFits(*kind, s.mode)) {
            // Its readings would describe a motor that works as something else in this mode.
            entry["moving"] = nullptr;
            for (const auto& [field, caption] : FieldsOf(d.type)) {
                if (!entry.contains(field)) entry[field] = nullptr;
            }
            entry["note"] = "Not available in the controller's present mode.";
            list.push_back(std::move(entry));
            continue;
        }
        entry["note"] = "";
        if (d.type == "filterwheel") {
            const bool moving = s.Moving(MoveKind::Wheel) || s.Moving(MoveKind::Home);
            const int position = moving ? -1 : s.currentFilter;
            entry["moving"] = moving;
            entry["position"] = s.open ? json(position) : json(nullptr);
            entry["filter"] = s.open && position >= 0 && position < static_cast<int>(s.filterNames.size())
                                  ? json(s.filterNames[static_cast<std::size_t>(position)])
                                  : json(nullptr);
        } else if (d.type == "focuser") {
            const int motor = d.number == 0 ? 0 : 1;
            entry["moving"] = s.Moving(FocuserMoveKind(motor, s.mode));
            entry["position"] = Position(s, motor);
            double celsius = 0.0;
            entry["temperature"] = s.open && s.sensorCount > 0 && s.Temperature(celsius) ? json(celsius) : json(nullptr);
        } else if (d.type == "rotator") {
            entry["moving"] = s.Moving(MoveKind::SecondMotor);
            if (s.open && s.image.MaxSteps > 0 && s.status.Focus2Pos != kPositionNotRead) {
                const double angle = std::fmod(static_cast<double>(s.RotatorPosition()), 360.0);
                entry["position"] = angle < 0 ? angle + 360.0 : angle;
            } else {
                entry["position"] = nullptr;
            }
        } else if (d.type == "dome" || d.type == "covercalibrator") {
            entry["moving"] = s.Moving(MoveKind::SecondMotor);
            entry[d.type == "dome" ? "shutter" : "cover"] = s.open ? json(CoverText(s.Cover())) : json(nullptr);
        } else if (d.type == "switch") {
            entry["moving"] = false;
            entry["voltage"] = controller["voltage"];
            entry["power"] = controller["power"];
            entry["temperatures"] = controller["temperatures"];
        } else {
            entry["moving"] = s.Moving();
        }
        list.push_back(std::move(entry));
    }
    return {{"controller", std::move(controller)}, {"devices", std::move(list)}};
}

std::string HtmlEscape(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            case '\'': out += "&#39;"; break;
            case '\0': out += "\xEF\xBF\xBD"; break;
            default: out += c;
        }
    }
    return out;
}

std::optional<int> ParseCompensationThermometer(const std::optional<std::string>& text) {
    if (!text) return std::nullopt;
    const std::string trimmed = Trim(*text);
    int value = 0;
    const auto [end, ec] = std::from_chars(trimmed.data(), trimmed.data() + trimmed.size(), value);
    if (ec != std::errc() || end != trimmed.data() + trimmed.size() || trimmed.empty()) return std::nullopt;
    if (value < -1 || value >= kSensorCount) return std::nullopt;
    return value;
}

bool ParseSetupForm(const std::function<std::optional<std::string>(const char* key)>& field,
                    SetupSettings& out, std::string& error, const SetupFormChecks& checks) {
    SetupSettings parsed;
    if (!ParsePort(field("AlpacaPort"), "The Alpaca port", parsed.alpacaPort, error)) return false;
    if (!ParsePort(field("DiscoveryPort"), "The discovery port", parsed.discoveryPort, error))
        return false;
    parsed.alpacaBind = Trim(field("AlpacaBind").value_or(""));
    if (parsed.alpacaBind.find('\0') != std::string::npos) parsed.alpacaBind.clear();
    error = BindAddressProblem(parsed.alpacaBind, checks.ownAddress);
    if (!error.empty()) return false;
    parsed.serialPort = Trim(field("SerialPort").value_or(""));
    // Empty leaves the port as it is (a scan when none is set).
    if (!parsed.serialPort.empty() && !IsComPortName(parsed.serialPort)) {
        error = SerialPathProblem(parsed.serialPort, checks.serialLookup);
        if (!error.empty()) return false;
    }
    out = parsed;
    return true;
}

void AddSetupRoutes(HttpRoutes& routes, SetupPageContext& context) {
    auto state = std::make_shared<SetupState>();
    state->context = &context;

    routes.Add([state](const HttpRequest& req) -> std::optional<HttpResponse> {
        if (req.path != "/setup" && req.path.rfind("/setup/", 0) != 0) return std::nullopt;
        // A page under a name that is not this server's (a DNS name rebound to this machine)
        // gets nothing, not even the status.
        if (!HostOk(*state->context, req))
            return HttpResponse::Text(403, "This server answers setup requests to its own names and addresses only.");
        if (req.path == "/setup" && req.method == "GET") {
            SetupSettings shown = state->context->settings;
            {
                std::lock_guard lock(state->mutex);
                if (state->stored) shown = *state->stored;
            }
            // A port picked at start is no setting to offer for the next one.
            if (shown.alpacaPort == 0) shown.alpacaPort = SetupSettings{}.alpacaPort;
            const bool saved = HasQueryKey(req.query, "saved");
            const std::string& notice = state->context->startNotice;
            return Html(200, ServerPage(*state, FormValues::Of(shown),
                                        saved ? kSavedMessage : notice, saved || notice.empty(),
                                        req.localPort));
        }
        if (req.path == "/setup" && req.method == "POST") {
            if (!SameOrigin(req)) return HttpResponse::Text(403, "Setup forms from other sites are refused.");
            // Form fields only: values in the query string do not count.
            const auto form = ParseFormText(req.body).value_or(std::vector<std::pair<std::string, std::string>>{});
            auto field = [&form](const char* key) -> std::optional<std::string> {
                for (const auto& [name, value] : form)
                    if (name == key) return value;
                return std::nullopt;
            };
            if (!SameToken(field("Token").value_or(""), state->context->token))
                return HttpResponse::Text(403, "The form is out of date or not from this server; reload the setup page.");
            const FormValues typed{field("AlpacaPort").value_or(""), field("AlpacaBind").value_or(""),
                                   field("DiscoveryPort").value_or(""), field("SerialPort").value_or("")};
            SetupSettings settings;
            std::string error;
            if (!ParseSetupForm(field, settings, error, state->context->checks))
                return Html(400, ServerPage(*state, typed, "Not saved: " + error, false, req.localPort));
            if (!state->context->store || !state->context->store(settings, error)) {
                return Html(500, ServerPage(*state, typed,
                                            "Not saved: " + (error.empty() ? std::string("the settings could not be stored.")
                                                                           : error),
                                            false, req.localPort));
            }
            {
                std::lock_guard lock(state->mutex);
                state->stored = settings;
            }
            HttpResponse response = HttpResponse::Text(303, "");
            response.headers.emplace_back("Location", "/setup?saved=1");
            return response;
        }
        if (req.path == kStatusPath && req.method == "GET") {
            const SetupPageContext& context = *state->context;
            const nlohmann::json status =
                BuildSetupStatus(*context.service.Current(), context.devices, context.deviceConnected);
            HttpResponse response;
            response.contentType = "application/json";
            response.headers.emplace_back("Cache-Control", "no-store");
            // Names come from the device and the user; bytes that are not UTF-8 are replaced
            // rather than failing the reply.
            response.body = status.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
            return response;
        }
        std::string type;
        int number = 0;
        if (req.method == "GET" && DevicePagePath(req.path, type, number)) {
            for (const SetupDeviceEntry& device : state->context->devices) {
                if (device.type == type && device.number == number) {
                    const bool saved = HasQueryKey(req.query, "saved");
                    return Html(200, DevicePage(*state->context, device, saved ? "Saved; in use now." : ""));
                }
            }
            return HttpResponse::Text(404, "No such device: " + type + "/" + std::to_string(number));
        }
        if (req.method == "POST" && DevicePagePath(req.path, type, number)) {
            const SetupPageContext& context = *state->context;
            const auto device = std::find_if(context.devices.begin(), context.devices.end(), [&](const auto& d) {
                return d.type == type && d.number == number;
            });
            if (device == context.devices.end() || !device->compensation || !context.storeCompensationThermometer)
                return HttpResponse::Text(404, "No settings form for " + type + "/" + std::to_string(number));
            if (!SameOrigin(req)) return HttpResponse::Text(403, "Setup forms from other sites are refused.");
            const auto form = ParseFormText(req.body).value_or(std::vector<std::pair<std::string, std::string>>{});
            std::optional<std::string> raw, token;
            for (const auto& [name, value] : form) {
                if (name == "CompensationThermometer") raw = value;
                if (name == "Token") token = value;
            }
            if (!SameToken(token.value_or(""), context.token))
                return HttpResponse::Text(403, "The form is out of date or not from this server; reload the setup page.");
            const auto thermometer = ParseCompensationThermometer(raw);
            if (!thermometer)
                return Html(400, DevicePage(context, *device, "Not saved: choose None or one of the thermometers.", false));
            std::string error;
            if (!context.storeCompensationThermometer(*thermometer, error))
                return Html(500, DevicePage(context, *device,
                                            "Not saved: " + (error.empty() ? std::string("the choice could not be stored.")
                                                                           : error),
                                            false));
            HttpResponse response = HttpResponse::Text(303, "");
            response.headers.emplace_back("Location", std::string(req.path) + "?saved=1");
            return response;
        }
        return std::nullopt;
    });
}

}  // namespace velq3::alpaca
