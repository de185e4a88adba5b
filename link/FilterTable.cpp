// Name truncation shared by the image and the name command.
#include "link/FilterTable.h"

namespace velq3 {

std::string TruncateName(const std::string& name, std::size_t maxBytes) {
    std::string s = name.substr(0, name.find('\0'));
    if (s.size() <= maxBytes) return s;
    std::size_t cut = maxBytes;
    // Step back over UTF-8 continuation bytes so that no character is split.
    while (cut > 0 && (static_cast<unsigned char>(s[cut]) & 0xC0) == 0x80) --cut;
    return s.substr(0, cut);
}

} // namespace velq3
