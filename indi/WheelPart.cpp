#include "indi/WheelPart.h"

#include <cmath>
#include <memory>
#include <cstdlib>
#include <cstring>

#include "indi/Velq3Driver.h"

namespace velq3::indi {

namespace {
constexpr const char* kSlot = "FILTER_SLOT";
constexpr const char* kNames = "FILTER_NAME";
constexpr const char* kOffsets = "FILTER_FOCUS_OFFSETS";
// The controller keeps names of at most this many bytes.
constexpr std::size_t kNameBytes = 8;
}  // namespace

WheelPart::WheelPart(Velq3Device& device) : DevicePart(device), FilterInterface(std::addressof(device)) {}

void WheelPart::Init() {
    FilterInterface::initProperties(FILTER_TAB);
    FilterSlotN[0].min = FilterSlotN[0].max = 1;
}

void WheelPart::Define(const Snapshot& s) {
    BuildFilterProperties(s);
    m_Device.defineProperty(&FilterSlotNP);
    m_Device.defineProperty(&m_NamesTP);
    m_Device.defineProperty(&m_OffsetsNP);
    m_Defined = true;
}

void WheelPart::Delete() {
    if (!m_Defined) return;
    m_Device.deleteProperty(FilterSlotNP.name);
    m_Device.deleteProperty(m_NamesTP.name);
    m_Device.deleteProperty(m_OffsetsNP.name);
    m_Defined = false;
}

void WheelPart::FreeFilterProperties() {
    for (IText& t : m_NamesT) free(t.text);
    m_NamesT.clear();
    m_OffsetsN.clear();
}

void WheelPart::BuildFilterProperties(const Snapshot& s) {
    FreeFilterProperties();
    m_Count = std::max(s.filterCount, 0);
    m_NamesT.resize(static_cast<std::size_t>(m_Count));
    m_OffsetsN.resize(static_cast<std::size_t>(m_Count));
    for (int i = 0; i < m_Count; ++i) {
        const std::string element = "FILTER_SLOT_NAME_" + std::to_string(i + 1);
        const std::string label = "Filter#" + std::to_string(i + 1);
        const std::string name = i < static_cast<int>(s.filterNames.size()) ? s.filterNames[static_cast<std::size_t>(i)] : "";
        IUFillText(&m_NamesT[static_cast<std::size_t>(i)], element.c_str(), label.c_str(), name.c_str());
        const std::string offset = "OFFSET_" + std::to_string(i + 1);
        const double value = i < static_cast<int>(s.focusOffsets.size()) ? s.focusOffsets[static_cast<std::size_t>(i)] : 0;
        IUFillNumber(&m_OffsetsN[static_cast<std::size_t>(i)], offset.c_str(), name.empty() ? label.c_str() : name.c_str(), "%6.0f",
                     -32768, 32767, 1, value);
    }
    IUFillTextVector(&m_NamesTP, m_NamesT.data(), m_Count, m_Device.getDeviceName(), kNames, "Filter", FILTER_TAB, IP_RW, 0, IPS_IDLE);
    IUFillNumberVector(&m_OffsetsNP, m_OffsetsN.data(), m_Count, m_Device.getDeviceName(), kOffsets, "Focus Offsets", FILTER_TAB,
                       IP_RO, 0, IPS_IDLE);
    FilterSlotN[0].min = 1;
    FilterSlotN[0].max = std::max(m_Count, 1);
    if (s.currentFilter >= 0) FilterSlotN[0].value = s.currentFilter + 1;
}

bool WheelPart::HandleNumber(const char* name, double values[], char*[], int n) {
    if (!Is(name, kSlot) || n < 1) return false;
    // The range is checked with the request; a slot is a whole number.
    if (values[0] != std::floor(values[0])) {
        char text[100];
        std::snprintf(text, sizeof text, "Filter slot %g is not a whole number", values[0]);
        m_Device.Refuse(kSlot, text);
        return true;
    }
    SelectSlot(static_cast<int>(values[0]));
    return true;
}

bool WheelPart::HandleText(const char* name, char* texts[], char* names[], int n) {
    if (!Is(name, kNames)) return false;
    Rename(texts, names, n);
    return true;
}

bool WheelPart::SelectFilter(int position) {
    SelectSlot(position);
    return true;
}

int WheelPart::QueryFilter() {
    const int current = m_Driver.Latest()->currentFilter;
    return current >= 0 ? current + 1 : static_cast<int>(FilterSlotN[0].value);
}

void WheelPart::SelectSlot(int slot) {
    if (!isConnected()) return m_Device.Refuse(kSlot, "The filter wheel is not connected");
    if (slot < 1 || slot > m_Count)
        return m_Device.Refuse(kSlot, "Filter slot " + std::to_string(slot) + " is out of range: the wheel has slots 1 to " +
                                          std::to_string(m_Count));
    m_Selecting = true;
    FilterSlotNP.s = IPS_BUSY;
    IDSetNumber(&FilterSlotNP, "Moving to filter %d...", slot);
    m_Device.StartMove(MoveKind::Wheel, [slot](DeviceService& s) { return s.SelectFilter(slot - 1); },
              [this, slot](const MoveOutcome& outcome) {
                  m_Selecting = false;
                  const auto snapshot = m_Driver.Latest();
                  if (outcome.ok) {
                      FilterSlotN[0].value = slot;
                      FilterSlotNP.s = IPS_OK;
                      IDSetNumber(&FilterSlotNP, "Filter %d is in place", slot);
                  } else {
                      if (snapshot->currentFilter >= 0) FilterSlotN[0].value = snapshot->currentFilter + 1;
                      m_Device.Refuse(kSlot, "");
                      LOGF_ERROR("The move to filter %d failed: %s", slot,
                                 outcome.message.empty() ? "the wheel did not report arriving" : outcome.message.c_str());
                  }
              });
}

void WheelPart::Rename(char* texts[], char* names[], int n) {
    if (!isConnected()) {
        m_NamesTP.s = IPS_ALERT;
        IDSetText(&m_NamesTP, "The filter wheel is not connected");
        return;
    }
    std::vector<std::pair<int, std::string>> changes;
    for (int i = 0; i < n; ++i) {
        IText* t = IUFindText(&m_NamesTP, names[i]);
        if (!t) continue;
        const int index = static_cast<int>(t - m_NamesTP.tp);
        const std::string name = texts[i] ? texts[i] : "";
        if (name.size() > kNameBytes) {
            m_Device.Refuse(kNames, "The filter name \"" + name + "\" is too long: the controller keeps at most " +
                                        std::to_string(kNameBytes) + " bytes");
            return;
        }
        if (name != (t->text ? t->text : "")) changes.emplace_back(index, name);
    }
    if (changes.empty()) {
        m_NamesTP.s = IPS_OK;
        IDSetText(&m_NamesTP, nullptr);
        return;
    }
    m_Renaming = true;
    m_NamesTP.s = IPS_BUSY;
    IDSetText(&m_NamesTP, nullptr);
    m_Device.RunCommand(
        [changes](DeviceService& s) {
            for (const auto& [index, name] : changes) {
                CommandResult r = s.WriteFilterName(index, name);
                if (!r.Ok()) return r;
            }
            return CommandResult::Success();
        },
        [this](const CommandResult& r) {
            m_Renaming = false;
            const auto snapshot = m_Driver.Latest();
            for (int i = 0; i < m_NamesTP.ntp && i < static_cast<int>(snapshot->filterNames.size()); ++i)
                IUSaveText(&m_NamesTP.tp[i], snapshot->filterNames[static_cast<std::size_t>(i)].c_str());
            m_NamesTP.s = r.Ok() ? IPS_OK : IPS_ALERT;
            IDSetText(&m_NamesTP, nullptr);
            if (!r.Ok()) LOGF_ERROR("The filter names could not be written to the controller: %s", r.message.c_str());
        });
}

void WheelPart::Refresh(const Snapshot& s, const std::optional<std::string>& problem, bool force) {
    if (!m_Defined) return;
    if (s.filterCount != m_Count) {
        // The controller was reconfigured (another program changed its mode): define anew.
        m_Device.deleteProperty(m_NamesTP.name);
        m_Device.deleteProperty(m_OffsetsNP.name);
        BuildFilterProperties(s);
        m_Device.defineProperty(&m_NamesTP);
        m_Device.defineProperty(&m_OffsetsNP);
        force = true;
    }
    if (!m_Selecting) {
        // The wheel's own report: -1 while it turns (a move another program started) or unknown.
        if (problem) m_Device.Report(FilterSlotNP, FilterSlotN[0].value, IPS_ALERT, force);
        else if (s.currentFilter >= 0) m_Device.Report(FilterSlotNP, s.currentFilter + 1, IPS_OK, force);
        else if (s.Moving(MoveKind::Wheel)) m_Device.Report(FilterSlotNP, FilterSlotN[0].value, IPS_BUSY, force);
    }
    if (!m_Renaming) {
        bool changed = force;
        for (int i = 0; i < m_NamesTP.ntp && i < static_cast<int>(s.filterNames.size()); ++i) {
            const std::string& name = s.filterNames[static_cast<std::size_t>(i)];
            if (name != (m_NamesTP.tp[i].text ? m_NamesTP.tp[i].text : "")) {
                IUSaveText(&m_NamesTP.tp[i], name.c_str());
                changed = true;
            }
        }
        if (changed) {
            if (force) m_NamesTP.s = IPS_OK;
            IDSetText(&m_NamesTP, nullptr);
        }
    }
    std::vector<double> offsets;
    for (int i = 0; i < m_OffsetsNP.nnp && i < static_cast<int>(s.focusOffsets.size()); ++i) offsets.push_back(s.focusOffsets[static_cast<std::size_t>(i)]);
    if (static_cast<int>(offsets.size()) == m_OffsetsNP.nnp) m_Device.Report(m_OffsetsNP, offsets, IPS_OK, force);
}

} // namespace velq3::indi
