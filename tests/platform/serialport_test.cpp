// Tests of the serial port functions on a pseudo-terminal, as an ordinary user: a port that was
// closed can be opened again, while an open port stays exclusive.
#include "platform/SerialPort.h"

#include <gtest/gtest.h>

#include "common/Unprivileged.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <grp.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace velq3 {
namespace {

using test::RunUnprivileged;

class SerialPortTest : public ::testing::Test {
protected:
    void SetUp() override {
        const test::TestPty pty = test::OpenTestPty();
        master_ = pty.master;
        ASSERT_GE(master_, 0) << std::strerror(errno);
        slave_ = pty.slave;
        // Pseudo-terminal slaves are 0600 here: let the unprivileged child open it.
        ASSERT_EQ(chmod(slave_.c_str(), 0666), 0) << std::strerror(errno);
    }
    void TearDown() override {
        if (master_ >= 0) close(master_);
    }

    int master_ = -1;  // held open throughout, as the far end of a link is
    std::string slave_;
};

// Connect, disconnect, connect again: the exclusive flag set at open must not outlive the close.
TEST_F(SerialPortTest, ClosedPortOpensAgainForAnOrdinaryUser) {
    const std::string path = slave_;
    const int code = RunUnprivileged([&path] {
        if (geteuid() == 0) return 91;  // the test means nothing for root
        PortHandle first = SerialOpen(path, 9600);
        if (first == kNoPort) return 10;
        if (SerialOpen(path, 9600) != kNoPort) return 11;  // open: still exclusive
        SerialClose(first);
        PortHandle again = SerialOpen(path, 9600);
        if (again == kNoPort) return errno == EBUSY ? 12 : 13;
        SerialClose(again);
        PortHandle third = SerialOpen(path, 9600);
        if (third == kNoPort) return 14;
        SerialClose(third);
        return 0;
    });
    EXPECT_EQ(code, 0) << "10: first open failed, 11: a second open succeeded while open, "
                          "12: reopen after close refused with EBUSY, 13: reopen failed otherwise, "
                          "14: third open failed, 90: could not drop privileges";
}

// The data path still works after a close and reopen.
TEST_F(SerialPortTest, ReopenedPortCarriesData) {
    PortHandle port = SerialOpen(slave_, 9600);
    ASSERT_NE(port, kNoPort);
    SerialClose(port);
    port = SerialOpen(slave_, 9600);
    ASSERT_NE(port, kNoPort);
    ASSERT_EQ(write(master_, "OK\r", 3), 3);
    char buf[8] = {};
    EXPECT_EQ(SerialRead(port, buf, 3), 3u);
    EXPECT_EQ(std::string(buf, 3), "OK\r");
    EXPECT_EQ(SerialWrite(port, "PING", 4), 4u);
    char back[8] = {};
    EXPECT_EQ(read(master_, back, sizeof back), 4);
    SerialClose(port);
}

// A pulled adapter: the far end closes. The port tells at once, without reading, and a port
// with pending data or a silent one does not count as hung up.
TEST_F(SerialPortTest, HangUpIsSeenWithoutWaiting) {
    PortHandle port = SerialOpen(slave_, 9600);
    ASSERT_NE(port, kNoPort);
    EXPECT_FALSE(SerialHungUp(port));
    ASSERT_EQ(write(master_, "!", 1), 1);
    EXPECT_FALSE(SerialHungUp(port));
    close(master_);
    master_ = -1;
    EXPECT_TRUE(SerialHungUp(port));
    EXPECT_FALSE(SerialHungUp(kNoPort));
    SerialClose(port);
}

}  // namespace
}  // namespace velq3
