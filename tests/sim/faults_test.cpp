// Tests of the faults of the simulator program, selected on the command line or through the
// control socket.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>

#include "common/SimProcess.h"
#include "PtyClient.h"

namespace velq3::test {
namespace {

bool isSignalByte(char c) { return c == '!' || (c >= '/' && c <= ':') || c == '+' || c == '-' || c == 'F'; }

class SimFaults : public ::testing::Test {
 protected:
  SimProcess sim{{"--move-ms", "10"}};
  PtyClient line{sim.ttyPath()};
};

TEST_F(SimFaults, SilentAnswersNothingUntilTheFaultIsCleared) {
  sim.control("fault silent");
  EXPECT_EQ(line.ask("FWeesize", 2, 150), "");
  EXPECT_EQ(line.ask(cmd("FWGOTO", {'2'}), 2, 150), "");
  sim.control("fault none");
  EXPECT_EQ(line.ask("FWFILTER", 1), "0");  // the silent move never happened
}

TEST_F(SimFaults, ShortCutsTheLastByteOfRepliesAndTheEndOfMoves) {
  sim.control("fault short");
  EXPECT_EQ(line.ask("FWeesize", 2, 150).size(), 1u);
  const std::string all = line.ask("FWAll", 21, 150);
  ASSERT_EQ(all.size(), 20u);
  EXPECT_EQ(all[0], 20);  // the length byte still announces the full block
  EXPECT_EQ(line.ask(cmd("FWGOTO", {'2'}), 2, 300), "1");
  EXPECT_EQ(line.ask(cmd("FWgoFocus", {100, 0}), 1, 300), "");
}

TEST_F(SimFaults, GarbageReplacesRepliesWithBytesThatMeanNothing) {
  sim.control("fault garbage");
  const std::string volt = line.ask("FWVolt", 3);
  ASSERT_EQ(volt.size(), 3u);
  for (char c : volt) EXPECT_FALSE(isSignalByte(c));
  const std::string move = line.ask(cmd("FWGOTO", {'3'}), 3);
  ASSERT_EQ(move.size(), 3u);
  EXPECT_EQ(move.find('3'), std::string::npos);
}

TEST_F(SimFaults, ForeignMessageArrivesDuringAWheelMove) {
  sim.control("fault foreign FWGOTO");
  const std::string got = line.ask(cmd("FWGOTO", {'3'}), 16);
  ASSERT_EQ(got.size(), 16u) << got;
  EXPECT_EQ(got[0], '1');
  EXPECT_EQ(got[1], 'F');
  EXPECT_EQ(got.substr(14), "23");
  // Other commands are not affected, and each move carries one message.
  EXPECT_EQ(line.ask("FWFILTER", 1), "3");
  EXPECT_EQ(line.ask(cmd("FWGOTO", {'4'}), 14), "F" + got.substr(2, 12) + "4");
}

TEST_F(SimFaults, FailedMoveReportsSlashAndLeavesThePositionUnknown) {
  sim.control("fault fail");
  EXPECT_EQ(line.ask(cmd("FWGOTO", {'3'}), 1), "/");
  EXPECT_EQ(line.ask("FWFILTER", 1), "/");
  EXPECT_EQ(line.ask("FWHOME", 1), "/");
  sim.control("fault none");
  line.send(cmd("FWGOTO", {'2'}));
  EXPECT_EQ(line.readUntil('2', 1000).back(), '2');
  EXPECT_EQ(line.ask("FWFILTER", 1), "2");
}

TEST_F(SimFaults, SlowRepliesComeLate) {
  sim.control("slow 300");
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(line.ask("FWFILTER", 1, 150), "");
  EXPECT_EQ(line.read(1, 2000), "0");
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(290));
}

TEST_F(SimFaults, FirmwareAnswersCanBeBentAtRunTime) {
  sim.control("set eesize -5");
  EXPECT_EQ(s16(line.ask("FWeesize", 2), 0), -5);
  sim.control("set eesize 300");
  EXPECT_EQ(s16(line.ask("FWeesize", 2), 0), 300);
  sim.control("set memory-size 0");
  sim.control("set eesize auto");
  EXPECT_EQ(s16(line.ask("FWeesize", 2), 0), 0);
  EXPECT_EQ(line.ask(cmd("FWreadEE", {0, 4}), 4, 150), "");
  sim.control("set all-len 15");
  const std::string all = line.ask("FWAll", 16);
  ASSERT_EQ(all.size(), 16u);
  EXPECT_EQ(all[0], 15);
  sim.control("set mode 0");
  EXPECT_EQ(line.ask(cmd("FWfocus", {1}), 2), std::string(2, '\0'));
  EXPECT_EQ(line.ask("FWFILTER", 1), "/");
  EXPECT_EQ(sim.query("set mode banana").rfind("error", 0), 0u);
}

TEST_F(SimFaults, FaultCanBeLimitedToOneCommandWord) {
  sim.control("fault silent FWAll");
  EXPECT_EQ(line.ask("FWAll", 1, 150), "");
  EXPECT_EQ(line.ask("FWFILTER", 1), "0");
}

TEST(SimVanish, LineHangsUpMidReplyAndComesBackOnANewTerminal) {
  TempDir dir;
  const std::string link = dir.file("velq3-tty");
  SimProcess sim({"--link", link, "--replug-ms", "50"});
  char target[256] = {};
  ASSERT_GT(::readlink(link.c_str(), target, sizeof target - 1), 0);
  EXPECT_EQ(target, sim.ttyPath());
  const std::string first = sim.ttyPath();
  {
    PtyClient line(first);
    sim.control("fault vanish FWAll");
    EXPECT_EQ(line.ask("FWAll", 21, 300).size(), 10u);  // half of the 21-byte reply
    EXPECT_TRUE(line.hungUp(1000));
  }
  const std::string second = sim.waitNewTty();
  ASSERT_FALSE(second.empty());
  ASSERT_GT(::readlink(link.c_str(), target, sizeof target), 0);
  EXPECT_EQ(std::string(target, second.size()), second);
  PtyClient line(second);
  EXPECT_EQ(s16(line.ask("FWeesize", 2), 0), 202);  // the fault was used up
  EXPECT_EQ(line.ask("FWAll", 21).size(), 21u);
}

TEST(SimVanish, ReplugTakesTheIdleLineAwayAndBringsANewOneUnderTheLink) {
  TempDir dir;
  const std::string link = dir.file("velq3-tty");
  SimProcess sim({"--link", link, "--replug-ms", "100", "--move-ms", "200"});
  const std::string first = sim.ttyPath();
  {
    PtyClient line(first);
    line.send(cmd("FWGOTO", {'3'}));
    EXPECT_EQ(line.read(1, 1000), "1");  // moving
    const auto pulled = std::chrono::steady_clock::now();
    sim.control("replug");
    EXPECT_TRUE(line.hungUp(1000));
    EXPECT_FALSE(std::filesystem::exists(link));  // no line while the adapter is out
    const std::string second = sim.waitNewTty();
    ASSERT_FALSE(second.empty());
    EXPECT_GE(std::chrono::steady_clock::now() - pulled, std::chrono::milliseconds(90));
    char target[256] = {};
    ASSERT_GT(::readlink(link.c_str(), target, sizeof target - 1), 0);
    EXPECT_EQ(std::string(target), second);
  }
  PtyClient line(sim.ttyPath());
  // The device stopped with the power where it was and answers on the new line.
  const std::string at = line.ask("FWFILTER", 1, 1000);
  ASSERT_EQ(at.size(), 1u);
  EXPECT_TRUE(at[0] >= '0' && at[0] <= '3') << at;
  EXPECT_EQ(line.drain(300), "");  // nothing left over from the pulled line
  // Without a line there is nothing to pull.
  sim.control("replug");
  EXPECT_EQ(sim.query("replug").rfind("error", 0), 0u);
  EXPECT_FALSE(sim.waitNewTty().empty());
}

TEST(SimVanish, MoveVanishesHalfWayAndTheProgramCanExit) {
  SimProcess sim({"--move-ms", "40", "--fault", "vanish", "--fault-cmd", "FWGOTO", "--vanish-exit"});
  PtyClient line(sim.ttyPath());
  EXPECT_EQ(line.ask(cmd("FWGOTO", {'3'}), 3, 1000), "1");
  EXPECT_TRUE(line.hungUp(1000));
  const int status = sim.stop();
  EXPECT_TRUE(WIFEXITED(status)) << status;
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
}  // namespace velq3::test
