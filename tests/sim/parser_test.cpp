// Tests of the incremental command parser: framing, payload sizes, resynchronisation.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sim/Protocol.h"

namespace velq3::sim {
namespace {

// A byte string from a literal, embedded zero bytes included.
template <size_t N>
std::string bin(const char (&s)[N]) {
  return std::string(s, N - 1);
}

struct ParserHarness {
  CommandParser::Context context{false, 33};
  std::vector<Command> got;
  CommandParser parser{[this] { return context; }};

  void feed(const std::string& s) {
    parser.feed(reinterpret_cast<const uint8_t*>(s.data()), s.size(), [this](Command&& c) { got.push_back(std::move(c)); });
  }
  void feedByteByByte(const std::string& s) {
    for (char c : s) feed(std::string(1, c));
  }
};

std::string words(const std::vector<Command>& cmds) {
  std::string s;
  for (const auto& c : cmds) s += std::string(wordOf(c.cmd)) + " ";
  return s;
}

TEST(CommandParser, SplitsWordsThatShareAPrefixWithTheirPayloads) {
  const std::string stream = bin("FWfocusFWgoFocus\xE8\x03" "FWsetFocus\x10\x00" "FWdirFocus"
                                 "FWFILTER" "FWautoCompSet/" "FWAll" "FWGOTO3");
  for (bool byteByByte : {false, true}) {
    ParserHarness h;
    byteByByte ? h.feedByteByByte(stream) : h.feed(stream);
    EXPECT_EQ(words(h.got), "FWfocus FWgoFocus FWsetFocus FWdirFocus FWFILTER FWautoCompSet FWAll FWGOTO ");
    ASSERT_EQ(h.got.size(), 8u);
    EXPECT_EQ(h.got[1].payload, (Bytes{0xE8, 0x03}));
    EXPECT_EQ(h.got[2].payload, (Bytes{0x10, 0x00}));
    EXPECT_EQ(h.got[5].payload, (Bytes{'/'}));
    EXPECT_EQ(h.got[7].payload, (Bytes{'3'}));
    EXPECT_FALSE(h.parser.midCommand());
  }
}

TEST(CommandParser, TwoMotorFormTakesTheFocuserByte) {
  ParserHarness h;
  h.context.twoMotors = true;
  h.feed(bin("FWfocus\x01" "FWgoFocus\x01\xE8\x03" "FWsetFocus\x00\x10\x00" "FWdirFocus\x01"));
  ASSERT_EQ(h.got.size(), 4u);
  EXPECT_EQ(h.got[0].payload, (Bytes{1}));
  EXPECT_EQ(h.got[1].payload, (Bytes{1, 0xE8, 0x03}));
  EXPECT_EQ(h.got[2].payload, (Bytes{0, 0x10, 0x00}));
  EXPECT_EQ(h.got[3].payload, (Bytes{1}));
}

TEST(CommandParser, PayloadSizesFollowLengthByteAndTableLength) {
  ParserHarness h;
  h.context.microstepTableLen = 4;
  // The data of a memory write may itself contain a command word: it must stay payload.
  h.feed(bin("FWwriteEE\x10\x05" "FWAll" "FWwriteEE\x00\x00" "FWymFWzm" "FWreadEE\x00\x65"));
  ASSERT_EQ(h.got.size(), 4u) << words(h.got);
  EXPECT_EQ(h.got[0].cmd, Cmd::WriteEE);
  EXPECT_EQ(h.got[0].payload, (Bytes{0x10, 0x05, 'F', 'W', 'A', 'l', 'l'}));
  EXPECT_EQ(h.got[1].payload, (Bytes{0, 0}));
  EXPECT_EQ(h.got[2].cmd, Cmd::Ym);
  EXPECT_EQ(h.got[2].payload, (Bytes{'F', 'W', 'z', 'm'}));
  EXPECT_EQ(h.got[3].payload, (Bytes{0x00, 0x65}));
}

TEST(CommandParser, ResynchronisesOnTheNextCommandAfterGarbage) {
  ParserHarness h;
  h.feed(bin("\xff\x00zzFFWFWeesizeFWxFW\x01" "FWAllFWFILTERF"));
  EXPECT_EQ(words(h.got), "FWeesize FWAll FWFILTER ");
  EXPECT_TRUE(h.parser.midCommand());  // the trailing 'F' may begin a word
  EXPECT_GT(h.parser.skipped(), 10u);
}

TEST(CommandParser, ResetDropsAnIncompleteCommand) {
  ParserHarness h;
  h.feed("FWGOTO");
  EXPECT_TRUE(h.parser.midCommand());
  h.parser.reset();
  EXPECT_FALSE(h.parser.midCommand());
  h.feed("FWeesize");
  ASSERT_EQ(h.got.size(), 1u);
  EXPECT_EQ(h.got[0].cmd, Cmd::EeSize);
}

TEST(CommandParser, AsksTheContextOnlyAfterEarlierCommandsWereHandled) {
  // A memory write that changes the mode must decide the form of the very next focuser command.
  CommandParser::Context context{false, 33};
  std::vector<Command> got;
  CommandParser parser([&] { return context; });
  const std::string stream = bin("FWwriteEE\x01\x01\x00" "FWfocus\x01" "FWeesize");
  parser.feed(reinterpret_cast<const uint8_t*>(stream.data()), stream.size(), [&](Command&& c) {
    if (c.cmd == Cmd::WriteEE) context.twoMotors = c.payload[2] == 0;
    got.push_back(std::move(c));
  });
  ASSERT_EQ(got.size(), 3u) << words(got);
  EXPECT_EQ(got[1].payload, (Bytes{1}));
  EXPECT_EQ(got[2].cmd, Cmd::EeSize);
}

}  // namespace
}  // namespace velq3::sim
