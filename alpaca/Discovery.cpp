// Alpaca discovery: the probe, the reply and the rate limit, the same on every system. The
// responder's sockets are in linux/ and win32/.
#include "alpaca/Discovery.h"

namespace velq3::alpaca {

bool IsDiscoveryProbe(std::string_view datagram) { return datagram == kDiscoveryProbe; }

bool DiscoveryRateLimit::Allow(const std::string& sender, Clock::time_point now) {
    auto found = senders_.find(sender);
    if (found == senders_.end()) {
        if (senders_.size() >= maxSenders_) DropExpired(now);
        if (senders_.size() >= maxSenders_) return false;
        found = senders_.emplace(sender, Window{now, 0}).first;
    }
    Window& window = found->second;
    if (now - window.start >= std::chrono::seconds(1)) window = Window{now, 0};
    if (window.replies >= perSecond_) return false;
    ++window.replies;
    return true;
}

void DiscoveryRateLimit::DropExpired(Clock::time_point now) {
    for (auto i = senders_.begin(); i != senders_.end();) {
        if (now - i->second.start >= std::chrono::seconds(1)) i = senders_.erase(i);
        else ++i;
    }
}

std::string DiscoveryReply(std::uint16_t alpacaPort) {
    return "{\"AlpacaPort\":" + std::to_string(alpacaPort) + "}";
}

DiscoveryResponder::DiscoveryResponder(std::uint16_t discoveryPort, std::uint16_t alpacaPort,
                                       bool loopbackOnly)
    : requestedPort_(discoveryPort), alpacaPort_(alpacaPort), loopbackOnly_(loopbackOnly) {}

DiscoveryResponder::~DiscoveryResponder() { Stop(); }

}  // namespace velq3::alpaca
