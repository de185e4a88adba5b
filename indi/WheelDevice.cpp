#include "indi/WheelDevice.h"

#include <cmath>
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

bool Is(const char* a, const char* b) { return a && b && std::strcmp(a, b) == 0; }
}  // namespace

WheelDevice::WheelDevice(Velq3Driver& driver) : Velq3Device(driver, DeviceKind::FilterWheel, "VELQ3 Wheel") {}

bool WheelDevice::initProperties() {
    Velq3Device::initProperties();
    IUFillNumber(&m_SlotN[0], "FILTER_SLOT_VALUE", "Filter", "%3.0f", 1, 1, 1, 1);
    IUFillNumberVector(&m_SlotNP, m_SlotN, 1, getDeviceName(), kSlot, "Filter Slot", FILTER_TAB, IP_RW, 60, IPS_IDLE);
    setDriverInterface(FILTER_INTERFACE);
    return true;
}

bool WheelDevice::updateProperties() {
    Velq3Device::updateProperties();
    if (isConnected()) {
        BuildFilterProperties(*m_Driver.Latest());
        defineProperty(&m_SlotNP);
        defineProperty(&m_NamesTP);
        defineProperty(&m_OffsetsNP);
        m_FilterPropsDefined = true;
    } else if (m_FilterPropsDefined) {
        deleteProperty(m_SlotNP.name);
        deleteProperty(m_NamesTP.name);
        deleteProperty(m_OffsetsNP.name);
        m_FilterPropsDefined = false;
    }
    return true;
}

void WheelDevice::FreeFilterProperties() {
    for (IText& t : m_NamesT) free(t.text);
    m_NamesT.clear();
    m_OffsetsN.clear();
}

void WheelDevice::BuildFilterProperties(const Snapshot& s) {
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
    IUFillTextVector(&m_NamesTP, m_NamesT.data(), m_Count, getDeviceName(), kNames, "Filter", FILTER_TAB, IP_RW, 0, IPS_IDLE);
    IUFillNumberVector(&m_OffsetsNP, m_OffsetsN.data(), m_Count, getDeviceName(), kOffsets, "Focus Offsets", FILTER_TAB,
                       IP_RO, 0, IPS_IDLE);
    m_SlotN[0].min = 1;
    m_SlotN[0].max = std::max(m_Count, 1);
    if (s.currentFilter >= 0) m_SlotN[0].value = s.currentFilter + 1;
}

bool WheelDevice::ISNewNumber(const char* dev, const char* name, double values[], char* names[], int n) {
    if (Is(dev, getDeviceName()) && Is(name, kSlot) && n >= 1) {
        SelectSlot(values[0]);
        return true;
    }
    return Velq3Device::ISNewNumber(dev, name, values, names, n);
}

bool WheelDevice::ISNewText(const char* dev, const char* name, char* texts[], char* names[], int n) {
    if (Is(dev, getDeviceName()) && Is(name, kNames)) {
        Rename(texts, names, n);
        return true;
    }
    return Velq3Device::ISNewText(dev, name, texts, names, n);
}

void WheelDevice::SelectSlot(double requested) {
    if (!isConnected()) {
        m_SlotNP.s = IPS_ALERT;
        IDSetNumber(&m_SlotNP, "The filter wheel is not connected");
        return;
    }
    if (!std::isfinite(requested) || requested != std::floor(requested) || requested < 1 || requested > m_Count) {
        m_SlotNP.s = IPS_ALERT;
        IDSetNumber(&m_SlotNP, nullptr);
        LOGF_ERROR("Filter slot %g is out of range: the wheel has slots 1 to %d", requested, m_Count);
        return;
    }
    const int slot = static_cast<int>(requested);
    m_Selecting = true;
    m_SlotFailed = false;
    m_SlotNP.s = IPS_BUSY;
    IDSetNumber(&m_SlotNP, "Moving to filter %d...", slot);
    StartMove([slot](DeviceService& s) { return s.SelectFilter(slot - 1); },
              [this, slot](const MoveOutcome& outcome) {
                  m_Selecting = false;
                  const auto snapshot = m_Driver.Latest();
                  if (outcome.ok) {
                      m_SlotN[0].value = slot;
                      m_SlotNP.s = IPS_OK;
                      IDSetNumber(&m_SlotNP, "Filter %d is in place", slot);
                  } else {
                      m_SlotFailed = true;
                      if (snapshot->currentFilter >= 0) m_SlotN[0].value = snapshot->currentFilter + 1;
                      m_SlotNP.s = IPS_ALERT;
                      IDSetNumber(&m_SlotNP, nullptr);
                      LOGF_ERROR("The move to filter %d failed: %s", slot,
                                 outcome.message.empty() ? "the wheel did not report arriving" : outcome.message.c_str());
                  }
              });
}

void WheelDevice::Rename(char* texts[], char* names[], int n) {
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
            m_NamesTP.s = IPS_ALERT;
            IDSetText(&m_NamesTP, nullptr);
            LOGF_ERROR("The filter name \"%s\" is too long: the controller keeps at most %zu bytes", name.c_str(), kNameBytes);
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
    RunCommand(
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

void WheelDevice::Refresh(const Snapshot& s, const std::optional<std::string>& problem, bool force) {
    if (!m_FilterPropsDefined) return;
    if (s.filterCount != m_Count) {
        // The controller was reconfigured (another program changed its mode): define anew.
        deleteProperty(m_NamesTP.name);
        deleteProperty(m_OffsetsNP.name);
        BuildFilterProperties(s);
        defineProperty(&m_NamesTP);
        defineProperty(&m_OffsetsNP);
        force = true;
    }
    if (!m_Selecting) {
        // The wheel's own report: -1 while it turns (a move another program started) or unknown.
        if (problem) Report(m_SlotNP, m_SlotN[0].value, IPS_ALERT, force);
        else if (s.currentFilter >= 0) Report(m_SlotNP, s.currentFilter + 1, m_SlotFailed ? IPS_ALERT : IPS_OK, force);
        else if (s.Moving(MoveKind::Wheel)) Report(m_SlotNP, m_SlotN[0].value, IPS_BUSY, force);
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
    if (static_cast<int>(offsets.size()) == m_OffsetsNP.nnp) Report(m_OffsetsNP, offsets, IPS_OK, force);
}

} // namespace velq3::indi
