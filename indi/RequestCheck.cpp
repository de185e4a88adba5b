#include "indi/RequestCheck.h"

#include <cctype>
#include <cstdlib>
#include <cstring>

namespace velq3::indi {

namespace {
// One decimal number in [begin, end), wholly.
bool Decimal(const char* begin, const char* end) {
    if (begin == end) return false;
    const std::string part(begin, end);
    char* rest = nullptr;
    std::strtod(part.c_str(), &rest);
    return rest != part.c_str() && *rest == '\0';
}
}  // namespace

bool WholeNumber(const char* text) {
    if (!text) return false;
    const char* begin = text;
    const char* end = text + std::strlen(text);
    while (begin < end && std::isspace(static_cast<unsigned char>(*begin))) ++begin;
    while (end > begin && std::isspace(static_cast<unsigned char>(end[-1]))) --end;
    if (begin == end || std::isspace(static_cast<unsigned char>(*begin))) return false;
    // Up to three parts separated by ':'; only the first may carry a sign.
    int parts = 0;
    for (const char* from = begin;; ++parts) {
        const char* colon = static_cast<const char*>(std::memchr(from, ':', static_cast<std::size_t>(end - from)));
        const char* to = colon ? colon : end;
        if (parts > 0 && (*from == '-' || *from == '+')) return false;
        for (const char* c = from; c < to; ++c)
            if (std::isspace(static_cast<unsigned char>(*c))) return false;
        if (!Decimal(from, to)) return false;
        if (!colon) break;
        from = colon + 1;
        if (parts >= 2) return false;
    }
    return true;
}

std::optional<MalformedRequest> CheckRequest(XMLEle* root) {
    if (!root || std::strcmp(tagXMLEle(root), "newNumberVector") != 0) return std::nullopt;
    const char* device = findXMLAttValu(root, "device");
    const char* property = findXMLAttValu(root, "name");
    for (XMLEle* e = nextXMLEle(root, 1); e; e = nextXMLEle(root, 0)) {
        if (std::strcmp(tagXMLEle(e), "oneNumber") != 0) continue;
        const char* text = pcdataXMLEle(e);
        if (WholeNumber(text)) continue;
        return MalformedRequest{device, property,
                                std::string(property) + "." + findXMLAttValu(e, "name") + ": \"" + text +
                                    "\" is not a number; nothing was changed"};
    }
    return std::nullopt;
}

} // namespace velq3::indi
