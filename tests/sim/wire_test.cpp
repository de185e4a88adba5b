// Tests of the simulator program over its pseudo-terminal: every command answered as the
// controller does, the memory file, motions and the firmware variants.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>

#include "common/SimProcess.h"
#include "PtyClient.h"

namespace velq3::test {
namespace {

std::string fileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::string readEE(PtyClient& line, uint8_t offset, uint8_t length, int timeoutMs = 2000) {
  return line.ask(cmd("FWreadEE", {offset, length}), length, timeoutMs);
}

class SimWire : public ::testing::Test {
 protected:
  SimProcess sim{{"--move-ms", "10"}};
  PtyClient line{sim.ttyPath()};
};

TEST_F(SimWire, MemorySizeAndMemoryReadsMatchTheMemoryFile) {
  const std::string size = line.ask("FWeesize", 2);
  ASSERT_EQ(size.size(), 2u);
  EXPECT_EQ(s16(size, 0), 202);
  const std::string image = readEE(line, 0, 101) + readEE(line, 101, 101);
  EXPECT_EQ(image, fileBytes(sim.dir().file("eeprom.bin")));
  EXPECT_EQ(image.substr(62, 2), std::string("L\0", 2));
  EXPECT_EQ(image[1], 7);
}

TEST_F(SimWire, StatusBlockCarriesTheModelValues) {
  sim.control("set temp 1 2150");
  sim.control("set out 128");
  const std::string all = line.ask("FWAll", 21);
  ASSERT_EQ(all.size(), 21u);
  EXPECT_EQ(all[0], 20);
  const std::string b = all.substr(1);
  EXPECT_EQ(b[0], '0');                   // wheel at slot 0
  EXPECT_EQ(b[1], '+');
  EXPECT_EQ(s16(b, 2), 0);                // focuser position
  EXPECT_GT(s16(b, 4), -2000);            // thermometer 0 present and drifting
  EXPECT_LT(s16(b, 4), 4000);
  EXPECT_EQ(s16(b, 6), 2150);
  EXPECT_EQ(s16(b, 8), -32768);
  EXPECT_EQ(s16(b, 10), -32768);
  EXPECT_EQ(b[12], '/');                  // compensation off
  EXPECT_EQ(s16(b, 13), 1200);            // 12.00 V
  EXPECT_EQ(static_cast<uint8_t>(b[15]), 128);
  EXPECT_EQ(s16(b, 17), 0);
  EXPECT_EQ(b[19], 0);
  // The single-value commands agree.
  EXPECT_EQ(s16(line.ask(cmd("FWtemperature", {'1'}), 2), 0), 2150);
  EXPECT_EQ(s16(line.ask(cmd("FWtemperature", {'3'}), 2), 0), -32768);
  const std::string volt = line.ask("FWVolt", 3);
  ASSERT_EQ(volt.size(), 3u);
  EXPECT_EQ(s16(volt, 0), 1200);
  EXPECT_EQ(static_cast<uint8_t>(volt[2]), 128);
}

TEST_F(SimWire, WheelReportsEverySlotOnTheShorterWay) {
  EXPECT_EQ(line.ask(cmd("FWGOTO", {'3'}), 3), "123");
  EXPECT_EQ(line.ask("FWFILTER", 1), "3");
  EXPECT_EQ(line.ask(cmd("FWGOTO", {'6'}), 3), "456");
  EXPECT_EQ(line.ask(cmd("FWGOTO", {'1'}), 2), "01");  // 6 -> 0 -> 1 round the back of 7 slots
  EXPECT_EQ(line.ask(cmd("FWGOTO", {'7'}), 1), "/");   // no slot 7 on a 7-filter wheel
  EXPECT_EQ(line.ask("FWHOME", 1), "!");
  EXPECT_EQ(line.ask("FWFILTER", 1), "0");
  EXPECT_EQ(line.ask("FWAll", 21).substr(1, 1), "0");
}

TEST_F(SimWire, WheelPositionIsUnknownWhileTurning) {
  sim.control("set move-ms 200");
  line.send(cmd("FWGOTO", {'2'}));
  EXPECT_EQ(line.ask("FWFILTER", 1, 100), "/");
  EXPECT_EQ(line.readUntil('2', 2000), "12");
}

TEST_F(SimWire, FocuserMovesReportArrivalAndKeepPositionAndDirection) {
  EXPECT_EQ(line.ask(cmd("FWgoFocus", {0xE8, 0x03}), 1, 3000), "!");
  EXPECT_EQ(s16(line.ask("FWfocus", 2), 0), 1000);
  EXPECT_EQ(line.ask("FWdirFocus", 1), "+");
  EXPECT_EQ(line.ask(cmd("FWgoFocus", {0x9C, 0xFF}), 1, 3000), "!");  // -100
  EXPECT_EQ(s16(line.ask("FWfocus", 2), 0), -100);
  EXPECT_EQ(line.ask("FWdirFocus", 1), "-");
  EXPECT_EQ(line.ask(cmd("FWsetFocus", {0x10, 0x27}), 1), "!");  // redefine as 10000
  EXPECT_EQ(s16(line.ask("FWAll", 21), 3), 10000);
}

TEST_F(SimWire, MemoryAndNameWritesAreAcknowledged) {
  EXPECT_EQ(line.ask(cmd("FWwriteEE", {20, 2, 0x34, 0x12}), 1), "!");
  EXPECT_EQ(readEE(line, 20, 2), "\x34\x12");
  EXPECT_EQ(line.ask(cmd("FWWRITENAME", {'2', 'G', 'r', 'e', 'e', 'n', 0, 0, 0}), 1), "!");
  EXPECT_EQ(readEE(line, 78, 8), std::string("Green\0\0\0", 8));
  EXPECT_EQ(line.ask(cmd("FWWRITENAME", {':', 'x', 0, 0, 0, 0, 0, 0, 0}), 1), "?");  // index 10
  EXPECT_EQ(line.ask(cmd("FWwriteEE", {200, 3, 1, 2, 3}), 1), "?");  // past the end: refused whole
  EXPECT_EQ(readEE(line, 200, 2), "\x14\x14");
  EXPECT_EQ(fileBytes(sim.dir().file("eeprom.bin")).substr(78, 5), "Green");
}

TEST_F(SimWire, CompensationMicrostepsAndTable) {
  EXPECT_EQ(line.ask(cmd("FWautoCompSet", {'1'}), 1), "!");
  EXPECT_EQ(line.ask("FWisAuto", 1), "1");
  EXPECT_EQ(line.ask(cmd("FWautoCompSet", {'/'}), 1), "!");
  EXPECT_EQ(line.ask("FWisAuto", 1), "/");
  EXPECT_EQ(line.ask(cmd("FWautoCompSet", {'7'}), 1), "?");
  EXPECT_EQ(line.ask(cmd("FWubStep", {0}), 2), std::string("\x04\x20", 2));
  const std::string table = line.ask("FWzm", 34);
  ASSERT_EQ(table.size(), 34u);
  EXPECT_EQ(table[0], 33);
  EXPECT_EQ(static_cast<uint8_t>(table[1]), 0);
  EXPECT_EQ(static_cast<uint8_t>(table[33]), 255);
  std::string mine(33, '\0');
  for (int i = 0; i < 33; ++i) mine[i] = static_cast<char>(i * 7);
  EXPECT_EQ(line.ask("FWym" + mine, 1), "!");
  EXPECT_EQ(line.ask("FWzm", 34).substr(1), mine);
}

TEST_F(SimWire, GarbageBetweenCommandsDoesNotDerailTheParser) {
  line.send(std::string("\x00\xffxyzFWFW", 8));
  line.send("FWeesizeFF");
  line.send(std::string("W\x07", 2));
  line.send("FWFILTER");
  const std::string got = line.read(3);
  EXPECT_EQ(got, std::string("\xca\x00", 2) + "0");
}

TEST(SimMemory, WritesPersistAcrossARestartWithTheSameFile) {
  TempDir dir;
  const std::string file = dir.file("mem.bin");
  {
    SimProcess sim({"--eeprom", file});
    PtyClient line(sim.ttyPath());
    EXPECT_EQ(line.ask(cmd("FWwriteEE", {62, 4, 'L', 'u', 'm', 0}), 1), "!");
    EXPECT_EQ(line.ask(cmd("FWwriteEE", {1, 1, 5}), 1), "!");
  }
  SimProcess sim({"--eeprom", file});
  PtyClient line(sim.ttyPath());
  EXPECT_EQ(readEE(line, 62, 4), std::string("Lum\0", 4));
  EXPECT_EQ(readEE(line, 1, 1), "\x05");
}

TEST(SimVariants, SmallerMemoryAnswersOnlyItsOwnBytes) {
  SimProcess sim({"--memory-size", "144"});
  PtyClient line(sim.ttyPath());
  EXPECT_EQ(s16(line.ask("FWeesize", 2), 0), 144);
  EXPECT_EQ(readEE(line, 140, 10, 200).size(), 4u);
  EXPECT_EQ(line.ask(cmd("FWwriteEE", {143, 2, 1, 1}), 1), "?");
  EXPECT_EQ(line.ask(cmd("FWwriteEE", {142, 2, 1, 1}), 1), "!");
}

TEST(SimVariants, TwoMotorModeTakesTheFocuserNumber) {
  SimProcess sim({"--mode", "0"});
  PtyClient line(sim.ttyPath());
  EXPECT_EQ(line.ask(cmd("FWgoFocus", {1, 0x2C, 0x01}), 1, 3000), "!");  // motor 1 to 300
  EXPECT_EQ(s16(line.ask(cmd("FWfocus", {1}), 2), 0), 300);
  EXPECT_EQ(s16(line.ask(cmd("FWfocus", {0}), 2), 0), 0);
  EXPECT_EQ(line.ask(cmd("FWsetFocus", {0, 0xE8, 0x03}), 1), "!");
  const std::string all = line.ask("FWAll", 21);
  ASSERT_EQ(all.size(), 21u);
  EXPECT_EQ(all[1], '/');  // no wheel in this mode
  EXPECT_EQ(s16(all, 3), 1000);
  EXPECT_EQ(all[17], '+');
  EXPECT_EQ(s16(all, 18), 300);
  EXPECT_EQ(line.ask(cmd("FWGOTO", {'1'}), 1), "/");
}

TEST(SimVariants, OlderFirmwareIgnoresTheNewerCommands) {
  SimProcess sim({"--no-all", "--no-eesize", "--sensors", "0"});
  PtyClient line(sim.ttyPath());
  EXPECT_EQ(line.ask("FWAll", 1, 200), "");
  EXPECT_EQ(line.ask("FWeesize", 1, 200), "");
  EXPECT_EQ(s16(line.ask(cmd("FWtemperature", {'0'}), 2), 0), -32768);
  sim.control("set all-len auto");
  EXPECT_EQ(line.ask("FWAll", 21).size(), 21u);
  sim.control("set all-len 16");
  const std::string all = line.ask("FWAll", 17);
  ASSERT_EQ(all.size(), 17u);
  EXPECT_EQ(all[0], 16);
  EXPECT_EQ(line.drain(50), "");  // nothing beyond the announced length
}

}  // namespace
}  // namespace velq3::test
