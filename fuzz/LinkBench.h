// A controller link on the fake port, with a silent command log, for the reply targets.
#pragma once

#include <cstring>

#include "fuzz/Check.h"
#include "fuzz/FakeSerialPort.h"
#include "link/DeviceLink.h"

namespace velq3::fuzz {

struct LinkBench {
    LinkBench() {
        log.SetSink([](std::string_view) {});
        link.m_hPort = kFakePort;
    }
    CFilterTable filters;
    CTimeLogFile log;
    CDeviceLink link{filters, log};
};

// The rules every status record that the link keeps must meet, whatever the controller sent.
inline void CheckStatus(const FWCurrentParameters& s) {
    FUZZ_CHECK(s.FilterPos >= -1 && s.FilterPos <= 10);
    FUZZ_CHECK(s.FocusDir >= -1 && s.FocusDir <= 1);
    FUZZ_CHECK(s.Focus2Dir >= -1 && s.Focus2Dir <= 1);
    FUZZ_CHECK(s.AutoComp <= 3);
}

// The operator settings the link may change must stay within what a settings file accepts.
inline void CheckSettings(const CDeviceLink& link) {
    FUZZ_CHECK(link.AscomPreferredTermometer >= -1 && link.AscomPreferredTermometer < kSensorCount);
}

inline bool SameStatus(const FWCurrentParameters& a, const FWCurrentParameters& b) {
    return std::memcmp(&a, &b, kStatusRecordBytes) == 0;
}

} // namespace velq3::fuzz
