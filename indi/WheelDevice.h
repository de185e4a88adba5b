// "VELQ3 Wheel": the filter wheel. FILTER_SLOT (1-based) and FILTER_NAME with the
// controller's names (a rename is written to the controller's memory), and the per-filter
// focus offsets as FILTER_FOCUS_OFFSETS.
#pragma once

#include <string>
#include <vector>

#include "indi/Velq3Device.h"

namespace velq3::indi {

class WheelDevice : public Velq3Device {
public:
    explicit WheelDevice(Velq3Driver& driver);
    ~WheelDevice() override { FreeFilterProperties(); }

    bool initProperties() override;
    bool updateProperties() override;
    bool ISNewNumber(const char* dev, const char* name, double values[], char* names[], int n) override;
    bool ISNewText(const char* dev, const char* name, char* texts[], char* names[], int n) override;

protected:
    void Refresh(const Snapshot& snapshot, const std::optional<std::string>& problem, bool force) override;

private:
    void SelectSlot(double slot);
    void Rename(char* texts[], char* names[], int n);
    // (Re)builds FILTER_NAME and FILTER_FOCUS_OFFSETS for the controller's filters.
    void BuildFilterProperties(const Snapshot& snapshot);
    void FreeFilterProperties();

    INumberVectorProperty m_SlotNP{};
    INumber m_SlotN[1]{};
    ITextVectorProperty m_NamesTP{};
    std::vector<IText> m_NamesT;
    INumberVectorProperty m_OffsetsNP{};
    std::vector<INumber> m_OffsetsN;
    bool m_FilterPropsDefined = false;
    int m_Count = 0;
    bool m_Selecting = false;
    bool m_SlotFailed = false;  // the last move failed: Alert until the next one
    bool m_Renaming = false;
};

} // namespace velq3::indi
