// The probe sender's rate-limit key and loopback test, shared by the systems' responders.
#include "alpaca/DiscoverySender.h"

namespace velq3::alpaca {

std::string DiscoverySenderKey(const sockaddr_storage& from) {
    if (from.ss_family == AF_INET) {
        const auto& in = reinterpret_cast<const sockaddr_in&>(from);
        return std::string(reinterpret_cast<const char*>(&in.sin_addr), sizeof in.sin_addr);
    }
    if (from.ss_family == AF_INET6) {
        const auto& in6 = reinterpret_cast<const sockaddr_in6&>(from);
        return std::string(reinterpret_cast<const char*>(&in6.sin6_addr), sizeof in6.sin6_addr);
    }
    return {};
}

bool IsLoopbackIpv4(const in_addr& address) { return (ntohl(address.s_addr) >> 24) == 127; }

bool IsLoopbackSender(const sockaddr_storage& from) {
    if (from.ss_family == AF_INET) return IsLoopbackIpv4(reinterpret_cast<const sockaddr_in&>(from).sin_addr);
    if (from.ss_family == AF_INET6) return IN6_IS_ADDR_LOOPBACK(&reinterpret_cast<const sockaddr_in6&>(from).sin6_addr);
    return false;
}

}  // namespace velq3::alpaca
