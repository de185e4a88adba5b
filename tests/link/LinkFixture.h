// A device link opened on a scripted peer's pseudo-terminal.
#pragma once

#include <gtest/gtest.h>

#include "common/ScriptedPeer.h"
#include "link/DeviceLink.h"

namespace velq3::test {

class ScriptedLinkTest : public ::testing::Test {
protected:
    void SetUp() override {
        link.m_hPort = OpenSerialPort(peer.path(), 9600);
        ASSERT_NE(link.m_hPort, kNoPort);
    }
    void TearDown() override {
        peer.Join();
        SerialClose(link.m_hPort);
    }

    // Bytes the peer received, after its script ended.
    Bytes Sent() {
        peer.Join();
        return peer.Received();
    }

    ScriptedPeer peer;
    CFilterTable filters;
    CTimeLogFile log;
    CDeviceLink link{filters, log};
};

inline Bytes Le16(int v) { return {static_cast<std::uint8_t>(v & 0xFF), static_cast<std::uint8_t>((v >> 8) & 0xFF)}; }

} // namespace velq3::test
