// The filter wheel part of the controller's device, in the wheel modes: FILTER_SLOT (1-based,
// from libindi's filter interface) and FILTER_NAME with the controller's names (a rename is
// written to the controller's memory), and the per-filter focus offsets as
// FILTER_FOCUS_OFFSETS.
#pragma once

#include <string>
#include <vector>

#include <indifilterinterface.h>

#include "indi/DevicePart.h"

namespace velq3::indi {

class WheelPart : public DevicePart, public INDI::FilterInterface {
public:
    explicit WheelPart(Velq3Device& device);
    ~WheelPart() override { FreeFilterProperties(); }

    bool Fits(std::int8_t mode) const override { return ModeFits(DeviceKind::FilterWheel, mode); }
    void Init() override;
    void Define(const Snapshot& snapshot) override;
    void Delete() override;
    bool HandleNumber(const char* name, double values[], char* names[], int n) override;
    bool HandleText(const char* name, char* texts[], char* names[], int n) override;
    void Refresh(const Snapshot& snapshot, const std::optional<std::string>& problem, bool force) override;

    // libindi's filter interface: the wheel's requests arrive through HandleNumber/HandleText.
    bool SelectFilter(int position) override;
    int QueryFilter() override;
    bool GetFilterNames() override { return true; }
    bool SetFilterNames() override { return true; }

private:
    using DevicePart::getDeviceName;

    void SelectSlot(int slot);
    void Rename(char* texts[], char* names[], int n);
    // (Re)builds FILTER_NAME and FILTER_FOCUS_OFFSETS for the controller's filters.
    void BuildFilterProperties(const Snapshot& snapshot);
    void FreeFilterProperties();

    ITextVectorProperty m_NamesTP{};
    std::vector<IText> m_NamesT;
    INumberVectorProperty m_OffsetsNP{};
    std::vector<INumber> m_OffsetsN;
    bool m_Defined = false;
    int m_Count = 0;
    bool m_Selecting = false;
    bool m_Renaming = false;
};

} // namespace velq3::indi
