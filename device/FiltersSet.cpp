// The arrays built from the filter list for clients.
#include "device/FiltersSet.h"

namespace velq3 {

std::vector<std::string> CFiltersSet::MakeNamesArray() const {
    std::vector<std::string> names;
    names.reserve(Filters.size());
    for (const FilterRecord& f : Filters) names.push_back(f.Name);
    return names;
}

std::vector<std::int32_t> CFiltersSet::MakeFocusOffsetsArray() const {
    std::vector<std::int32_t> offsets;
    offsets.reserve(Filters.size());
    for (const FilterRecord& f : Filters) offsets.push_back(f.FocuserPos);
    return offsets;
}

} // namespace velq3
