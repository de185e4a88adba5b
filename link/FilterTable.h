// The filter list and the filter in the light path, as the device commands read and update
// them. The device object's filter set is built on this.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace velq3 {

struct FilterRecord {
    std::string Name;             // 8-bit text; the memory image holds 8 bytes of it
    std::int32_t Pos = 0;         // wheel position correction of the filter
    std::int32_t FocuserPos = 0;  // focuser position (focus offset) for this filter
};

class CFilterTable {
public:
    std::vector<FilterRecord> Filters;
    std::int32_t CurrentFilter = -1;  // -1: unknown or moving

    int FilterCount() const { return static_cast<int>(Filters.size()); }
};

// The first bytes of a name that fit in `maxBytes`, cut at a UTF-8 character boundary and
// at the first zero byte.
std::string TruncateName(const std::string& name, std::size_t maxBytes);

} // namespace velq3
