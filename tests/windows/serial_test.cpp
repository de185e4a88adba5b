// The serial port on Windows against the controller simulator: COM1 of the test prefix leads to
// the simulator's pseudo-terminal; COM2..COM16 lead to paths that do not exist.
#include "link/DeviceLink.h"
#include "platform/PortMap.h"
#include "platform/SerialPort.h"
#include "platform/Stopwatch.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace velq3 {
namespace {

const std::string kCom1 = DefaultDevicePath(1);

// Wine (8.0) differs from Windows where noted; its ntdll exports its version.
bool UnderWine() {
    return ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
}

TEST(WindowsPortNamesTest, PortsAreTheirOwnNames) {
    EXPECT_EQ(DefaultDevicePath(1), "\\\\.\\COM1");
    EXPECT_EQ(DefaultDevicePath(12), "\\\\.\\COM12");
    EXPECT_EQ(DefaultDevicePath(17), "");
    // No per-user device overrides on Windows.
    EXPECT_EQ(DevicePathForPort(3, [](int) { return std::optional<std::string>("/dev/ttyUSB0"); }), "\\\\.\\COM3");
    EXPECT_EQ(PortDisplayName(3), "COM3");
}

class WindowsSerialTest : public ::testing::Test {
protected:
    void TearDown() override { SerialClose(port); }
    PortHandle port = kNoPort;
};

TEST_F(WindowsSerialTest, OpensWithTheLineSettingsAndTimeouts) {
    std::string error;
    port = SerialOpen(kCom1, 9600, &error);
    ASSERT_NE(port, kNoPort) << error;
    const HANDLE h = reinterpret_cast<HANDLE>(port);
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    ASSERT_TRUE(::GetCommState(h, &dcb));
    EXPECT_EQ(dcb.BaudRate, 9600u);
    EXPECT_EQ(dcb.ByteSize, 8);
    EXPECT_EQ(dcb.Parity, NOPARITY);
    EXPECT_EQ(dcb.StopBits, ONESTOPBIT);
    EXPECT_FALSE(dcb.fOutxCtsFlow);
    EXPECT_FALSE(dcb.fOutxDsrFlow);
    EXPECT_FALSE(dcb.fOutX);
    EXPECT_FALSE(dcb.fInX);
    if (!UnderWine()) {  // Wine reports DTR and RTS control as enabled on a pseudo-terminal
        EXPECT_EQ(dcb.fDtrControl, static_cast<DWORD>(DTR_CONTROL_DISABLE));
        EXPECT_EQ(dcb.fRtsControl, static_cast<DWORD>(RTS_CONTROL_DISABLE));
    }
    COMMTIMEOUTS t{};
    ASSERT_TRUE(::GetCommTimeouts(h, &t));
    EXPECT_EQ(t.ReadIntervalTimeout, 100u);
    EXPECT_EQ(t.ReadTotalTimeoutMultiplier, 100u);
    EXPECT_EQ(t.ReadTotalTimeoutConstant, 100u);
    EXPECT_EQ(t.WriteTotalTimeoutMultiplier, 100u);
    EXPECT_EQ(t.WriteTotalTimeoutConstant, 100u);
    DWORD mask = 0;
    ASSERT_TRUE(::GetCommMask(h, &mask));
    EXPECT_EQ(mask, static_cast<DWORD>(EV_RXCHAR));
    EXPECT_FALSE(SerialHungUp(port));
}

// Commands and replies through the link layer, as the device object exchanges them.
TEST_F(WindowsSerialTest, CommandsGetTheirReplies) {
    CFilterTable filters;
    CTimeLogFile log;
    CDeviceLink link{filters, log};
    link.m_hPort = port = OpenSerialPort(kCom1, 9600);
    ASSERT_NE(port, kNoPort);
    int size = 0;
    ASSERT_TRUE(link.GetMemorySize(size));
    EXPECT_EQ(size, 202);
    link.m_MemorySize = size;
    ASSERT_TRUE(link.ReadMemory(0, size, link.ImageBytes()));
    ASSERT_TRUE(link.FiltersFromImage());
    EXPECT_EQ(filters.FilterCount(), 7);
    FWCurrentParameters status{};
    ASSERT_TRUE(link.GetAll(status));
    EXPECT_NEAR(status.Vin, 12.0, 0.5);
    link.m_hPort = kNoPort;

    // The simulator logged the command words as the Linux program sends them.
    if (const char* dir = std::getenv("VELQ3_WINE_DIR_FOR_TESTS")) {
        std::ifstream in(std::string(dir) + "\\sim.log");
        std::stringstream text;
        text << in.rdbuf();
        EXPECT_NE(text.str().find("FWeesize"), std::string::npos) << text.str();
    }
}

TEST_F(WindowsSerialTest, ASilentReadEndsAfterItsTimeout) {
    port = SerialOpen(kCom1, 9600);
    ASSERT_NE(port, kNoPort);
    unsigned char byte = 0;
    Stopwatch sw;
    EXPECT_EQ(SerialRead(port, &byte, 1), 0u);  // nothing was asked: the simulator says nothing
    EXPECT_GE(sw.ElapsedMs(), 150.0);  // 100 + 100 x 1 ms
    EXPECT_LT(sw.ElapsedMs(), 5000.0);
}

TEST_F(WindowsSerialTest, APortHeldOpenIsRefusedToASecondOpen) {
    port = SerialOpen(kCom1, 9600);
    ASSERT_NE(port, kNoPort);
    if (UnderWine()) {
        // Wine does not apply the sharing mode to devices: a second open succeeds there.
        GTEST_SKIP() << "Wine 8 opens a COM port twice despite the exclusive open";
    }
    EXPECT_EQ(ProbePortUse(kCom1), PortUse::Held);
    std::string error;
    errno = 0;
    EXPECT_EQ(SerialOpen(kCom1, 9600, &error), kNoPort);
    EXPECT_EQ(errno, EBUSY);
    EXPECT_EQ(error.rfind("port in use: \\\\.\\COM1: ", 0), 0u) << error;
    SerialClose(port);
    port = kNoPort;
    EXPECT_EQ(ProbePortUse(kCom1), PortUse::Free);
}

TEST_F(WindowsSerialTest, PortsWithoutADeviceFailClearly) {
    for (int n : {2, 16}) {
        SCOPED_TRACE(n);
        std::string error;
        errno = 0;
        EXPECT_EQ(SerialOpen(DefaultDevicePath(n), 9600, &error), kNoPort);
        if (UnderWine()) {
            // Wine opens the name of a COM port whose device is missing; its first request fails.
            EXPECT_EQ(errno, ENOTTY);
            EXPECT_EQ(error.rfind("not a serial port: " + DefaultDevicePath(n) + ": ", 0), 0u) << error;
        } else {
            EXPECT_EQ(errno, ENOENT);
            EXPECT_EQ(error.rfind("no such port " + DefaultDevicePath(n) + ": ", 0), 0u) << error;
        }
        EXPECT_EQ(ProbePortUse(DefaultDevicePath(n)), PortUse::Absent);
        EXPECT_FALSE(DescribePort(n, DefaultDevicePath(n), {}, true).present);
    }
    EXPECT_TRUE(DescribePort(1, kCom1, {}, true).present);
    // Without opening it: whether the system knows the port's name.
    const PortInfo known = DescribePort(1, kCom1, {}, false);
    EXPECT_TRUE(known.present);
    EXPECT_EQ(known.use, PortUse::Unknown);
    EXPECT_EQ(known.name, "COM1");
}

}  // namespace
}  // namespace velq3
