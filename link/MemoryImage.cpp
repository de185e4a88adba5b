// Moving the filter list between the memory image and the device object, and writing the
// image back to the controller.
#include "link/DeviceLink.h"

#include <algorithm>
#include <cstring>

namespace velq3 {

bool CDeviceLink::FiltersFromImage() {
    int n = FilterCountFromMode(Mode);
    if (n <= 0) return true;
    m_Filters.Filters.resize(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) {
        FilterRecord& f = m_Filters.Filters[static_cast<size_t>(i)];
        const char* raw = FilterNames[i];
        f.Name.assign(raw, strnlen(raw, kImageNameLen));
        f.Pos = FilterWheelPos[i];
        f.FocuserPos = FilterFocuserPos[i];
    }
    return true;
}

bool CDeviceLink::WriteMemoryImage(bool copyFilters) {
    if (copyFilters) {
        // The image has room for ten entries; any further ones are not stored.
        int n = std::min(m_Filters.FilterCount(), kImageFilterSlots);
        for (int i = 0; i < n; ++i) {
            const FilterRecord& f = m_Filters.Filters[static_cast<size_t>(i)];
            std::string name = TruncateName(f.Name, kImageNameLen);
            std::memset(FilterNames[i], 0, kImageNameLen);
            std::memcpy(FilterNames[i], name.data(), name.size());
            FilterWheelPos[i] = static_cast<std::int16_t>(f.Pos);
            FilterFocuserPos[i] = static_cast<std::int16_t>(f.FocuserPos);
        }
    }
    int size = std::clamp(m_MemorySize, 0, kMaxMemorySize);
    int half = size / 2;
    bool first = WriteMemory(0, half, ImageBytes());
    bool second = WriteMemory(half, size - half, ImageBytes() + half);
    return first && second;
}

} // namespace velq3
