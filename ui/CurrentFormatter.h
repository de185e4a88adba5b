// The helper that both settings dialogs use to show a coded motor current (0..255) in amperes,
// milliamperes or, on a device whose memory has no running-current byte, percent.
#pragma once

#include <string>

#include "device/OrnFilterWheel.h"

namespace velq3::ui {

class CurrentFormatter {
public:
    explicit CurrentFormatter(OrnFilterWheel& device) : m_FW(device) {}

    // 255 is the full scale of 1.5 A: above 0.3 A "%.2f A", up to it "%i mA"; "%.1f %%" of full
    // scale when the device's memory ends at or before byte 200.
    std::string FormatCurrent(int value) const;

protected:
    OrnFilterWheel& m_FW;
};

}  // namespace velq3::ui
