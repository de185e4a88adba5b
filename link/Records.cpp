// The packed form of the operator settings block.
#include "link/Records.h"

namespace velq3 {
namespace {

template <class T>
void PutAt(std::uint8_t* out, std::size_t offset, T value) {
    std::memcpy(out + offset, &value, sizeof value);
}
template <class T>
T GetAt(const std::uint8_t* in, std::size_t offset) {
    T value;
    std::memcpy(&value, in + offset, sizeof value);
    return value;
}

} // namespace

void PackSettings(const FWAdditionalSettings& s, std::uint8_t out[kSettingsBlockBytes]) {
    PutAt(out, 0, s.ComPort);
    PutAt(out, 4, s.StepLenInMicrons);
    PutAt(out, 12, s.AscomPreferredTermometer);
    PutAt(out, 16, s.AscomFocusShift);
    PutAt(out, 20, s.AscomMaxFocusPos);
    PutAt(out, 24, s.ShowWindowOnConnect);
    PutAt(out, 28, s.OnTop);
}

FWAdditionalSettings UnpackSettings(const std::uint8_t in[kSettingsBlockBytes]) {
    FWAdditionalSettings s;
    s.ComPort = GetAt<std::int32_t>(in, 0);
    s.StepLenInMicrons = GetAt<double>(in, 4);
    s.AscomPreferredTermometer = GetAt<std::int32_t>(in, 12);
    s.AscomFocusShift = GetAt<std::int32_t>(in, 16);
    s.AscomMaxFocusPos = GetAt<std::int32_t>(in, 20);
    s.ShowWindowOnConnect = GetAt<std::int32_t>(in, 24);
    s.OnTop = GetAt<std::int32_t>(in, 28);
    return s;
}

} // namespace velq3
