// Interface addresses through GetAdaptersAddresses.
#include "alpaca/LocalAddresses.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <iphlpapi.h>

namespace velq3::alpaca {

std::vector<std::string> LocalAddresses() {
    std::vector<std::string> out;
    ULONG size = 16 * 1024;
    std::vector<unsigned char> buffer;
    ULONG result = ERROR_BUFFER_OVERFLOW;
    for (int attempt = 0; attempt < 3 && result == ERROR_BUFFER_OVERFLOW; ++attempt) {
        buffer.resize(size);
        result = ::GetAdaptersAddresses(AF_UNSPEC, GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER,
                                        nullptr, reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()), &size);
    }
    if (result != NO_ERROR) return out;
    for (auto* a = reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()); a != nullptr; a = a->Next) {
        for (auto* u = a->FirstUnicastAddress; u != nullptr; u = u->Next) {
            const sockaddr* address = u->Address.lpSockaddr;
            char text[INET6_ADDRSTRLEN] = {};
            if (address->sa_family == AF_INET) {
                ::inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(address)->sin_addr, text, sizeof text);
            } else if (address->sa_family == AF_INET6) {
                ::inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr, text, sizeof text);
            } else {
                continue;
            }
            out.emplace_back(text);
        }
    }
    return out;
}

bool IsCharacterDevice(const std::string&) { return false; }

}  // namespace velq3::alpaca
