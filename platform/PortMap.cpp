// Port names and the port table, the same on every system.
#include "platform/PortMap.h"

#include <algorithm>

namespace velq3 {

std::string PortDisplayName(int n) { return "COM" + std::to_string(n); }

namespace {

const char* UseText(const PortInfo& p) {
    switch (p.use) {
    case PortUse::Free: return "no";
    case PortUse::Held: return "yes";
    case PortUse::NoPermission: return "no permission";
    case PortUse::Unknown: return "unknown";
    case PortUse::Absent: break;
    }
    return "-";
}

std::string Pad(std::string text, std::size_t width) {
    if (text.size() < width) text.append(width - text.size(), ' ');
    return text;
}

}  // namespace

std::string FormatPortTable(const std::vector<PortInfo>& ports) {
    std::size_t pathWidth = 4;
    for (const auto& p : ports) pathWidth = std::max(pathWidth, p.path.size());
    std::string out = Pad("PORT", 6) + Pad("PATH", pathWidth + 2) + Pad("PRESENT", 9) +
                      Pad("HELD", 15) + "BY-ID\n";
    for (const auto& p : ports) {
        std::string line = Pad(p.name, 6) + Pad(p.path.empty() ? "-" : p.path, pathWidth + 2) +
                           Pad(p.present ? "yes" : "no", 9) + Pad(UseText(p), 15) +
                           (p.byId.empty() ? "-" : p.byId);
        out += line + "\n";
    }
    return out;
}

}  // namespace velq3
