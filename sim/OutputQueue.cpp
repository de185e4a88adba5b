// Timed and optionally paced output to the line.
#include "sim/OutputQueue.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace velq3::sim {

void OutputQueue::push(TimePoint at, Bytes bytes) {
  if (bytes.empty()) return;
  chunks_.emplace(Key{at, seq_++}, Chunk{std::move(bytes), 0, false});
}

void OutputQueue::pushVanish(TimePoint at) { chunks_.emplace(Key{at, seq_++}, Chunk{{}, 0, true}); }

void OutputQueue::clear() { chunks_.clear(); }

std::optional<TimePoint> OutputQueue::nextDue() const {
  if (chunks_.empty()) return std::nullopt;
  const auto& [key, chunk] = *chunks_.begin();
  if (!paced_ || chunk.vanish) return key.first;
  // A byte is delivered when its last bit has been sent: one character time after the line
  // became free and the byte was ready.
  return std::max(lastByte_, key.first) + millis(kByteMs);
}

OutputQueue::Result OutputQueue::send(int fd, TimePoint now) {
  while (!chunks_.empty()) {
    const auto due = nextDue();
    if (*due > now) return Result::Idle;
    auto it = chunks_.begin();
    Chunk& c = it->second;
    if (c.vanish) {
      chunks_.erase(it);
      return Result::Vanish;
    }
    const size_t n = paced_ ? 1 : c.bytes.size() - c.sent;
    const ssize_t w = ::write(fd, c.bytes.data() + c.sent, n);
    if (w < 0) {
      if (errno == EINTR) continue;
      return errno == EAGAIN || errno == EWOULDBLOCK ? Result::Blocked : Result::Error;
    }
    if (paced_) lastByte_ = *due;
    c.sent += static_cast<size_t>(w);
    if (c.sent == c.bytes.size()) chunks_.erase(it);
  }
  return Result::Idle;
}

}  // namespace velq3::sim
