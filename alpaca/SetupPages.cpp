// The setup pages: server-rendered HTML with a small script that refreshes the live fields from
// /setup/v1/status.json every second. Every text put into the HTML goes through HtmlEscape; the
// script only sets textContent.
#include "alpaca/SetupPages.h"

#include <arpa/inet.h>
#include <httplib.h>

#include "platform/PortMap.h"

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

const char* kStyle = R"CSS(
:root { color-scheme: light dark; --bg:#f4f5f7; --fg:#1d2330; --card:#ffffff; --muted:#5b6475;
        --line:#d6dae2; --accent:#2f6fd6; --bad:#b3261e; --good:#1e7d3a; }
@media (prefers-color-scheme: dark) {
  :root { --bg:#14171c; --fg:#e4e7ec; --card:#1e232b; --muted:#9aa3b2; --line:#323946;
          --accent:#7aa7ff; --bad:#ff8a80; --good:#7fd68f; } }
* { box-sizing: border-box; }
body { margin:0; font:15px/1.45 system-ui, "DejaVu Sans", sans-serif; background:var(--bg);
       color:var(--fg); }
header { padding:14px 24px; border-bottom:1px solid var(--line); display:flex; gap:16px;
         align-items:baseline; flex-wrap:wrap; }
header h1 { font-size:20px; margin:0; }
header .sub { color:var(--muted); }
#live { margin-left:auto; font-size:13px; color:var(--muted); }
#live.ok::before { content:"\25CF "; color:var(--good); }
#live.off::before { content:"\25CF "; color:var(--bad); }
main { padding:18px 24px; max-width:1100px; }
h2 { font-size:16px; margin:22px 0 10px; }
.grid { display:grid; grid-template-columns:repeat(auto-fill, minmax(240px, 1fr)); gap:12px; }
.card { background:var(--card); border:1px solid var(--line); border-radius:8px; padding:12px 14px; }
.card h3 { margin:0 0 8px; font-size:15px; }
.card h3 small { color:var(--muted); font-weight:normal; }
dl { display:grid; grid-template-columns:auto 1fr; gap:3px 12px; margin:0; }
dt { color:var(--muted); }
dl.two { grid-template-columns:auto minmax(0,1fr) auto minmax(0,1fr); }
dl.two dd.full { grid-column:span 3; }
@media (max-width:560px) { dl.two { grid-template-columns:auto minmax(0,1fr); }
                           dl.two dd.full { grid-column:auto; } }
dd { margin:0; font-variant-numeric:tabular-nums; white-space:pre-line; overflow-wrap:anywhere; }
a { color:var(--accent); }
.wide { grid-column:span 2; }
@media (max-width:560px) { .wide { grid-column:auto; } }
label { display:grid; grid-template-columns:150px 1fr; align-items:center; gap:10px; margin:6px 0; }
input { font:inherit; padding:5px 8px; border:1px solid var(--line); border-radius:5px;
        background:var(--bg); color:var(--fg); }
button { font:inherit; padding:6px 16px; border-radius:5px; border:1px solid var(--accent);
         background:var(--accent); color:#fff; cursor:pointer; margin-top:8px; }
.note { color:var(--muted); font-size:13px; }
p.note:empty { display:none; }
.msg { padding:8px 12px; border-radius:6px; margin:0 0 12px; border:1px solid; }
.msg.bad { color:var(--bad); border-color:var(--bad); }
.msg.good { color:var(--good); border-color:var(--good); }
table.settings td { padding:2px 14px 2px 0; vertical-align:top; }
table.settings td:first-child { white-space:nowrap; color:var(--muted); }
)CSS";

// Fills every element carrying data-key/data-field from the status JSON. Only textContent is
// set, so values cannot inject markup.
const char* kScript = R"JS(
(function () {
  function fmt(field, v) {
    if (v === null || v === undefined) return '\u2013';
    if (typeof v === 'boolean') return v ? 'yes' : 'no';
    if (field === 'position' && v === -1) return 'moving';
    if (field === 'temperature' || field === 'celsius') return v.toFixed(1) + '\u00A0\u00B0C';
    if (field === 'voltage') return v.toFixed(2) + '\u00A0V';
    if (field === 'power') return v.toFixed(0) + '\u00A0%';
    if (field === 'temperatures') {
      if (!v.length) return 'none';
      return v.map(function (t) { return t.name + ':\u00A0' + fmt('celsius', t.celsius); }).join('\n');
    }
    if (typeof v === 'number' && !Number.isInteger(v)) return v.toFixed(2);
    return String(v);
  }
  function fill(scope, values) {
    if (!scope || !values) return;
    scope.querySelectorAll('[data-field]').forEach(function (el) {
      var f = el.getAttribute('data-field');
      if (f in values) el.textContent = fmt(f, values[f]);
    });
  }
  var live = document.getElementById('live');
  function tick() {
    fetch('/setup/v1/status.json', { cache: 'no-store' })
      .then(function (r) { if (!r.ok) throw new Error(r.status); return r.json(); })
      .then(function (s) {
        fill(document.querySelector('[data-key="controller"]'), s.controller);
        (s.devices || []).forEach(function (d) {
          document.querySelectorAll('[data-key="' + d.type + '/' + d.number + '"]')
            .forEach(function (el) { fill(el, d); });
        });
        live.className = 'ok';
        live.textContent = 'live, ' + new Date().toLocaleTimeString();
      })
      .catch(function () { live.className = 'off'; live.textContent = 'no answer from the server'; });
  }
  tick();
  setInterval(tick, 1000);
})();
)JS";

std::string PageStart(const SetupPageContext& context, std::string_view title) {
    std::string html;
    html += "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
            "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">";
    html += "<title>" + HtmlEscape(title) + "</title><style>" + kStyle + "</style></head><body>";
    html += "<header><h1>" + HtmlEscape(title) + "</h1><span class=\"sub\">" +
            HtmlEscape(context.serverName) +
            (context.version.empty() ? "" : " " + HtmlEscape(context.version)) + "</span>";
    html += "<span id=\"live\">waiting for the first status\xE2\x80\xA6</span></header><main>";
    html += "<noscript><p class=\"msg bad\">The live status needs JavaScript.</p></noscript>";
    return html;
}

std::string PageEnd() { return std::string("</main><script>") + kScript + "</script></body></html>"; }

std::string ControllerCard() {
    // The port's path can be long: it has a row of its own.
    std::string html = "<div class=\"card wide\" data-key=\"controller\"><h3>Controller</h3><dl class=\"two\">"
                       "<dt>Serial port</dt><dd class=\"full\" data-field=\"port\">\xE2\x80\x93</dd>";
    for (const auto& [field, caption] :
         std::vector<std::pair<const char*, const char*>>{{"connected", "Open"},
                                                          {"mode", "Mode"},
                                                          {"memorySize", "Memory size"},
                                                          {"fwAll", "FWAll support"},
                                                          {"voltage", "Supply"},
                                                          {"power", "Output power"},
                                                          {"temperatures", "Temperatures"}}) {
        html += std::string("<dt>") + caption + "</dt><dd data-field=\"" + field +
                "\">\xE2\x80\x93</dd>";
    }
    return html + "</dl></div>";
}

std::string DeviceCard(const SetupDeviceEntry& device, bool withLink) {
    const std::string key = DeviceKey(device);
    std::string html = "<div class=\"card\" data-key=\"" + HtmlEscape(key) + "\"><h3>";
    html += HtmlEscape(device.name) + " <small>" + HtmlEscape(key) + "</small></h3><dl>";
    for (const auto& [field, caption] : FieldsOf(device.type)) {
        html += std::string("<dt>") + caption + "</dt><dd data-field=\"" + field +
                "\">\xE2\x80\x93</dd>";
    }
    html += "</dl><p class=\"note\" data-field=\"note\"></p>";
    if (withLink) {
        html += "<p class=\"note\"><a href=\"/setup/v1/" + HtmlEscape(key) + "/setup\">" +
                HtmlEscape(TypeTitle(device.type)) + " page</a></p>";
    }
    return html + "</div>";
}

// `servingPort` is the port this request came in on: the one picked when the setting is 0.
// `emptyPort` is what an empty serial port means in this table.
std::string SettingsRows(const SetupSettings& s, int servingPort, const char* emptyPort) {
    const std::string port = s.alpacaPort == 0 && servingPort > 0
                                 ? "0 (a free port, picked at start: " + std::to_string(servingPort) + ")"
                                 : std::to_string(s.alpacaPort);
    return "<tr><td>Alpaca port</td><td>" + port +
           "</td></tr><tr><td>Bind address</td><td>" + HtmlEscape(s.alpacaBind) +
           "</td></tr><tr><td>Discovery port</td><td>" + std::to_string(s.discoveryPort) +
           "</td></tr><tr><td>Serial port</td><td>" +
           HtmlEscape(s.serialPort.empty() ? emptyPort : s.serialPort) + "</td></tr>";
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
    std::string html = PageStart(context, "Alpaca server setup");
    if (!message.empty()) {
        html += std::string("<p class=\"msg ") + (good ? "good" : "bad") + "\">" +
                HtmlEscape(message) + "</p>";
    }
    html += "<h2>Server and controller</h2><div class=\"grid\">";
    html += "<div class=\"card\"><h3>Server</h3><dl><dt>Name</dt><dd>" +
            HtmlEscape(context.serverName) + "</dd><dt>Version</dt><dd>" +
            HtmlEscape(context.version.empty() ? "\xE2\x80\x93" : context.version) +
            "</dd><dt>Alpaca port</dt><dd>" +
            std::to_string(servingPort > 0 ? servingPort : context.settings.alpacaPort) +
            "</dd><dt>Bind address</dt><dd>" + HtmlEscape(context.settings.alpacaBind) +
            "</dd><dt>Discovery port</dt><dd>" + std::to_string(context.settings.discoveryPort) +
            "</dd><dt>Devices</dt><dd>" + std::to_string(context.devices.size()) +
            "</dd></dl></div>";
    html += ControllerCard() + "</div>";
    html += "<h2>Devices</h2><div class=\"grid\">";
    for (const SetupDeviceEntry& device : context.devices) html += DeviceCard(device, true);
    html += "</div>";

    html += "<h2>Network and serial port</h2><div class=\"grid\"><div class=\"card\">"
            "<h3>In force now</h3><table class=\"settings\">" +
            SettingsRows(context.settings, servingPort, "scan of COM1 to COM16") + "</table>";
    if (stored && !(*stored == context.settings)) {
        html += "<h3 style=\"margin-top:12px\">Stored for the next start</h3>"
                "<table class=\"settings\">" +
                SettingsRows(*stored, 0, "unchanged") + "</table>";
    }
    html += "</div>";

    html += "<form class=\"card wide\" method=\"post\" action=\"/setup\"><h3>Change</h3>";
    auto input = [](const char* name, const char* caption, const std::string& value,
                    const char* extra) {
        return std::string("<label>") + caption + "<input name=\"" + name + "\" value=\"" +
               HtmlEscape(value) + "\" " + extra + "></label>";
    };
    html += input("AlpacaPort", "Alpaca port", form.alpacaPort, "inputmode=\"numeric\" required");
    html += input("AlpacaBind", "Bind address", form.alpacaBind,
                  "required placeholder=\"127.0.0.1 or 0.0.0.0\"");
    html += input("DiscoveryPort", "Discovery port", form.discoveryPort,
                  "inputmode=\"numeric\" required");
    html += input("SerialPort", "Serial port", form.serialPort,
                  "placeholder=\"COM1 or /dev/ttyUSB0; empty: unchanged\"");
    html += "<p class=\"note\">Ports 1\xE2\x80\x93" "65535. Bind address 127.0.0.1 serves this "
            "computer only, 0.0.0.0 every network interface. The new settings are applied at "
            "the next start.</p><button type=\"submit\">Save</button></form></div>";
    return html + PageEnd();
}

std::string DevicePage(const SetupPageContext& context, const SetupDeviceEntry& device) {
    std::string html = PageStart(context, device.name + " setup");
    html += "<p><a href=\"/setup\">\xE2\x86\x90 Server setup</a></p>";
    html += "<div class=\"grid\">" + DeviceCard(device, false) + ControllerCard() + "</div>";
    html += "<p class=\"note\">Alpaca endpoint <code>/api/v1/" + HtmlEscape(DeviceKey(device)) +
            "/</code>. This device has no settings of its own here; the serial port and the "
            "network settings are on the <a href=\"/setup\">server page</a>.</p>";
    return html + PageEnd();
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
    if (text.empty() || ec != std::errc() || end != text.data() + text.size() || value < 1 ||
        value > 65535) {
        error = std::string(caption) + " must be a whole number from 1 to 65535.";
        return false;
    }
    out = value;
    return true;
}

bool ValidSerialPort(const std::string& port) {
    if (port.size() > 3 && port.compare(0, 3, "COM") == 0) {
        int n = 0;
        const auto [end, ec] = std::from_chars(port.data() + 3, port.data() + port.size(), n);
        return ec == std::errc() && end == port.data() + port.size() && port[3] != '0' &&
               n >= 1 && n <= kLastPortNumber;
    }
    if (port.size() <= 5 || port.size() > 255 || port.compare(0, 5, "/dev/") != 0) return false;
    if (port.find("..") != std::string::npos) return false;
    for (const char c : port) {
        const auto u = static_cast<unsigned char>(c);
        if (u <= 0x20 || u == 0x7F) return false;
    }
    return true;
}

// A browser sends Origin with a form post; a post from another site's page is refused so that
// a web page cannot rewrite the settings through the user's browser.
bool SameOrigin(const httplib::Request& req) {
    if (!req.has_header("Origin")) return true;
    const std::string origin = req.get_header_value("Origin");
    const std::string host = req.get_header_value("Host");
    return !host.empty() && (origin == "http://" + host || origin == "https://" + host);
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

bool ParseSetupForm(const std::function<std::optional<std::string>(const char* key)>& field,
                    SetupSettings& out, std::string& error) {
    SetupSettings parsed;
    if (!ParsePort(field("AlpacaPort"), "The Alpaca port", parsed.alpacaPort, error)) return false;
    if (!ParsePort(field("DiscoveryPort"), "The discovery port", parsed.discoveryPort, error))
        return false;
    parsed.alpacaBind = Trim(field("AlpacaBind").value_or(""));
    in_addr address{};
    if (::inet_pton(AF_INET, parsed.alpacaBind.c_str(), &address) != 1 ||
        parsed.alpacaBind.find('\0') != std::string::npos) {
        error = "The bind address must be an IPv4 address such as 127.0.0.1, or 0.0.0.0 for "
                "every interface.";
        return false;
    }
    parsed.serialPort = Trim(field("SerialPort").value_or(""));
    // Empty leaves the port as it is (a scan when none is set).
    if (!parsed.serialPort.empty() && !ValidSerialPort(parsed.serialPort)) {
        error = "The serial port must be COM1 to COM" + std::to_string(kLastPortNumber) +
                " or a device path such as /dev/ttyUSB0.";
        return false;
    }
    out = parsed;
    return true;
}

void AddSetupRoutes(httplib::Server& server, SetupPageContext& context) {
    auto state = std::make_shared<SetupState>();
    state->context = &context;

    server.Get("/setup", [state](const httplib::Request& req, httplib::Response& res) {
        SetupSettings shown = state->context->settings;
        {
            std::lock_guard lock(state->mutex);
            if (state->stored) shown = *state->stored;
        }
        // A port picked at start is no setting to offer for the next one.
        if (shown.alpacaPort == 0) shown.alpacaPort = SetupSettings{}.alpacaPort;
        const bool saved = req.has_param("saved");
        res.set_content(ServerPage(*state, FormValues::Of(shown),
                                   saved ? "Saved. The new settings are applied at the next start."
                                         : "",
                                   true, req.local_port),
                        kHtml);
    });

    server.Post("/setup", [state](const httplib::Request& req, httplib::Response& res) {
        if (!SameOrigin(req)) {
            res.status = 403;
            res.set_content("Setup forms from other sites are refused.", "text/plain");
            return;
        }
        // Form fields only: values in the query string do not count.
        httplib::Params form;
        httplib::detail::parse_query_text(req.body, form);
        auto field = [&form](const char* key) -> std::optional<std::string> {
            const auto it = form.find(key);
            if (it == form.end()) return std::nullopt;
            return it->second;
        };
        const FormValues typed{field("AlpacaPort").value_or(""), field("AlpacaBind").value_or(""),
                               field("DiscoveryPort").value_or(""),
                               field("SerialPort").value_or("")};
        SetupSettings settings;
        std::string error;
        if (!ParseSetupForm(field, settings, error)) {
            res.status = 400;
            res.set_content(ServerPage(*state, typed, "Not saved: " + error, false, req.local_port), kHtml);
            return;
        }
        if (!state->context->store || !state->context->store(settings, error)) {
            res.status = 500;
            res.set_content(
                ServerPage(*state, typed,
                           "Not saved: " + (error.empty() ? std::string("the settings could not be stored.") : error),
                           false, req.local_port),
                kHtml);
            return;
        }
        {
            std::lock_guard lock(state->mutex);
            state->stored = settings;
        }
        res.status = 303;
        res.set_header("Location", "/setup?saved=1");
    });

    server.Get(kStatusPath, [state](const httplib::Request&, httplib::Response& res) {
        const SetupPageContext& context = *state->context;
        const nlohmann::json status =
            BuildSetupStatus(*context.service.Current(), context.devices, context.deviceConnected);
        res.set_header("Cache-Control", "no-store");
        // Names come from the device and the user; bytes that are not UTF-8 are replaced rather
        // than failing the reply.
        res.set_content(status.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace),
                        "application/json");
    });

    server.Get(R"(/setup/v1/([a-z]+)/([0-9]{1,9})/setup)",
               [state](const httplib::Request& req, httplib::Response& res) {
                   const std::string type = req.matches[1];
                   const int number = std::stoi(req.matches[2]);
                   for (const SetupDeviceEntry& device : state->context->devices) {
                       if (device.type == type && device.number == number) {
                           res.set_content(DevicePage(*state->context, device), kHtml);
                           return;
                       }
                   }
                   res.status = 404;
                   res.set_content("No such device: " + type + "/" + std::to_string(number),
                                   "text/plain");
               });
}

}  // namespace velq3::alpaca
