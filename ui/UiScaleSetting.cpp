// The windows' scale as a setting: the steps, the command line's form, and the per-user value.
#include "ui/UiScaleSetting.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "device/OrnFilterWheel.h"
#include "platform/Registry.h"

namespace velq3::ui {

bool IsUiScaleStep(int percent) { return std::find(kUiScaleSteps.begin(), kUiScaleSteps.end(), percent) != kUiScaleSteps.end(); }

namespace {

int NearestStep(std::int64_t percent) {
    int best = kUiScaleSteps.front();
    for (int step : kUiScaleSteps)
        if (std::llabs(percent - step) <= std::llabs(percent - best)) best = step;
    return best;
}

}  // namespace

std::optional<int> ParseUiScale(std::string_view text) {
    if (!text.empty() && text.back() == '%') text.remove_suffix(1);
    int percent = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), percent);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() || !IsUiScaleStep(percent)) return std::nullopt;
    return percent;
}

std::string UiScaleStepsText() {
    std::string text;
    for (std::size_t i = 0; i < kUiScaleSteps.size(); ++i) {
        if (i > 0) text += i + 1 == kUiScaleSteps.size() ? " or " : ", ";
        text += std::to_string(kUiScaleSteps[i]);
    }
    return text;
}

int UiScaleFromStored(const std::optional<RegValue>& stored) {
    if (!stored || stored->type != RegType::Dword || stored->data.size() != 4) return kDefaultUiScale;
    std::int32_t value = 0;  // a DWORD written as a negative number reads as one
    std::memcpy(&value, stored->data.data(), sizeof value);
    const std::int64_t clamped = std::clamp<std::int64_t>(value, kUiScaleSteps.front(), kUiScaleSteps.back());
    return NearestStep(clamped);
}

int LoadUiScale(const RegistryHive& hive) { return UiScaleFromStored(hive.Query(kSettingsKey, kUiScaleValueName)); }

bool SaveUiScale(RegistryHive& hive, int percent) {
    if (!IsUiScaleStep(percent) || !hive.CreateKey(kSettingsKey)) return false;
    hive.SetDword(kSettingsKey, kUiScaleValueName, static_cast<std::uint32_t>(percent));
    return hive.Save();
}

int NextUiScale(int percent, int direction) {
    const int current = NearestStep(percent);
    const auto at = std::find(kUiScaleSteps.begin(), kUiScaleSteps.end(), current);
    if (direction > 0 && at + 1 != kUiScaleSteps.end()) return *(at + 1);
    if (direction < 0 && at != kUiScaleSteps.begin()) return *(at - 1);
    return current;
}

}  // namespace velq3::ui
