// Tests of how the simulator program runs: byte pacing, serving an existing terminal, idling
// without spinning and ending cleanly.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <string>
#include <thread>

#include "common/SimProcess.h"
#include "PtyClient.h"

namespace velq3::test {
namespace {

TEST(SimRun, RealTimeModePacesBytesAtTheBaudRate) {
  SimProcess sim({"--realtime"});
  PtyClient line(sim.ttyPath());
  const auto start = std::chrono::steady_clock::now();
  const std::string all = line.ask("FWAll", 21);
  ASSERT_EQ(all.size(), 21u);
  EXPECT_EQ(all[0], 20);
  // 21 bytes of 10 bits at 9600 baud cannot arrive sooner than 21.9 ms.
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::microseconds(21000));
}

TEST(SimRun, TerminationRemovesTheLinkAndTheControlSocket) {
  TempDir dir;
  const std::string link = dir.file("tty");
  SimProcess sim({"--link", link});
  {
    // The other side opening and closing the terminal must not disturb the simulator.
    PtyClient line(sim.ttyPath());
  }
  PtyClient line(sim.ttyPath());
  EXPECT_EQ(line.ask("FWFILTER", 1), "0");
  const int status = sim.stop();
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  struct stat st {};
  EXPECT_NE(::lstat(link.c_str(), &st), 0);
  EXPECT_NE(::lstat(sim.dir().file("control.sock").c_str(), &st), 0);
}

// Processor time used by a process so far, in clock ticks (user + system).
long cpuTicks(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string field;
  for (int i = 0; i < 13 && stat >> field; ++i) {
  }
  long user = 0, system = 0;
  stat >> user >> system;
  return user + system;
}

TEST(SimRun, IdleSimulatorDoesNotSpin) {
  SimProcess sim;
  { PtyClient line(sim.ttyPath()); }  // opened and closed by the other side
  const long before = cpuTicks(sim.pid());
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  // A polling loop that spins would burn the whole 300 ms (30 ticks at 100 Hz).
  EXPECT_LT(cpuTicks(sim.pid()) - before, 5) << "ticks used while idle";
}

TEST(SimRun, ServesAnExistingTerminal) {
  // The test plays the far side of a pseudo-terminal whose slave the simulator serves.
  const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  ASSERT_GE(master, 0);
  char name[128];
  ASSERT_EQ(::grantpt(master), 0);
  ASSERT_EQ(::unlockpt(master), 0);
  ASSERT_EQ(::ptsname_r(master, name, sizeof name), 0);
  {
    SimProcess sim({"--tty", name});
    EXPECT_EQ(sim.ttyPath(), name);
    ASSERT_EQ(::write(master, "FWFILTER", 8), 8);
    pollfd p{master, POLLIN, 0};
    ASSERT_EQ(::poll(&p, 1, 2000), 1);
    char c = 0;
    EXPECT_EQ(::read(master, &c, 1), 1);
    EXPECT_EQ(c, '0');
  }
  ::close(master);
}

}  // namespace
}  // namespace velq3::test
