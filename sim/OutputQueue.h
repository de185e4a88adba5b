// Bytes waiting to go out on the line, each chunk not before its time; in real-time mode every
// byte also takes one character time of a 9600-baud line.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <utility>

#include "sim/Bytes.h"
#include "sim/Clock.h"

namespace velq3::sim {

class OutputQueue {
 public:
  // 10 bits (start, 8 data, stop) at 9600 baud.
  static constexpr double kByteMs = 10.0 * 1000.0 / 9600.0;

  explicit OutputQueue(bool paced) : paced_(paced) {}

  // Queues bytes to go out at `at` (after anything queued earlier for the same time).
  void push(TimePoint at, Bytes bytes);
  // Queues the point at which the line vanishes: once everything before it has gone out,
  // send() reports it.
  void pushVanish(TimePoint at);
  void clear();
  bool empty() const { return chunks_.empty(); }

  // When the next byte (or the vanish point) is due; nullopt when nothing is queued.
  std::optional<TimePoint> nextDue() const;

  enum class Result { Idle, Blocked, Vanish, Error };
  // Writes everything due by `now` to fd (one byte per character time when paced). Blocked means
  // the terminal takes no more for now (wait for POLLOUT).
  Result send(int fd, TimePoint now);

 private:
  struct Chunk {
    Bytes bytes;
    size_t sent = 0;
    bool vanish = false;
  };
  using Key = std::pair<TimePoint, uint64_t>;

  bool paced_;
  std::map<Key, Chunk> chunks_;
  uint64_t seq_ = 0;
  TimePoint lastByte_{};
};

}  // namespace velq3::sim
