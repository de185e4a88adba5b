// Conversion of the device's 8-bit text into the UTF-8 that clients receive.
#include "automation/Bstr.h"

#include "platform/DeviceText.h"

namespace velq3 {

Bstr Bstr::FromDeviceText(std::string_view bytes) { return Bstr(DeviceTextToUtf8(bytes)); }

} // namespace velq3
