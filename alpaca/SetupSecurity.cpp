// Host, token, bind address and serial path checks of the setup pages.
#include "alpaca/SetupSecurity.h"

#include "alpaca/LocalAddresses.h"
#include "alpaca/Sockets.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <random>
#include <system_error>

namespace velq3::alpaca {

namespace {

std::string Lower(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return out;
}

// The address in its canonical text (so that "::0001" and "::1" compare equal); empty when it
// is no IP address.
std::string CanonicalAddress(const std::string& address) {
    char text[INET6_ADDRSTRLEN] = {};
    in_addr v4{};
    if (::inet_pton(AF_INET, address.c_str(), &v4) == 1) return ::inet_ntop(AF_INET, &v4, text, sizeof text) ? text : "";
    in6_addr v6{};
    if (::inet_pton(AF_INET6, address.c_str(), &v6) == 1)
        return ::inet_ntop(AF_INET6, &v6, text, sizeof text) ? text : "";
    return {};
}

bool IsLoopbackText(const std::string& canonical) {
    in_addr v4{};
    if (::inet_pton(AF_INET, canonical.c_str(), &v4) == 1) return (ntohl(v4.s_addr) >> 24) == 127;
    return canonical == "::1";
}

}  // namespace

std::string NewFormToken() {
    std::random_device random;
    static constexpr char kHex[] = "0123456789abcdef";
    std::string token;
    for (int i = 0; i < 32; ++i) token += kHex[random() & 0xF];
    return token;
}

std::string HostOfHeader(std::string_view host) {
    if (host.empty()) return {};
    if (host.front() == '[') {
        const std::size_t close = host.find(']');
        if (close == std::string_view::npos) return {};
        const std::string_view rest = host.substr(close + 1);
        if (!rest.empty() && rest.front() != ':') return {};
        return Lower(host.substr(1, close - 1));
    }
    const std::size_t colon = host.find(':');
    // A bare IPv6 address has more than one colon and is not a valid Host.
    if (colon != std::string_view::npos && host.find(':', colon + 1) != std::string_view::npos) return {};
    std::string name = Lower(host.substr(0, colon));
    if (!name.empty() && name.back() == '.') name.pop_back();  // "localhost." names the same host
    return name;
}

bool IsOwnAddress(const std::string& address) {
    const std::string wanted = CanonicalAddress(address);
    if (wanted.empty()) return false;
    if (IsLoopbackText(wanted)) return true;  // the whole 127/8 block is this machine's
    for (const std::string& own : LocalAddresses()) {
        if (own == wanted) return true;
    }
    return false;
}

bool HostAllowed(std::string_view hostHeader, const std::string& boundAddress) {
    const std::string host = HostOfHeader(hostHeader);
    if (host.empty()) return false;
    if (host == "localhost") return true;
    const std::string canonical = CanonicalAddress(host);
    if (!canonical.empty()) return canonical == CanonicalAddress(boundAddress) || IsOwnAddress(canonical);
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') return false;
    const std::string own = Lower(name);
    const std::string shortName = own.substr(0, own.find('.'));
    return host == own || host == shortName || host == shortName + ".local";
}

std::string BindAddressProblem(const std::string& address, const std::function<bool(const std::string&)>& ownAddress) {
    const std::string canonical = CanonicalAddress(address);
    if (canonical.empty() || address.find('%') != std::string::npos)
        return "The bind address must be an IP address such as 127.0.0.1, or 0.0.0.0 (or ::) for every interface.";
    if (canonical == "0.0.0.0" || canonical == "::" || IsLoopbackText(canonical)) return {};
    if (ownAddress && ownAddress(canonical)) return {};
    return "The bind address " + address +
           " is not an address of this computer; use 127.0.0.1, 0.0.0.0, :: or one of its own addresses.";
}

SerialPathLookup SerialPathLookup::System() {
    SerialPathLookup lookup;
    lookup.resolve = [](const std::string& path) -> std::optional<std::string> {
        std::error_code error;
        const std::filesystem::path resolved = std::filesystem::canonical(path, error);
        if (error) return std::nullopt;
        return resolved.string();
    };
    lookup.isCharDevice = IsCharacterDevice;
    return lookup;
}

bool IsSerialDeviceName(std::string_view name) {
    for (const std::string_view prefix : {"ttyUSB", "ttyACM", "ttyAMA", "ttyS", "rfcomm"}) {
        if (name.substr(0, prefix.size()) != prefix) continue;
        const std::string_view digits = name.substr(prefix.size());
        if (!digits.empty() && digits.size() <= 4 &&
            std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
            return true;
    }
    return false;
}

std::string SerialPathProblem(const std::string& path, const SerialPathLookup& lookup) {
    const std::string refused = "The serial port must be COM1 to COM" + std::to_string(kLastPortNumber) +
                                " or a serial device such as /dev/ttyUSB0 or a link in " +
                                lookup.byIdDir.string() + "; " + path;
    if (path.empty() || path.size() > 255 || path.find('\0') != std::string::npos) return refused + " is no such path.";
    const std::filesystem::path given(path);
    const bool direct = given.parent_path() == "/dev" && IsSerialDeviceName(given.filename().string());
    const bool stableName = given.parent_path() == lookup.byIdDir && !given.filename().empty() &&
                            given.filename() != "." && given.filename() != "..";
    if (!direct && !stableName) return refused + " is not one.";
    const std::optional<std::string> resolved = lookup.resolve ? lookup.resolve(path) : std::nullopt;
    if (!resolved) return refused + " does not exist.";
    const std::filesystem::path target(*resolved);
    if (target.parent_path() != "/dev" || !IsSerialDeviceName(target.filename().string()) ||
        (direct && *resolved != path))
        return refused + " is not a serial device.";
    if (!lookup.isCharDevice || !lookup.isCharDevice(*resolved)) return refused + " is not a serial device.";
    return {};
}

}  // namespace velq3::alpaca
