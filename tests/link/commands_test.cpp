// Request bytes, reply decoding and state effects of the controller commands, checked
// byte for byte against a scripted peer.
#include <cmath>
#include <future>
#include <sys/ioctl.h>

#include "link/ReplyDecoding.h"
#include "link/LinkFixture.h"

namespace velq3::test {
namespace {

using CommandTest = ScriptedLinkTest;

TEST_F(CommandTest, SetFocusPositionSendsFocuserByteOnlyInTwoMotorForm) {
    link.Mode = 3;
    peer.Run({{10 + 2, {'!'}}});
    EXPECT_TRUE(link.SetFocusPosition(1000, 0));
    EXPECT_EQ(Sent(), Cat(B("FWsetFocus"), {0xE8, 0x03}));
    EXPECT_EQ(link.FocusPos, 1000);

    ScriptedPeer second;
    SerialClose(link.m_hPort);
    link.m_hPort = OpenSerialPort(second.path(), 9600);
    link.Mode = 0;
    second.Run({{10 + 3, {'?'}}});  // reply content is not examined
    EXPECT_TRUE(link.SetFocusPosition(1000, 1));
    second.Join();
    EXPECT_EQ(second.Received(), Cat(B("FWsetFocus"), {0x01, 0xE8, 0x03}));
    EXPECT_EQ(link.Focus2Pos, 1000);
    EXPECT_EQ(link.FocusPos, 1000);
}

TEST_F(CommandTest, SetFocusPositionStoresSignExtendedLow16Bits) {
    link.Mode = 1;
    peer.Run({{12, {'!'}}});
    EXPECT_TRUE(link.SetFocusPosition(40000, 0));
    EXPECT_EQ(Sent(), Cat(B("FWsetFocus"), Le16(40000)));
    EXPECT_EQ(link.FocusPos, 40000 - 65536);
}

TEST_F(CommandTest, WriteFilterNameSendsEightBytesPaddedWithZeros) {
    filters.Filters.resize(3);
    peer.Run({{11 + 1 + 8, {'!'}}, {11 + 1 + 8, {'!'}}});
    EXPECT_TRUE(link.WriteFilterName(2, "Luminance123"));
    EXPECT_TRUE(link.WriteFilterName(0, "Red"));
    EXPECT_EQ(Sent(), Cat(Cat(B("FWWRITENAME2Luminanc"), B("FWWRITENAME0Red")), Bytes(5, 0)));
    EXPECT_EQ(filters.Filters[2].Name, "Luminanc");
    EXPECT_EQ(filters.Filters[0].Name, "Red");
}

TEST_F(CommandTest, WriteFilterNameKeepsLocalNameOnFailureAndChecksIndex) {
    filters.Filters.resize(2);
    peer.Run({{20, {'x'}}});
    EXPECT_FALSE(link.WriteFilterName(1, "Ha"));
    EXPECT_EQ(filters.Filters[1].Name, "Ha");
    EXPECT_FALSE(link.WriteFilterName(2, "OIII"));
    EXPECT_FALSE(link.WriteFilterName(-1, "OIII"));
    EXPECT_EQ(peer.Drain(150), Cat(B("FWWRITENAME1Ha"), Bytes(6, 0)));
}

TEST_F(CommandTest, MemorySizeOutOfRangeBecomesLargestImage) {
    peer.Run({{8, Le16(300)}, {8, Le16(-5)}, {8, Le16(174)}, {8, {7}}});
    int size = 0;
    EXPECT_TRUE(link.GetMemorySize(size));
    EXPECT_EQ(size, 202);
    EXPECT_TRUE(link.GetMemorySize(size));
    EXPECT_EQ(size, 202);
    EXPECT_TRUE(link.GetMemorySize(size));
    EXPECT_EQ(size, 174);
    EXPECT_FALSE(link.GetMemorySize(size));  // one byte only
    EXPECT_EQ(Sent(), Cat(Cat(B("FWeesize"), B("FWeesize")), Cat(B("FWeesize"), B("FWeesize"))));
}

TEST_F(CommandTest, GetFilterDecodesPositionCharacters) {
    peer.Run({{8, {'/'}}, {8, {':'}}, {8, {'A'}}});
    int pos = 99;
    EXPECT_TRUE(link.GetFilter(pos));
    EXPECT_EQ(pos, -1);
    EXPECT_TRUE(link.GetFilter(pos));
    EXPECT_EQ(pos, 10);
    EXPECT_EQ(filters.CurrentFilter, 10);
    EXPECT_EQ(link.FilterPos, 10);
    EXPECT_FALSE(link.GetFilter(pos));
    EXPECT_EQ(filters.CurrentFilter, -1);
    EXPECT_EQ(link.FilterPos, -1);
}

TEST_F(CommandTest, TemperatureDecodingAndIndexCheck) {
    float t = 0;
    EXPECT_FALSE(link.GetTemperature(4, t));
    EXPECT_FALSE(link.GetTemperature(-1, t));
    peer.Run({{14, Le16(-1234)}, {14, Le16(-32768)}});
    EXPECT_TRUE(link.GetTemperature(0, t));
    EXPECT_FLOAT_EQ(t, -12.34f);
    EXPECT_FLOAT_EQ(link.Temp[0], -12.34f);
    EXPECT_FALSE(link.GetTemperature(3, t));
    EXPECT_EQ(link.Temp[3], kNoTemperature);
    EXPECT_EQ(Sent(), Cat(B("FWtemperature0"), B("FWtemperature3")));
}

TEST_F(CommandTest, FocusDirectionOutcomes) {
    peer.Run({{10, {'-'}}, {10, {'x'}}, {10, {}}});
    int dir = 0;
    link.FocusDir = 5;
    EXPECT_TRUE(link.GetFocusDirection(dir, 0));
    EXPECT_EQ(dir, -1);
    EXPECT_EQ(link.FocusDir, 5);  // unchanged on success
    dir = 7;
    EXPECT_FALSE(link.GetFocusDirection(dir, 0));
    EXPECT_EQ(link.FocusDir, 7);  // takes the caller's value
    EXPECT_FALSE(link.GetFocusDirection(dir, 0));
    EXPECT_EQ(link.FocusDir, 0);  // no answer
}

TEST_F(CommandTest, AutoCompensationCommands) {
    peer.Run({{14, {'!'}}, {8, {'/'}}, {8, {'2'}}});
    EXPECT_TRUE(link.SetAutoComp(-1));
    int th = 0;
    EXPECT_TRUE(link.GetAutoComp(th));
    EXPECT_EQ(th, -1);
    EXPECT_EQ(link.AscomPreferredTermometer, -1);
    EXPECT_TRUE(link.GetAutoComp(th));
    EXPECT_EQ(link.AutoComp, 2);
    EXPECT_EQ(link.AscomPreferredTermometer, 2);
    EXPECT_EQ(Sent(), Cat(Cat(B("FWautoCompSet/"), B("FWisAuto")), B("FWisAuto")));
}

TEST_F(CommandTest, AutoCompensationReplyBeyondTheSensorsIsTheLastSensor) {
    // As in the status block: the preferred sensor must stay one that a settings file keeps.
    peer.Run({{8, {'z'}}, {8, {'9'}}});
    int th = 0;
    EXPECT_TRUE(link.GetAutoComp(th));
    EXPECT_EQ(th, 3);
    EXPECT_EQ(link.AutoComp, 3);
    EXPECT_EQ(link.AscomPreferredTermometer, 3);
    EXPECT_TRUE(link.GetAutoComp(th));
    EXPECT_EQ(th, 3);
    EXPECT_EQ(DecodeCompensationSensor('/'), -1);
    EXPECT_EQ(DecodeCompensationSensor('0'), 0);
    EXPECT_EQ(DecodeCompensationSensor(0), -48);  // off
}

TEST_F(CommandTest, MicrostepQueryKeepsPresetsOnShortReply) {
    link.MicrostepIncrement = 4;
    peer.Run({{9, {8, 64}}, {9, {8}}});
    int inc = 0, res = 0;
    EXPECT_TRUE(link.GetMicrostep(inc, res));
    EXPECT_EQ(inc, 8);
    EXPECT_EQ(res, 64);
    EXPECT_FALSE(link.GetMicrostep(inc, res));
    EXPECT_EQ(inc, 4);
    EXPECT_EQ(res, 2);
    EXPECT_EQ(Sent(), Cat(Cat(B("FWubStep"), {0}), Cat(B("FWubStep"), {0})));
}

TEST_F(CommandTest, VoltageAndOutputLevel) {
    peer.Run({{6, Cat(Le16(1210), {128})}});
    float v = 0, pct = 0;
    EXPECT_TRUE(link.GetVolt(v, pct));
    EXPECT_FLOAT_EQ(v, 12.10f);
    EXPECT_FLOAT_EQ(pct, 50.0f);
    EXPECT_FLOAT_EQ(link.Vin, 12.10f);
    EXPECT_FLOAT_EQ(link.Out, 50.0f);
}

TEST_F(CommandTest, FocusQueryUsesFocuserFieldOfTheForm) {
    link.Mode = -1;
    peer.Run({{8, Le16(-200)}, {8, Le16(300)}});
    int pos = 0;
    EXPECT_TRUE(link.GetFocus(pos, 2));
    EXPECT_EQ(pos, -200);
    EXPECT_EQ(link.Focus2Pos, -200);
    EXPECT_TRUE(link.GetFocus(pos, 0));
    EXPECT_EQ(link.FocusPos, 300);
    EXPECT_EQ(Sent(), Cat(Cat(B("FWfocus"), {1}), Cat(B("FWfocus"), {0})));
}

Bytes StatusBlock(int len) {
    Bytes b = {'3', '-'};
    b = Cat(b, Le16(-1500));             // focuser 0
    b = Cat(b, Le16(2150));              // sensor 0
    b = Cat(b, Le16(-32768));            // sensor 1 absent
    b = Cat(b, Le16(-325));              // sensor 2
    b = Cat(b, Le16(0));                 // sensor 3
    b.push_back('1');                    // compensation by sensor 1
    b = Cat(b, Le16(1210));              // 12.10 V
    b.push_back(64);                     // 25 %
    b = Cat(b, Bytes{'+'});
    b = Cat(b, Le16(777));
    b.push_back(0x1A);
    b.resize(static_cast<size_t>(len));
    return Cat({static_cast<std::uint8_t>(len)}, b);
}

// A status tells the first motor's position in every block and the second's from 19 bytes on:
// only then is a position lost by a failed move known again.
TEST_F(CommandTest, AStatusEndsALostPositionOnlyWhenItCarriesIt) {
    struct Case {
        int len;
        bool focus2Lost;
        std::int32_t focus2;
    };
    for (const Case& c : {Case{16, true, kPositionNotRead}, Case{18, true, kPositionNotRead}, Case{19, false, 777},
                          Case{20, false, 777}}) {
        SCOPED_TRACE(c.len);
        link.m_bFocusPosLost = link.m_bFocus2PosLost = true;
        peer.Run({{5, StatusBlock(c.len)}});
        FWCurrentParameters s = EmptyStatus();
        ASSERT_TRUE(link.GetAll(s));
        peer.Join();
        EXPECT_FALSE(link.m_bFocusPosLost);
        EXPECT_EQ(link.FocusPos, -1500);
        EXPECT_EQ(link.m_bFocus2PosLost, c.focus2Lost);
        EXPECT_EQ(link.Focus2Pos, c.focus2);
    }
}

TEST_F(CommandTest, StatusBlockOf16KeepsSecondFocuserFields) {
    filters.CurrentFilter = -1;
    peer.Run({{5, StatusBlock(16)}});
    FWCurrentParameters s = EmptyStatus();
    EXPECT_TRUE(link.GetAll(s));
    EXPECT_EQ(s.FilterPos, 3);
    EXPECT_EQ(s.FocusDir, -1);
    EXPECT_EQ(s.FocusPos, -1500);
    EXPECT_FLOAT_EQ(s.Temp[0], 21.5f);
    EXPECT_EQ(s.Temp[1], kNoTemperature);
    EXPECT_FLOAT_EQ(s.Temp[2], -3.25f);
    EXPECT_EQ(s.AutoComp, 1);
    EXPECT_FLOAT_EQ(s.Vin, 12.1f);
    EXPECT_FLOAT_EQ(s.Out, 25.0f);
    EXPECT_EQ(s.Focus2Pos, kPositionNotRead);
    EXPECT_EQ(s.Focus2Dir, 0);
    EXPECT_EQ(s.Sw, 0);
    EXPECT_EQ(filters.CurrentFilter, 3);
    EXPECT_EQ(link.AscomPreferredTermometer, 1);
    EXPECT_TRUE(link.m_bFocuserPresent && link.m_bWheelPresent);
    EXPECT_EQ(std::memcmp(&link.Status(), &s, kStatusRecordBytes), 0);
}

TEST_F(CommandTest, StatusBlockOf20CarriesSecondFocuserAndSwitches) {
    peer.Run({{5, StatusBlock(20)}});
    FWCurrentParameters s = EmptyStatus();
    EXPECT_TRUE(link.GetAll(s));
    EXPECT_EQ(s.Focus2Dir, 1);
    EXPECT_EQ(s.Focus2Pos, 777);
    EXPECT_EQ(s.Sw, 0x1A);
}

TEST_F(CommandTest, StatusBlockTooShortFailsWithoutReadingIt) {
    Bytes reply = StatusBlock(16);
    reply[0] = 15;
    peer.Run({{5, reply}});
    FWCurrentParameters s = EmptyStatus();
    link.FocusPos = 42;
    EXPECT_FALSE(link.GetAll(s));
    peer.Join();
    int pending = 0;
    ::usleep(20000);
    ASSERT_EQ(::ioctl(link.m_hPort, FIONREAD, &pending), 0);
    EXPECT_EQ(pending, 16);  // the block is still unread on the line
    EXPECT_EQ(link.FocusPos, 42);
    EXPECT_FALSE(link.m_bFocuserPresent);
}

TEST_F(CommandTest, StatusBlockCutShortIsRefused) {
    Bytes reply = StatusBlock(20);
    reply.resize(12);  // length byte says 20, 11 bytes follow
    peer.Run({{5, reply}});
    FWCurrentParameters s = EmptyStatus();
    EXPECT_FALSE(link.GetAll(s));
    EXPECT_EQ(link.FocusPos, kPositionNotRead);
    EXPECT_FALSE(link.m_bWheelPresent);
}

TEST_F(CommandTest, StatusPositionOutOfRangeAndCompensationClamp) {
    Bytes reply = StatusBlock(16);
    reply[1] = 'A';   // position 17
    reply[13] = '9';  // compensation 9
    peer.Run({{5, reply}});
    FWCurrentParameters s = EmptyStatus();
    EXPECT_TRUE(link.GetAll(s));
    EXPECT_EQ(s.FilterPos, -1);
    EXPECT_EQ(s.AutoComp, 3);
}

TEST_F(CommandTest, StatusBlockOfLineNoiseIsRefused) {
    Bytes reply = StatusBlock(20);
    // The announced length arrives, but no character field holds a protocol character.
    reply[1] = 0xA5;   // wheel position
    reply[2] = 0x07;   // direction
    reply[13] = 0xEE;  // compensating thermometer
    peer.Run({{5, reply}});
    FWCurrentParameters s = EmptyStatus();
    EXPECT_FALSE(link.GetAll(s));
    EXPECT_EQ(link.FocusPos, kPositionNotRead);
    EXPECT_FALSE(link.m_bStatusPresent || link.m_bWheelPresent);
}

TEST_F(CommandTest, MicrostepTableReadAndWrite) {
    EXPECT_FALSE(link.WriteMicrostepTable());  // nothing read yet: nothing sent
    peer.Run({{4, {4, 10, 20, 30, 40}}, {4 + 4, {'!'}}});
    EXPECT_TRUE(link.ReadMicrostepTable());
    EXPECT_EQ(link.m_MicrostepTableLen, 4);
    EXPECT_EQ(link.m_MicrostepTable[3], 40);
    link.m_MicrostepTable[0] = 11;
    EXPECT_TRUE(link.WriteMicrostepTable());
    EXPECT_EQ(Sent(), Cat(B("FWzm"), Cat(B("FWym"), {11, 20, 30, 40})));
}

TEST_F(CommandTest, MicrostepTableLongerThanStorageIsRefused) {
    Bytes reply(1 + 200, 7);
    reply[0] = 200;
    peer.Run({{4, reply}});
    link.m_MicrostepTable[5] = 9;
    EXPECT_FALSE(link.ReadMicrostepTable());
    EXPECT_EQ(link.m_MicrostepTableLen, -1);
    EXPECT_EQ(link.m_MicrostepTable[5], 0);
    EXPECT_FALSE(link.WriteMicrostepTable());
}

TEST_F(CommandTest, MicrostepTableShortDataKeepsAnnouncedLength) {
    peer.Run({{4, {6, 1, 2}}});
    EXPECT_FALSE(link.ReadMicrostepTable());
    EXPECT_EQ(link.m_MicrostepTableLen, 6);
}

TEST_F(CommandTest, ReadMemoryNeedsExactLength) {
    peer.Run({{10, {1, 2, 3}}, {10, {1, 2}}, {10, {}}});
    std::uint8_t out[3] = {};
    EXPECT_TRUE(link.ReadMemory(22, 3, out));
    EXPECT_EQ(out[2], 3);
    EXPECT_FALSE(link.ReadMemory(22, 3, out));
    EXPECT_TRUE(link.ReadMemory(0, 0, out));  // a zero-length read succeeds
    EXPECT_EQ(Sent(), Cat(Cat(Cat(B("FWreadEE"), {22, 3}), Cat(B("FWreadEE"), {22, 3})), Cat(B("FWreadEE"), {0, 0})));
}

TEST_F(CommandTest, CommandsWithoutPortFailAndSendNothing) {
    SerialClose(link.m_hPort);
    link.m_hPort = kNoPort;
    int i = 0;
    float f = 0;
    EXPECT_FALSE(link.GetFilter(i));
    EXPECT_FALSE(link.GetVolt(f, f));
    FWCurrentParameters s = EmptyStatus();
    EXPECT_FALSE(link.GetAll(s));
    EXPECT_FALSE(link.IsBusy());
    EXPECT_TRUE(peer.Drain(100).empty());
}

TEST_F(CommandTest, SecondCommandWhileOneRunsFailsAtOnceAndSendsNothing) {
    peer.Run({{8, {'4'}, 150}});  // within the 200 ms a one-byte read waits
    auto first = std::async(std::launch::async, [&] {
        int pos = 0;
        return link.GetFilter(pos) && pos == 4;
    });
    while (!link.IsBusy()) std::this_thread::yield();
    float v = 0, p = 0;
    int dir = 0;
    EXPECT_FALSE(link.GetVolt(v, p));
    EXPECT_FALSE(link.GetFocusDirection(dir, 0));
    EXPECT_TRUE(first.get());
    EXPECT_EQ(Sent(), B("FWFILTER"));
    EXPECT_FALSE(link.IsBusy());
}

TEST(StatusDecoding, MemorySizeAndPositionCharacters) {
    EXPECT_EQ(DecodeMemorySize(0), 0);
    EXPECT_EQ(DecodeMemorySize(202), 202);
    EXPECT_EQ(DecodeMemorySize(203), 202);
    EXPECT_EQ(DecodePositionChar('0' - 2), std::nullopt);
    EXPECT_EQ(DecodePositionChar('/'), -1);
    EXPECT_EQ(DecodePositionChar(':'), 10);
    EXPECT_EQ(DecodePositionChar(';'), std::nullopt);
}

} // namespace
} // namespace velq3::test
