// Tests of how the simulator program runs: byte pacing, serving an existing terminal, idling
// without spinning and ending cleanly.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
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

// True when the process has ended (gone, or a zombie that nobody has reaped yet).
bool processEnded(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string pidField, name, state;
  return !(stat >> pidField >> name >> state) || state == "Z";
}

TEST(SimRun, EndsWithTheProcessThatStartedIt) {
  // A middle process starts the simulator, reports its pid, and is then killed without a chance
  // to stop it.
  int out[2];
  ASSERT_EQ(::pipe(out), 0);
  const pid_t middle = ::fork();
  ASSERT_GE(middle, 0);
  if (middle == 0) {
    const pid_t sim = ::fork();
    if (sim == 0) {
      ::dup2(out[1], STDOUT_FILENO);
      ::execl(VELQ3_SIM_PATH, VELQ3_SIM_PATH, "--exit-with-parent", static_cast<char*>(nullptr));
      ::_exit(127);
    }
    const std::string pidLine = std::to_string(sim) + "\n";
    if (::write(out[1], pidLine.data(), pidLine.size()) < 0) ::_exit(1);
    for (;;) ::pause();
  }
  ::close(out[1]);
  std::string got;
  char buf[256];
  // Wait for two lines: the simulator's pid and the simulator's terminal path.
  while (std::count(got.begin(), got.end(), '\n') < 2) {
    pollfd p{out[0], POLLIN, 0};
    if (::poll(&p, 1, 5000) <= 0) break;
    const ssize_t n = ::read(out[0], buf, sizeof buf);
    if (n <= 0) break;
    got.append(buf, static_cast<size_t>(n));
  }
  ::close(out[0]);
  ::kill(middle, SIGKILL);
  ::waitpid(middle, nullptr, 0);
  ASSERT_EQ(std::count(got.begin(), got.end(), '\n'), 2) << got;
  const pid_t sim = static_cast<pid_t>(std::stol(got.find("/dev") == 0 ? got.substr(got.find('\n') + 1) : got));
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
  while (!processEnded(sim) && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_TRUE(processEnded(sim));
  if (!processEnded(sim)) ::kill(sim, SIGKILL);
}

// For starters that cannot be its parent (programs under Wine): control lines on a loopback TCP
// port named in a file, and the end of the simulator with its first control connection, which
// takes the port file and the link along.
TEST(SimRun, ControlPortServesLinesAndItsFirstClientEndsTheSimulator) {
  TempDir dir;
  const std::string portFile = dir.file("control.port"), link = dir.file("tty");
  const pid_t sim = ::fork();
  ASSERT_GE(sim, 0);
  if (sim == 0) {
    const int devNull = ::open("/dev/null", O_WRONLY);
    ::dup2(devNull, STDOUT_FILENO);
    ::execl(VELQ3_SIM_PATH, VELQ3_SIM_PATH, "--control-port", portFile.c_str(), "--exit-with-control", "--link",
            link.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  int port = 0;
  for (int i = 0; i < 250 && !(std::ifstream(portFile) >> port); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  ASSERT_GT(port, 0);
  const auto connectTo = [port] {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    return fd;
  };
  const auto ask = [](int fd, const std::string& line) {
    const std::string text = line + "\n";
    EXPECT_EQ(::send(fd, text.data(), text.size(), MSG_NOSIGNAL), static_cast<ssize_t>(text.size()));
    std::string reply;
    char c = 0;
    pollfd p{fd, POLLIN, 0};
    while (::poll(&p, 1, 3000) > 0 && ::read(fd, &c, 1) == 1 && c != '\n') reply += c;
    return reply;
  };
  const int first = connectTo();
  const int second = connectTo();
  EXPECT_EQ(ask(first, "set temp 0 2150"), "ok");
  EXPECT_EQ(ask(second, "set temp 9 0").rfind("error", 0), 0u);
  // A later client leaving changes nothing; the first one leaving ends the simulator.
  ::close(second);
  EXPECT_EQ(ask(first, "set volt 1200"), "ok");
  ::close(first);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
  while (!processEnded(sim) && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  int status = -1;
  if (!processEnded(sim)) ::kill(sim, SIGKILL);
  ::waitpid(sim, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  struct stat st {};
  EXPECT_NE(::lstat(portFile.c_str(), &st), 0);
  EXPECT_NE(::lstat(link.c_str(), &st), 0);
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
