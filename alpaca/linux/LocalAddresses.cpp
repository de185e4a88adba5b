// Interface addresses through getifaddrs, devices through stat.
#include "alpaca/LocalAddresses.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <netinet/in.h>
#include <sys/stat.h>

namespace velq3::alpaca {

std::vector<std::string> LocalAddresses() {
    std::vector<std::string> out;
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0) return out;
    for (const ifaddrs* i = list; i != nullptr; i = i->ifa_next) {
        if (i->ifa_addr == nullptr) continue;
        char text[INET6_ADDRSTRLEN] = {};
        if (i->ifa_addr->sa_family == AF_INET) {
            ::inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(i->ifa_addr)->sin_addr, text, sizeof text);
        } else if (i->ifa_addr->sa_family == AF_INET6) {
            ::inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6*>(i->ifa_addr)->sin6_addr, text, sizeof text);
        } else {
            continue;
        }
        out.emplace_back(text);
    }
    ::freeifaddrs(list);
    return out;
}

bool IsCharacterDevice(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISCHR(info.st_mode);
}

}  // namespace velq3::alpaca
