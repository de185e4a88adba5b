// The simulator's event loop: one thread, poll() on the line and the control channel, waking only
// for input or for the next due output, motion report or time-out.
#include "sim/Simulator.h"

#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "sim/Control.h"

namespace velq3::sim {
namespace {

// An incomplete command is dropped when the sender stays quiet this long in its middle.
constexpr double kIncompleteCommandMs = 300;
// A served terminal that hung up is tried again at this interval.
constexpr double kTtyRetryMs = 1000;
// Closing a pseudo-terminal discards what the other side has not read yet, so a vanish waits up
// to this long, looking every kVanishCheckMs, for the partial reply to be read first.
constexpr double kVanishGraceMs = 250;
constexpr double kVanishCheckMs = 5;

volatile sig_atomic_t g_stop = 0;
void onSignal(int) { g_stop = 1; }

std::string hex(const Bytes& b) {
  std::string s;
  char x[4];
  for (uint8_t v : b) {
    std::snprintf(x, sizeof x, " %02x", v);
    s += x;
  }
  return s;
}

bool isWheelMotion(Cmd c) { return c == Cmd::Goto || c == Cmd::Home; }

}  // namespace

Simulator::Simulator(Options options)
    : options_(std::move(options)),
      model_(Clock::now()),
      firmware_(memory_, model_, settings_, options_.microstepTableLen),
      parser_([this] {
        return CommandParser::Context{memory_.twoMotors(), firmware_.microstepTable().size()};
      }),
      output_(options_.realtime),
      rng_(options_.seed.value_or(std::random_device{}())) {
  settings_.realtime = options_.realtime;
  settings_.verbose = options_.verbose;
}

void Simulator::log(const std::string& text) const {
  if (settings_.verbose) std::fprintf(stderr, "velq3-sim: %s\n", text.c_str());
}

bool Simulator::setUp(std::string* error) {
  if (!options_.eeprom.empty() && !memory_.attach(options_.eeprom, error)) return false;
  for (const auto& line : options_.controlLines) {
    const std::string reply = applyControl(line, {settings_, memory_, model_}, Clock::now());
    if (reply != "ok") {
      *error = line + ": " + reply;
      return false;
    }
  }
  if (!options_.control.empty() || !options_.controlPortFile.empty()) {
    control_ = options_.control.empty() ? ControlSocket::listenTcp(options_.controlPortFile, error)
                                        : ControlSocket::listen(options_.control, error);
    if (!control_) return false;
  }
  if (!options_.link.empty()) link_ = std::make_unique<Symlink>(options_.link);
  return openLine(error);
}

bool Simulator::openLine(std::string* error) {
  line_ = options_.tty.empty() ? Line::openPty(error) : Line::openTty(options_.tty, error);
  if (!line_) return false;
  if (link_ && line_->isPty() && !link_->pointTo(line_->path(), error)) return false;
  outputBlocked_ = false;
  std::printf("%s\n", line_->path().c_str());
  std::fflush(stdout);
  log("serving " + line_->path());
  return true;
}

int Simulator::run() {
  sigset_t blocked;
  sigset_t waitMask;
  sigemptyset(&blocked);
  sigaddset(&blocked, SIGTERM);
  sigaddset(&blocked, SIGINT);
  sigprocmask(SIG_BLOCK, &blocked, &waitMask);
  sigdelset(&waitMask, SIGTERM);
  sigdelset(&waitMask, SIGINT);
  struct sigaction sa {};
  sa.sa_handler = onSignal;
  sigaction(SIGTERM, &sa, nullptr);
  sigaction(SIGINT, &sa, nullptr);
  ::signal(SIGPIPE, SIG_IGN);
  if (options_.exitWithParent) {
    // The parent may already be gone by now, in which case the simulator was handed to init.
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (::getppid() == 1) return 0;
  }

  std::string error;
  if (!setUp(&error)) {
    std::fprintf(stderr, "velq3-sim: %s\n", error.c_str());
    return 1;
  }

  std::vector<pollfd> fds;
  while (!g_stop && !exitNow_) {
    tick(Clock::now());
    if (exitNow_) break;

    fds.clear();
    if (line_) fds.push_back({line_->fd(), static_cast<short>(POLLIN | (outputBlocked_ ? POLLOUT : 0)), 0});
    size_t controlFirst = 0;
    if (control_) control_->addPollFds(fds, controlFirst);

    timespec timeout{};
    timespec* timeoutPtr = nullptr;
    if (const auto wake = nextWake()) {
      const auto wait = std::max(Duration::zero(), *wake - Clock::now());
      const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(wait).count();
      timeout.tv_sec = static_cast<time_t>(ns / 1000000000);
      timeout.tv_nsec = static_cast<long>(ns % 1000000000);
      timeoutPtr = &timeout;
    }
    const int n = ::ppoll(fds.data(), fds.size(), timeoutPtr, &waitMask);
    if (n < 0) {
      if (errno == EINTR) continue;
      std::fprintf(stderr, "velq3-sim: poll: %s\n", std::strerror(errno));
      return 1;
    }
    // Control lines first: a test that changes a setting and then sends a command gets the
    // change applied to that command even when both are waiting.
    if (control_) control_->handle(fds, controlFirst, [this](const std::string& l) { return control(l); });
    if (options_.exitWithControl && control_ && control_->firstClientGone()) break;
    if (line_ && !fds.empty() && fds[0].fd == line_->fd()) {
      const short ev = fds[0].revents;
      if (ev & POLLOUT) outputBlocked_ = false;
      if (ev & POLLIN) {
        readLine(Clock::now());
      } else if (ev & (POLLHUP | POLLERR)) {
        lineGone(Clock::now(), "hang-up");
      }
    }
  }
  log("stopped");
  return 0;
}

std::optional<TimePoint> Simulator::nextWake() const {
  std::optional<TimePoint> wake;
  auto consider = [&wake](std::optional<TimePoint> t) {
    if (t && (!wake || *t < *wake)) wake = t;
  };
  if (line_ && !outputBlocked_) consider(output_.nextDue());
  consider(model_.nextEventTime());
  if (parser_.midCommand()) consider(lastInput_ + millis(kIncompleteCommandMs));
  consider(reopenAt_);
  return wake;
}

void Simulator::tick(TimePoint now) {
  if (reopenAt_ && now >= *reopenAt_) {
    reopenAt_.reset();
    std::string error;
    if (!openLine(&error)) {
      log("cannot open the line again: " + error);
      reopenAt_ = now + millis(kTtyRetryMs);
    }
  }
  emitMotionEvents(now);
  if (parser_.midCommand() && now - lastInput_ >= millis(kIncompleteCommandMs)) {
    log("dropped an incomplete command");
    parser_.reset();
  }
  if (!line_ || outputBlocked_) return;
  switch (output_.send(line_->fd(), now)) {
    case OutputQueue::Result::Idle: break;
    case OutputQueue::Result::Blocked: outputBlocked_ = true; break;
    case OutputQueue::Result::Vanish: vanish(now); break;
    case OutputQueue::Result::Error: lineGone(now, std::strerror(errno)); break;
  }
}

void Simulator::readLine(TimePoint now) {
  uint8_t buf[512];
  for (;;) {
    const ssize_t n = ::read(line_->fd(), buf, sizeof buf);
    if (n > 0) {
      lastInput_ = now;
      emitMotionEvents(now);
      parser_.feed(buf, static_cast<size_t>(n), [this, now](Command&& c) { execute(std::move(c), now); });
      continue;
    }
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
    if (n < 0 && errno == EINTR) continue;
    lineGone(now, n == 0 ? "end of file" : std::strerror(errno));
    return;
  }
}

void Simulator::lineGone(TimePoint now, const char* why) {
  std::fprintf(stderr, "velq3-sim: line %s: %s\n", line_ ? line_->path().c_str() : "?", why);
  output_.clear();
  parser_.reset();
  line_.reset();
  if (link_) link_->remove();
  reopenAt_ = now + millis(options_.tty.empty() ? options_.replugMs : kTtyRetryMs);
}

void Simulator::execute(Command&& cmd, TimePoint now) {
  const std::string_view word = wordOf(cmd.cmd);
  const FaultKind fault = settings_.fault.forWord(word);
  if (settings_.verbose)
    log("<- " + std::string(word) + hex(cmd.payload) +
        (fault == FaultKind::None ? "" : " [fault " + std::string(faultName(fault)) + "]"));
  if (fault == FaultKind::Silent || vanishDeadline_) return;  // silenced, or the line is going away

  const TimePoint at = now + millis(settings_.slowMs);
  const bool wheelMotion = isWheelMotion(cmd.cmd);
  const Firmware::Outcome outcome = firmware_.execute(cmd, at, fault == FaultKind::Fail && wheelMotion);

  if (fault == FaultKind::Vanish) settings_.fault = {};  // the line vanishes once
  if (outcome.motion) {
    const size_t index = wheelMotion ? 0 : 1 + static_cast<size_t>(Firmware::motorOf(cmd));
    motionFault_[index] = fault;
    if (wheelMotion) foreignPending_ = fault == FaultKind::Foreign && cmd.cmd == Cmd::Goto;
    if (fault == FaultKind::Vanish) output_.pushVanish(at + *outcome.motion / 2);
  }
  if (outcome.reply) {
    Bytes reply = *outcome.reply;
    switch (fault) {
      case FaultKind::Garbage: reply = garble(reply.size(), rng_); break;
      case FaultKind::Short: if (!reply.empty()) reply.pop_back(); break;
      case FaultKind::Vanish: reply.resize(reply.size() / 2); break;
      default: break;
    }
    output_.push(at, std::move(reply));
  }
  if (fault == FaultKind::Vanish && !outcome.motion) output_.pushVanish(at);
}

void Simulator::emitMotionEvents(TimePoint now) {
  std::vector<MotionEvent> events;
  model_.advance(now, events);
  for (const auto& ev : events) {
    using K = MotionEvent::Kind;
    const bool wheel = ev.kind != K::FocuserArrived;
    const FaultKind fault = motionFault_[wheel ? 0 : 1 + static_cast<size_t>(ev.value)];
    const bool final = ev.kind != K::WheelPassed;
    Bytes report{ev.kind == K::WheelPassed || ev.kind == K::WheelArrived ? digitChar(ev.value)
                 : ev.kind == K::WheelFailed                               ? digitChar(-1)
                                                                           : uint8_t{'!'}};
    if (fault == FaultKind::Garbage) report = garble(1, rng_);
    if (fault == FaultKind::Short && final) report.clear();
    if (wheel && foreignPending_) {
      // Another device's message, once per move: after the first slot passed, or before the
      // final report when no slot is passed on the way.
      const std::string msg = foreignMessage(model_.focuserPosition(0, now));
      const Bytes foreign(msg.begin(), msg.end());
      if (final) output_.push(ev.at, foreign);
      output_.push(ev.at, report);
      if (!final) output_.push(ev.at, foreign);
      foreignPending_ = false;
      continue;
    }
    output_.push(ev.at, std::move(report));
  }
}

void Simulator::vanish(TimePoint now) {
  const bool first = !vanishDeadline_;
  if (first) {
    // The device dies here: nothing more is done or sent.
    output_.clear();
    model_.stopAll(now);
    motionFault_ = {};
    foreignPending_ = false;
    vanishDeadline_ = now + millis(kVanishGraceMs);
  }
  // The first look comes one check later: bytes written to the master reach the slave's queue
  // asynchronously, so an empty queue right after the write proves nothing.
  if (line_->isPty() && now < *vanishDeadline_ && (first || line_->unreadBytes() > 0)) {
    output_.pushVanish(now + millis(kVanishCheckMs));
    return;
  }
  vanishDeadline_.reset();
  if (!line_->isPty()) {
    // A served terminal cannot be taken away from the other side: the device goes quiet instead.
    log("vanish: the device stops answering (fault silent)");
    settings_.fault = {FaultKind::Silent, ""};
    if (options_.vanishExit) exitNow_ = true;
    return;
  }
  log("vanish: closing " + line_->path());
  parser_.reset();
  line_.reset();
  if (link_) link_->remove();
  if (options_.vanishExit)
    exitNow_ = true;
  else
    reopenAt_ = now + millis(options_.replugMs);
}

std::string Simulator::replug(TimePoint now) {
  if (!line_ || !line_->isPty()) return "error: replug needs a pseudo-terminal that is open now";
  // The adapter is pulled out: what was on its way is lost, motions stop with the power.
  log("replug: closing " + line_->path());
  output_.clear();
  model_.stopAll(now);
  motionFault_ = {};
  foreignPending_ = false;
  vanishDeadline_.reset();
  parser_.reset();
  line_.reset();
  if (link_) link_->remove();
  reopenAt_ = now + millis(options_.replugMs);
  return "ok";
}

std::string Simulator::control(const std::string& line) {
  const std::string_view trimmed = std::string_view(line).substr(0, line.find_last_not_of(" \t\r\n") + 1);
  const std::string reply =
      trimmed == "replug" ? replug(Clock::now()) : applyControl(line, {settings_, memory_, model_}, Clock::now());
  log("control: " + line + " -> " + reply.substr(reply.rfind('\n') == std::string::npos ? 0 : reply.rfind('\n') + 1));
  return reply;
}

}  // namespace velq3::sim
