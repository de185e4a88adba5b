// Start-up of the Alpaca face: settings, options, devices and UniqueIDs, and the server.
#include "alpaca/AlpacaFace.h"

#include "alpaca/Sockets.h"

#include <charconv>
#include <condition_variable>
#include <mutex>
#include <cstdio>
#include <random>

#include "alpaca/CoverCalibratorDevice.h"
#include "alpaca/DomeDevice.h"
#include "alpaca/FilterWheelDevice.h"
#include "alpaca/FocuserDevice.h"
#include "alpaca/RotatorDevice.h"
#include "alpaca/SwitchDevice.h"
#include "device/OrnFilterWheel.h"

#ifndef VELQ3_VERSION
#define VELQ3_VERSION "unknown"
#endif

namespace velq3::alpaca {

namespace {

std::optional<std::uint16_t> PortNumber(std::string_view text) {
    const auto v = ParseUInt32(text);
    if (!v || *v > 65535) return std::nullopt;
    return static_cast<std::uint16_t>(*v);
}

std::string HostName() {
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0) return {};
    return name;
}

// Where the server goes when the stored address cannot be bound.
constexpr const char* kFallbackBind = "127.0.0.1";

} // namespace

AlpacaSettings ReadAlpacaSettings(const RegistryHive& hive) {
    AlpacaSettings s;
    if (auto v = hive.GetDword(kSettingsKey, kAlpacaEnabledValue)) s.enabled = *v != 0;
    // 0 asks for a free port, as --alpaca-port 0 does.
    if (auto v = hive.GetDword(kSettingsKey, kAlpacaPortValue); v && *v <= 65535)
        s.port = static_cast<std::uint16_t>(*v);
    if (auto v = hive.GetString(kSettingsKey, kAlpacaBindValue); v && !v->empty()) s.bind = *v;
    if (auto v = hive.GetDword(kSettingsKey, kDiscoveryPortValue); v && *v <= 65535)
        s.discoveryPort = static_cast<std::uint16_t>(*v);
    return s;
}

bool ParseAlpacaOption(const std::vector<std::string>& args, std::size_t& i, AlpacaOptions& options, std::string& error) {
    const std::string& a = args[i];
    if (a == "--no-alpaca") {
        options.disabled = true;
        return true;
    }
    if (a != "--alpaca-port" && a != "--alpaca-bind") return false;
    if (i + 1 >= args.size()) {
        error = a + " needs a value";
        return true;
    }
    const std::string& value = args[++i];
    if (a == "--alpaca-port") {
        const auto port = PortNumber(value);
        if (!port) error = "--alpaca-port needs a port number 0..65535, not '" + value + "'";
        else options.port = *port;
    } else if (value.empty()) {
        error = "--alpaca-bind needs an address";
    } else {
        options.bind = value;
    }
    return true;
}

bool IsLoopbackAddress(const std::string& address) {
    if (address == "localhost") return true;
    in_addr v4{};
    if (::inet_pton(AF_INET, address.c_str(), &v4) == 1) return (ntohl(v4.s_addr) >> 24) == 127;
    in6_addr v6{};
    return ::inet_pton(AF_INET6, address.c_str(), &v6) == 1 && IN6_IS_ADDR_LOOPBACK(&v6);
}

std::string NewGuid() {
    std::random_device random;
    std::uint8_t bytes[16];
    for (std::uint8_t& b : bytes) b = static_cast<std::uint8_t>(random() & 0xFF);
    bytes[6] = static_cast<std::uint8_t>((bytes[6] & 0x0F) | 0x40);  // version 4
    bytes[8] = static_cast<std::uint8_t>((bytes[8] & 0x3F) | 0x80);  // variant 1
    char text[37];
    std::snprintf(text, sizeof text, "%02x%02x%02x%02x-%02x%02x-%02x%02x-%02x%02x-%02x%02x%02x%02x%02x%02x", bytes[0],
                  bytes[1], bytes[2], bytes[3], bytes[4], bytes[5], bytes[6], bytes[7], bytes[8], bytes[9], bytes[10],
                  bytes[11], bytes[12], bytes[13], bytes[14], bytes[15]);
    return text;
}

AlpacaFace::AlpacaFace(DeviceService& service, RegistryHive& hive, MainLoop& ownerLoop, AlpacaOptions options)
    : m_Service(service), m_Hive(hive), m_Loop(ownerLoop), m_Settings(ReadAlpacaSettings(hive)) {
    if (options.disabled) m_Settings.enabled = false;
    if (options.port) m_Settings.port = *options.port;
    if (options.bind) m_Settings.bind = *options.bind;
    if (options.discoveryPort) m_Settings.discoveryPort = *options.discoveryPort;

    double syncOffset = 0.0;
    if (auto text = hive.GetString(kSettingsKey, kRotatorSyncOffsetValue)) {
        if (auto v = ParseDouble(*text)) syncOffset = *v;
    }
    std::weak_ptr<bool> alive = m_Alive;
    auto storeOffset = [this, alive](double offset) {
        char text[40];
        const auto [end, ec] = std::to_chars(text, text + sizeof text, offset);
        if (ec != std::errc()) return;
        if (!alive.expired()) StoreSetting(kRotatorSyncOffsetValue, std::string(text, end));
    };

    m_Devices.push_back(std::make_unique<FilterWheelDevice>(service, 0));
    m_Devices.push_back(std::make_unique<FocuserDevice>(service, 0, 0));
    m_Devices.push_back(std::make_unique<FocuserDevice>(service, 1, 1));
    m_Devices.push_back(std::make_unique<RotatorDevice>(service, 0, syncOffset, storeOffset));
    m_Devices.push_back(std::make_unique<DomeDevice>(service, 0));
    m_Devices.push_back(std::make_unique<CoverCalibratorDevice>(service, 0));
    m_Devices.push_back(std::make_unique<SwitchDevice>(service, 0));

    ServerDescription description;
    description.manufacturerVersion = VELQ3_VERSION;
    description.location = HostName();
    m_Server = std::make_unique<AlpacaServer>(description);
    m_SetupContext = std::make_unique<SetupPageContext>(service);
    for (const auto& device : m_Devices) {
        const DeviceIdentity& id = device->Identity();
        m_Server->AddDevice(*device, UniqueId(id.type + "/" + std::to_string(id.number)));
        // The first focuser is the built-in motor, the one with temperature compensation.
        const bool compensation = id.type == "focuser" && id.number == 0;
        m_SetupContext->devices.push_back({id.type, static_cast<int>(id.number), id.name, compensation});
    }
    if (m_HiveChanged) m_Hive.Save();

    // The setup pages: the settings in force, a form that stores new ones for the next start.
    SetupSettings& inForce = m_SetupContext->settings;
    inForce.alpacaPort = m_Settings.port;
    inForce.alpacaBind = m_Settings.bind;
    inForce.discoveryPort = m_Settings.discoveryPort;
    const auto snap = service.Current();
    inForce.serialPort = snap->comPort > 0 ? "COM" + std::to_string(snap->comPort) : std::string();
    m_SetupContext->version = VELQ3_VERSION;
    m_SetupContext->store = [this](const SetupSettings& s, std::string& error) { return StoreSetupSettings(s, error); };
    m_SetupContext->storeCompensationThermometer = [this](int thermometer, std::string& error) {
        return StoreCompensationThermometer(thermometer, error);
    };
    m_SetupContext->deviceConnected = [this](const SetupDeviceEntry& entry) {
        for (const auto& device : m_Devices) {
            const DeviceIdentity& id = device->Identity();
            if (id.type == entry.type && static_cast<int>(id.number) == entry.number) {
                const auto* served = dynamic_cast<const ServiceDevice*>(device.get());
                return served && m_Service.Current()->Holds(served->Client());
            }
        }
        return false;
    };
    m_Server->AddRoutes([this](HttpRoutes& routes) { AddSetupRoutes(routes, *m_SetupContext); });
}

AlpacaFace::~AlpacaFace() {
    Stop();
    m_Alive.reset();
    m_Devices.clear();  // each lets go of the link
}

std::string AlpacaFace::UniqueId(const std::string& device) {
    const std::string name = "AlpacaUniqueID " + device;
    if (auto id = m_Hive.GetString(kSettingsKey, name); id && !id->empty()) return *id;
    std::string id = NewGuid();
    m_Hive.SetString(kSettingsKey, name, id);
    m_HiveChanged = true;
    return id;
}

bool AlpacaFace::Start() {
    if (!m_Settings.enabled || m_Server->Running()) return true;
    std::string error;
    if (!m_Server->Start(m_Settings.bind, m_Settings.port, error)) {
        if (m_Settings.bind == kFallbackBind) {
            m_Problem = "Alpaca server not started: " + error;
            std::fprintf(stderr, "velq3: %s\n", m_Problem.c_str());
            return false;
        }
        // A stored address this machine no longer has (or never had) must not leave the
        // machine without its setup page: serve this computer only, and say why.
        const std::string why = "Alpaca server " + error;
        m_SetupContext->settings.alpacaBind = kFallbackBind;
        m_SetupContext->startNotice = why + "; serving on " + kFallbackBind +
                                      " (this computer only) instead. Change the bind address below.";
        std::string second;
        if (!m_Server->Start(kFallbackBind, m_Settings.port, second)) {
            m_SetupContext->settings.alpacaBind = m_Settings.bind;
            m_SetupContext->startNotice.clear();
            m_Problem = "Alpaca server not started: " + error + "; nor on " + kFallbackBind + ": " + second;
            std::fprintf(stderr, "velq3: %s\n", m_Problem.c_str());
            return false;
        }
        std::fprintf(stderr, "velq3: %s\n", m_SetupContext->startNotice.c_str());
        m_Settings.bind = kFallbackBind;
    }
    m_Problem.clear();
    std::printf("velq3: Alpaca on %s:%u\n", m_Settings.bind.c_str(), static_cast<unsigned>(m_Server->Port()));
    std::fflush(stdout);
    // A server only this machine can reach is announced to this machine only.
    m_Discovery = std::make_unique<DiscoveryResponder>(m_Settings.discoveryPort, m_Server->Port(),
                                                       IsLoopbackAddress(m_Settings.bind));
    if (!m_Discovery->Start(error)) {
        std::fprintf(stderr, "velq3: Alpaca discovery not started on UDP port %u: %s\n",
                     static_cast<unsigned>(m_Settings.discoveryPort), error.c_str());
        m_Discovery.reset();
    }
    return true;
}

void AlpacaFace::Stop() {
    m_Discovery.reset();
    if (m_Server) m_Server->Stop();
}

bool AlpacaFace::RunOnOwner(std::function<void()> task, std::chrono::milliseconds timeout) {
    struct State {
        std::mutex mutex;
        std::condition_variable changed;
        enum { Pending, Started, Done, Abandoned } phase = Pending;
    };
    auto state = std::make_shared<State>();
    m_Loop.PostTask([state, task = std::move(task)] {
        {
            std::lock_guard lock(state->mutex);
            if (state->phase != State::Pending) return;
            state->phase = State::Started;
        }
        task();
        std::lock_guard lock(state->mutex);
        state->phase = State::Done;
        state->changed.notify_all();
    });
    std::unique_lock lock(state->mutex);
    if (!state->changed.wait_for(lock, timeout, [&] { return state->phase != State::Pending; })) {
        state->phase = State::Abandoned;
        return false;
    }
    state->changed.wait(lock, [&] { return state->phase == State::Done; });
    return true;
}

bool AlpacaFace::StoreSetupSettings(const SetupSettings& settings, std::string& error) {
    RegistryHive& hive = m_Hive;
    DeviceService& service = m_Service;
    bool saved = false;
    const bool ran = RunOnOwner([&] {
        hive.SetDword(kSettingsKey, kAlpacaPortValue, static_cast<std::uint32_t>(settings.alpacaPort));
        hive.SetString(kSettingsKey, kAlpacaBindValue, settings.alpacaBind);
        hive.SetDword(kSettingsKey, kDiscoveryPortValue, static_cast<std::uint32_t>(settings.discoveryPort));
        // The serial port is the device object's own setting (it saves it at exit); a device path
        // becomes COM1's path.
        int comPort = 0;
        if (settings.serialPort.rfind("COM", 0) == 0) {
            if (auto n = ParseInt32(settings.serialPort.substr(3))) comPort = *n;
        } else if (!settings.serialPort.empty()) {
            hive.SetString(kSettingsKey, "SerialDevice1", settings.serialPort);
            comPort = 1;
        }
        if (comPort > 0) {
            service.Run([comPort](OrnFilterWheel& fw) {
                fw.ComPort = comPort;
                fw.SaveRegistrySettings();
                return CommandResult::Success();
            });
        }
        saved = hive.Save();
    }, std::chrono::milliseconds(2000));
    if (!ran) {
        error = "The settings could not be stored now (the controller is busy); try again";
        return false;
    }
    if (!saved) {
        error = "The settings file could not be written";
        return false;
    }
    return true;
}

bool AlpacaFace::StoreCompensationThermometer(int thermometer, std::string& error) {
    RegistryHive& hive = m_Hive;
    DeviceService& service = m_Service;
    CommandResult result;
    bool saved = false;
    const bool ran = RunOnOwner([&] {
        result = service.SetPreferredThermometer(thermometer);
        saved = result.Ok() && hive.Save();
    }, std::chrono::milliseconds(2000));
    if (!ran) {
        error = "The choice could not be stored now; try again";
        return false;
    }
    if (!result.Ok()) {
        error = result.message;
        return false;
    }
    if (!saved) {
        error = "The settings file could not be written";
        return false;
    }
    return true;
}

bool AlpacaFace::Running() const { return m_Server->Running(); }

std::uint16_t AlpacaFace::Port() const { return m_Server->Port(); }

void AlpacaFace::StoreSetting(const std::string& name, const std::string& value) {
    RegistryHive* hive = &m_Hive;
    m_Loop.PostTask([hive, name, value] {
        hive->SetString(kSettingsKey, name, value);
        hive->Save();
    });
}

} // namespace velq3::alpaca
