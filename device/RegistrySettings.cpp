// The operator settings under the current user's settings key: written in a fixed order at
// exit, read once at start-up; a missing value keeps its field as it is.
#include <cstring>

#include "device/OrnFilterWheel.h"

namespace velq3 {
namespace {

void SetInt(RegistryHive& hive, const char* name, std::int32_t value) {
    hive.SetDword(kSettingsKey, name, static_cast<std::uint32_t>(value));
}

// The first bytes of whatever is stored, whatever its type.
template <class T>
void QueryRaw(const RegistryHive& hive, const char* name, T& field) {
    auto v = hive.Query(kSettingsKey, name);
    if (!v) return;
    std::uint8_t buf[sizeof(T)] = {};
    std::memcpy(buf, v->data.data(), std::min(v->data.size(), sizeof buf));
    std::memcpy(&field, buf, sizeof field);
}

void QueryString(const RegistryHive& hive, const char* name, std::string& field) {
    auto v = hive.Query(kSettingsKey, name);
    if (!v) return;
    std::string s(v->data.begin(), v->data.end());
    field = s.substr(0, s.find('\0'));
}

} // namespace

void OrnFilterWheel::SaveRegistrySettings() {
    RegistryHive* hive = m_Env.userHive;
    if (!hive || !hive->CreateKey(kSettingsKey)) return;
    SetInt(*hive, "ComPort", ComPort);
    SetInt(*hive, "ChangeFilterTimeoutMs", ChangeFilterTimeoutMs);
    std::uint8_t step[8];
    std::memcpy(step, &StepLenInMicrons, sizeof step);
    hive->SetBinary(kSettingsKey, "StepLenInMicrons", step);
    SetInt(*hive, "AscomPreferredTermometer", AscomPreferredTermometer);
    SetInt(*hive, "AscomFocusShift", AscomFocusShift);
    SetInt(*hive, "AscomMaxFocusPos", AscomMaxFocusPos);
    SetInt(*hive, "MinMotorStep", MinMotorStep);
    SetInt(*hive, "ShowWindowOnConnect", ShowWindowOnConnect);
    SetInt(*hive, "OnTop", OnTop);
    hive->SetString(kSettingsKey, "LogFile", LogFile);
    hive->SetString(kSettingsKey, "TermLogPath", TermLogPath);
    for (int i = 0; i < 4; ++i)
        hive->SetString(kSettingsKey, "TermometerName" + std::to_string(i), TermometerName[static_cast<size_t>(i)]);
    hive->Save();
}

void OrnFilterWheel::LoadRegistrySettings() {
    RegistryHive* hive = m_Env.userHive;
    if (!hive) return;
    QueryRaw(*hive, "ComPort", ComPort);
    QueryRaw(*hive, "ChangeFilterTimeoutMs", ChangeFilterTimeoutMs);
    QueryRaw(*hive, "StepLenInMicrons", StepLenInMicrons);
    QueryRaw(*hive, "AscomPreferredTermometer", AscomPreferredTermometer);
    QueryRaw(*hive, "AscomFocusShift", AscomFocusShift);
    QueryRaw(*hive, "AscomMaxFocusPos", AscomMaxFocusPos);
    QueryRaw(*hive, "MinMotorStep", MinMotorStep);
    QueryRaw(*hive, "ShowWindowOnConnect", ShowWindowOnConnect);
    QueryRaw(*hive, "OnTop", OnTop);
    QueryString(*hive, "LogFile", LogFile);
    QueryString(*hive, "TermLogPath", TermLogPath);
    for (int i = 0; i < 4; ++i)
        QueryString(*hive, ("TermometerName" + std::to_string(i)).c_str(), TermometerName[static_cast<size_t>(i)]);
}

} // namespace velq3
