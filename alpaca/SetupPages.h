// The HTML setup pages: /setup for the whole server (controller, every device with live status,
// the network and serial settings form) and /setup/v1/{type}/{n}/setup for each device, with the
// JSON status they refresh from every second. Self-contained pages: no external assets.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "alpaca/HttpServer.h"
#include "alpaca/SetupSecurity.h"
#include "service/DeviceService.h"

namespace velq3::alpaca {

// One Alpaca device as the pages list it: type in lower case as in the API paths
// ("filterwheel", "focuser", ...), its device number and its name.
struct SetupDeviceEntry {
    std::string type;
    int number = 0;
    std::string name;
    bool compensation = false;  // a focuser with temperature compensation: its page offers the thermometer
};

// The settings the form edits. The network settings take effect at the next start, the serial
// port at the next connection to the controller.
struct SetupSettings {
    int alpacaPort = 11111;
    std::string alpacaBind = "127.0.0.1";
    int discoveryPort = 32227;
    std::string serialPort;  // COMn or a device path; empty: none set (a scan), or no change
    bool operator==(const SetupSettings&) const = default;
};

// What the form's values are checked against; replaced in tests.
struct SetupFormChecks {
    std::function<bool(const std::string&)> ownAddress = IsOwnAddress;
    SerialPathLookup serialLookup = SerialPathLookup::System();
};

struct SetupPageContext {
    explicit SetupPageContext(DeviceService& service) : service(service) {}

    // The live status comes from the service's snapshot, never from the device object.
    DeviceService& service;
    std::vector<SetupDeviceEntry> devices;
    // The settings in force in this run.
    SetupSettings settings;
    // Stores new settings for the next start; false with a message when that failed. Called on
    // an HTTP thread; the function itself hands the work to the registry's owner.
    std::function<bool(const SetupSettings&, std::string& error)> store;
    // Stores the thermometer temperature compensation follows (-1: none), in the setting the
    // control window uses; false with a message when that failed. Called on an HTTP thread.
    std::function<bool(int thermometer, std::string& error)> storeCompensationThermometer;
    // Whether a device is connected for its Alpaca clients; without it, whether the link is open.
    std::function<bool(const SetupDeviceEntry&)> deviceConnected;
    std::string serverName = "velq3";
    std::string version;
    // The form's token for this run: a post without it is refused, so that only a page this
    // server gave out can store settings.
    std::string token = NewFormToken();
    // Whether a Host header names this server; by default the bound address in force, localhost,
    // this machine's addresses and names.
    std::function<bool(std::string_view host)> hostAllowed;
    SetupFormChecks checks;
    // Why the server does not serve where the settings say (shown on the server page), or empty.
    std::string startNotice;
};

// The status the pages refresh from, built from a snapshot:
//   {"controller": {"port", "connected", "mode", "memorySize", "fwAll", "voltage", "power",
//                   "temperatures": [{"name", "celsius"}]},
//    "devices": [{"type", "number", "connected", "moving", and by type: "position" (wheel,
//                 focuser, rotator in degrees; -1 while the wheel moves), "filter" (wheel),
//                 "temperature" (focuser), "shutter" (dome), "cover" (cover calibrator),
//                 "voltage", "power", "temperatures" (switch)}]}
// Readings are null while the link is closed or a value is not known.
nlohmann::json BuildSetupStatus(const Snapshot& snapshot, const std::vector<SetupDeviceEntry>& devices,
                                const std::function<bool(const SetupDeviceEntry&)>& deviceConnected = {});

// Adds GET /setup, POST /setup (the settings form), GET /setup/v1/status.json and
// GET /setup/v1/{type}/{n}/setup. The context must outlive the server.
void AddSetupRoutes(HttpRoutes& routes, SetupPageContext& context);

// Checks form values; on success fills `out`, else returns false with a message naming the
// field. Ports 1024..65535 or 0 (a free port), the bind address loopback, every interface
// (0.0.0.0 or ::) or an address of this machine, the serial port COM1..COM16, a serial device
// path (see SerialPathProblem), or empty for no change.
bool ParseSetupForm(const std::function<std::optional<std::string>(const char* key)>& field,
                    SetupSettings& out, std::string& error, const SetupFormChecks& checks = {});

// What the page says after a successful save.
inline constexpr const char* kSavedMessage =
    "Saved. The port and address settings are applied at the next start of the server; the serial port at "
    "the next connection to the controller.";

// The compensation thermometer form field: -1 (none) or a thermometer index 0..3; none when
// the text is anything else.
std::optional<int> ParseCompensationThermometer(const std::optional<std::string>& text);

// Text made safe for HTML element content and attribute values.
std::string HtmlEscape(std::string_view text);

}  // namespace velq3::alpaca
