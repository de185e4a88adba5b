// The link primitives' time-out rules on a real pseudo-terminal: deadlines, partial replies,
// silent and vanished lines (which must fail without spinning), and exclusive opening.
#include <sys/ioctl.h>
#include "common/CpuTime.h"

#include "link/LinkFixture.h"
#include "platform/Stopwatch.h"

namespace velq3::test {
namespace {

using PrimitiveTest = ScriptedLinkTest;

TEST_F(PrimitiveTest, DeadlineZeroReadsNothing) {
    peer.Run({{0, {1, 2, 3}}});
    peer.Join();
    ::usleep(20000);
    std::uint8_t buf[5];
    EXPECT_EQ(ReadWithDeadline(link.m_hPort, buf, 5, 0), 0u);
    int pending = 0;
    ioctl(link.m_hPort, FIONREAD, &pending);
    EXPECT_EQ(pending, 3);
}

TEST_F(PrimitiveTest, DeadlineReadReturnsPartialReply) {
    peer.Run({{0, {1, 2, 3}, 50}});
    std::uint8_t buf[5] = {};
    EXPECT_EQ(ReadWithDeadline(link.m_hPort, buf, 5, 1000), 3u);
    EXPECT_EQ(buf[2], 3);
}

TEST_F(PrimitiveTest, ReadEndsAtInterByteGapAndKeepsOrder) {
    // Two bytes, then a pause longer than the 100 ms gap: the read returns the first two.
    peer.Run({{0, {'a', 'b'}}, {0, {'c'}, 250}});
    std::uint8_t buf[3] = {};
    EXPECT_EQ(ReadBytes(link.m_hPort, buf, 3), 2u);
    EXPECT_EQ(ReadBytes(link.m_hPort, buf, 3), 1u);
    EXPECT_EQ(buf[0], 'c');
}

TEST_F(PrimitiveTest, TransactWritesCommandThenReadsReply) {
    peer.Run({{5, {'O', 'K'}}});
    std::uint8_t reply[2] = {};
    EXPECT_EQ(Transact(link.m_hPort, "PING!", reply, 2), 2u);
    EXPECT_EQ(Sent(), B("PING!"));
    EXPECT_EQ(reply[1], 'K');
}

TEST_F(PrimitiveTest, SilentLineFailsWithoutSpinning) {
    Stopwatch sw;
    double cpu0 = CpuMs();
    std::uint8_t buf[4];
    EXPECT_EQ(ReadWithDeadline(link.m_hPort, buf, 1, 600), 0u);
    double cpu = CpuMs() - cpu0;
    EXPECT_GE(sw.ElapsedMs(), 600);
    EXPECT_LT(sw.ElapsedMs(), 600 + 200 + 100);  // one read's time-out past the deadline at most
    EXPECT_LT(cpu, 60.0) << "a silent line must not be polled in a busy loop";
    FWCurrentParameters s = EmptyStatus();
    EXPECT_FALSE(link.GetAll(s));
    EXPECT_FALSE(link.IsBusy());
}

TEST_F(PrimitiveTest, VanishedLineFailsWithoutSpinningAndRejectsWrites) {
    peer.Run({{5, {'F'}, 0, false}, {0, {}, 100, true}});  // hang up once the first byte was read
    std::uint8_t reply[16];
    EXPECT_EQ(Transact(link.m_hPort, "FWAll", reply, 1), 1u);  // the length byte, then the line goes
    peer.Join();
    Stopwatch sw;
    double cpu0 = CpuMs();
    EXPECT_EQ(ReadWithDeadline(link.m_hPort, reply, 16, 700), 0u);
    double cpu = CpuMs() - cpu0;
    EXPECT_LT(sw.ElapsedMs(), 700 + 100 + 100 * 16 + 100);
    EXPECT_LT(cpu, 60.0) << "a hung-up line must not be polled in a busy loop";
    EXPECT_FALSE(WriteText(link.m_hPort, "FWFILTER"));
    int pos = 0;
    EXPECT_FALSE(link.GetFilter(pos));
    EXPECT_EQ(filters.CurrentFilter, -1);
}

TEST_F(PrimitiveTest, PortHeldByAnotherOpenIsRefused) {
    EXPECT_EQ(OpenSerialPort(peer.path(), 9600), kNoPort);
    SerialClose(link.m_hPort);
    link.m_hPort = OpenSerialPort(peer.path(), 9600);
    EXPECT_NE(link.m_hPort, kNoPort);  // free again once closed
}

TEST(SerialOpen, MissingDeviceAndNonTerminalFail) {
    std::string err;
    EXPECT_EQ(SerialOpen("/dev/does-not-exist-velq3", 9600, &err), kNoPort);
    EXPECT_NE(err.find("does-not-exist"), std::string::npos);
    EXPECT_EQ(SerialOpen("/dev/null", 9600), kNoPort);
}

} // namespace
} // namespace velq3::test
