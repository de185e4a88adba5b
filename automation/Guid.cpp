// Formatting of identifiers in their registry form.
#include "automation/Guid.h"

#include <cstdio>

namespace velq3 {

std::string FormatGuid(const Guid& g) {
    char buf[39];
    std::snprintf(buf, sizeof buf, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", static_cast<unsigned>(g.Data1),
                  unsigned{g.Data2}, unsigned{g.Data3}, unsigned{g.Data4[0]}, unsigned{g.Data4[1]}, unsigned{g.Data4[2]},
                  unsigned{g.Data4[3]}, unsigned{g.Data4[4]}, unsigned{g.Data4[5]}, unsigned{g.Data4[6]},
                  unsigned{g.Data4[7]});
    return buf;
}

} // namespace velq3
