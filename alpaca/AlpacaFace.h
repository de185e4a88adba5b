// The Alpaca face of the velq3 program: its settings and command-line options, the devices over
// the device service, the stored UniqueIDs, and the HTTP server's start and stop.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "alpaca/AlpacaServer.h"
#include "alpaca/Discovery.h"
#include "alpaca/SetupPages.h"
#include "platform/MainLoop.h"
#include "platform/Registry.h"
#include "service/DeviceService.h"

namespace velq3::alpaca {

// Per-user settings under the settings key.
inline constexpr const char* kAlpacaEnabledValue = "AlpacaEnabled";
inline constexpr const char* kAlpacaPortValue = "AlpacaPort";
inline constexpr const char* kAlpacaBindValue = "AlpacaBind";
inline constexpr const char* kDiscoveryPortValue = "DiscoveryPort";
// The rotator's sync offset in degrees (text, C locale).
inline constexpr const char* kRotatorSyncOffsetValue = "AlpacaRotatorSyncOffset";

struct AlpacaSettings {
    bool enabled = true;
    std::uint16_t port = 11111;
    std::string bind = "127.0.0.1";
    std::uint16_t discoveryPort = 32227;
};

// Reads the settings from the hive (owner thread); missing or invalid values keep the defaults.
AlpacaSettings ReadAlpacaSettings(const RegistryHive& hive);

// Command-line overrides: --alpaca-port N (0: a free port), --alpaca-bind ADDR, --no-alpaca.
struct AlpacaOptions {
    std::optional<std::uint16_t> port;
    std::optional<std::string> bind;
    bool disabled = false;
    // Not on the command line: the discovery port (0 lets the system pick one, for tests).
    std::optional<std::uint16_t> discoveryPort;
};

// Takes the option at args[i] (and its value, advancing i) when it is one of ours. False when it
// is not; true with `error` set when its value is bad.
bool ParseAlpacaOption(const std::vector<std::string>& args, std::size_t& i, AlpacaOptions& options, std::string& error);

// Lines for the program's usage text.
inline constexpr const char* kAlpacaUsage =
    "  --alpaca-port N    serve the Alpaca API on port N (0: a free port, printed at start)\n"
    "  --alpaca-bind ADDR listen on ADDR (127.0.0.1 by default; 0.0.0.0 serves the network)\n"
    "  --no-alpaca        do not start the Alpaca server\n";

// True for an address that only this machine can reach: 127.0.0.0/8, ::1 or "localhost".
bool IsLoopbackAddress(const std::string& address);

// A new random GUID, "xxxxxxxx-xxxx-4xxx-yxxx-xxxxxxxxxxxx".
std::string NewGuid();

class AlpacaFace {
public:
    // On the owner thread of `service`, whose loop is `ownerLoop`; `hive` is the current user's
    // hive, read here and written only by tasks posted to `ownerLoop`. Missing UniqueIDs are
    // generated and saved.
    AlpacaFace(DeviceService& service, RegistryHive& hive, MainLoop& ownerLoop, AlpacaOptions options);
    ~AlpacaFace();
    AlpacaFace(const AlpacaFace&) = delete;
    AlpacaFace& operator=(const AlpacaFace&) = delete;

    // Starts serving unless disabled, and the discovery responder beside it. Prints
    // "velq3: Alpaca on ADDR:PORT" on standard output, or one line on standard error when the
    // address cannot be bound (then Problem() says why). A discovery port that cannot be opened
    // is said on standard error and does not stop the server.
    bool Start();
    void Stop();

    const AlpacaSettings& Settings() const { return m_Settings; }
    bool Running() const;
    std::uint16_t Port() const;
    // Empty, or why the server did not start.
    const std::string& Problem() const { return m_Problem; }

    // Writes a string setting on the owner thread and saves the hive; callable from any thread.
    void StoreSetting(const std::string& name, const std::string& value);

    AlpacaServer& Server() { return *m_Server; }
    // The discovery responder while it runs, else null.
    const DiscoveryResponder* Discovery() const { return m_Discovery.get(); }

    // Runs `task` on the owner thread and waits up to `timeout` for it; a task that has not
    // started by then never runs. False when it did not run.
    bool RunOnOwner(std::function<void()> task, std::chrono::milliseconds timeout);

private:
    std::string UniqueId(const std::string& device);
    bool StoreSetupSettings(const SetupSettings& settings, std::string& error);
    bool StoreCompensationThermometer(int thermometer, std::string& error);

    DeviceService& m_Service;
    RegistryHive& m_Hive;
    MainLoop& m_Loop;
    AlpacaSettings m_Settings;
    std::vector<std::unique_ptr<AlpacaDevice>> m_Devices;
    std::unique_ptr<AlpacaServer> m_Server;
    std::unique_ptr<SetupPageContext> m_SetupContext;
    std::unique_ptr<DiscoveryResponder> m_Discovery;
    std::string m_Problem;
    bool m_HiveChanged = false;
    std::shared_ptr<bool> m_Alive = std::make_shared<bool>(true);
};

} // namespace velq3::alpaca
