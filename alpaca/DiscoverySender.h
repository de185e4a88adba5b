// What the discovery responder reads from a probe's sender address, the same on every system.
#pragma once

#include "alpaca/Sockets.h"

#include <string>

namespace velq3::alpaca {

// The sender's address as bytes (its port left out), the rate limit's key; empty for a family
// other than IPv4 and IPv6.
std::string DiscoverySenderKey(const sockaddr_storage& from);

// True for 127.0.0.0/8 (the loopback broadcast included).
bool IsLoopbackIpv4(const in_addr& address);

// True when the sender is a loopback address: 127.0.0.0/8 or ::1.
bool IsLoopbackSender(const sockaddr_storage& from);

}  // namespace velq3::alpaca
