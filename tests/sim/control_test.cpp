// Tests of the control language and of the command line that feeds it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sim/Control.h"
#include "sim/Options.h"

namespace velq3::sim {
namespace {

class ControlTest : public ::testing::Test {
 protected:
  Settings settings;
  Memory memory;
  TimePoint now = Clock::now();
  DeviceModel model{now};

  std::string apply(const std::string& line) { return applyControl(line, {settings, memory, model}, now); }
};

TEST_F(ControlTest, FaultsAreSelectedAndLimitedToOneCommandWord) {
  EXPECT_EQ(apply("fault short FWAll"), "ok");
  EXPECT_EQ(settings.fault.forWord("FWAll"), FaultKind::Short);
  EXPECT_EQ(settings.fault.forWord("FWeesize"), FaultKind::None);
  EXPECT_EQ(apply("  fault   garbage  "), "ok");
  EXPECT_EQ(settings.fault.forWord("FWeesize"), FaultKind::Garbage);
  EXPECT_EQ(apply("fault none"), "ok");
  EXPECT_EQ(settings.fault.kind, FaultKind::None);
}

TEST_F(ControlTest, SetChangesTheDeviceAndTheFirmwareVariant) {
  EXPECT_EQ(apply("set mode -2"), "ok");
  EXPECT_EQ(memory.mode(), -2);
  EXPECT_EQ(apply("set temp 1 2150"), "ok");
  EXPECT_EQ(model.temperature(1, now), 2150);
  EXPECT_EQ(apply("set temp 0 none"), "ok");
  EXPECT_EQ(model.temperature(0, now), DeviceModel::kNoSensor);
  EXPECT_EQ(apply("set eesize -5"), "ok");
  EXPECT_EQ(settings.eesize, Settings::Answer::Raw);
  EXPECT_EQ(settings.eesizeRaw, -5);
  EXPECT_EQ(apply("set all-len off"), "ok");
  EXPECT_EQ(settings.all, Settings::Answer::Off);
  EXPECT_EQ(apply("set all-len 15"), "ok");
  EXPECT_EQ(settings.all, Settings::Answer::Raw);
  EXPECT_EQ(settings.allLength, 15);
  EXPECT_EQ(apply("set memory-size 0"), "ok");
  EXPECT_EQ(settings.memorySize, 0);
  EXPECT_EQ(apply("set focus 1 -300"), "ok");
  EXPECT_EQ(model.focuserPosition(1, now), -300);
  EXPECT_EQ(apply("slow 250"), "ok");
  EXPECT_EQ(settings.slowMs, 250);
  EXPECT_EQ(apply("set volt 1185"), "ok");
  EXPECT_EQ(model.volt, 1185);
}

TEST_F(ControlTest, MistakesAreReportedAndChangeNothing) {
  const std::vector<std::string> bad = {
      "", "bogus", "fault", "fault melt", "fault short FWnothing", "fault short FWAll extra", "slow -1",
      "slow 10ms", "set", "set mode", "set mode 300", "set mode 1 2", "set temp 4 100", "set temp 1 warm",
      "set sensors 5", "set eesize 40000", "set all-len 256", "set memory-size 203", "set sw 16",
      "set focus 2 0", "set colour 3",
  };
  for (const auto& line : bad) EXPECT_EQ(apply(line).rfind("error: ", 0), 0u) << '"' << line << '"';
  EXPECT_EQ(settings.fault.kind, FaultKind::None);
  EXPECT_EQ(settings.slowMs, 0);
  EXPECT_EQ(memory.mode(), 7);
  EXPECT_EQ(settings.memorySize, 202);
  EXPECT_EQ(settings.eesize, Settings::Answer::Auto);
  EXPECT_EQ(settings.all, Settings::Answer::Auto);
}

std::optional<Options> parse(std::vector<const char*> args, std::string* error) {
  args.insert(args.begin(), "velq3-sim");
  return parseOptions(static_cast<int>(args.size()), args.data(), error);
}

TEST(SimOptions, OptionsBecomeControlLines) {
  std::string error;
  const auto o = parse({"--mode", "0", "--no-all", "--memory-size", "144", "--fault", "foreign", "--fault-cmd",
                        "FWGOTO", "--slow-ms", "30", "--link", "/tmp/x", "--realtime", "--table-len", "64"},
                       &error);
  ASSERT_TRUE(o) << error;
  EXPECT_EQ(o->controlLines, (std::vector<std::string>{"set mode 0", "set all-len off", "set memory-size 144",
                                                        "slow 30", "fault foreign FWGOTO"}));
  EXPECT_EQ(o->link, "/tmp/x");
  EXPECT_TRUE(o->realtime);
  EXPECT_EQ(o->microstepTableLen, 64u);
}

TEST(SimOptions, MistakesAreRefused) {
  const std::vector<std::vector<const char*>> bad = {
      {"--mode"}, {"--mode", "x"}, {"--sensors", "9"}, {"--fault", "melt"}, {"--fault-cmd", "FWAll"},
      {"--fault", "short", "--fault-cmd", "FWnope"}, {"--table-len", "40"}, {"--frobnicate"},
  };
  for (const auto& args : bad) {
    std::string error;
    EXPECT_FALSE(parse(args, &error)) << args[0];
    EXPECT_FALSE(error.empty());
  }
}

TEST(SimOptions, HelpListsEveryOptionAndTheControlLanguage) {
  const std::string text = usage();
  for (const char* word : {"--tty", "--link", "--eeprom", "--control", "--control-port", "--exit-with-control", "--memory-size", "--mode", "--sensors",
                           "--no-all", "--no-eesize", "--realtime", "--move-ms", "--slow-ms", "--fault",
                           "--fault-cmd", "--vanish-exit", "--verbose", "set all-len", "set eesize"})
    EXPECT_NE(text.find(word), std::string::npos) << word;
}

}  // namespace
}  // namespace velq3::sim
