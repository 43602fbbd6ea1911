#pragma once

#include <condition_variable>
#include <cstddef>
#include <mutex>

namespace deskagent {

// What the agent holds for the host: commands read but not yet handled and events not yet
// written. Past the bound the stdin reader takes no further line until the loop or the writer
// has caught up, so a host that writes faster than the agent answers, or stops reading, fills
// its own pipe and waits, and the agent's memory stays bounded. Nothing is dropped for it.
// Thread-safe.
class Backlog {
 public:
  static constexpr std::size_t kMaxBytes = 16u << 20;
  static constexpr std::size_t kMaxLines = 100'000;
  // What a held line costs beyond its text: its queue entry and its allocation.
  static constexpr std::size_t kLineOverhead = 64;

  Backlog(std::size_t maxBytes = kMaxBytes, std::size_t maxLines = kMaxLines)
      : maxBytes_(maxBytes), maxLines_(maxLines) {}

  // Takes in a line of `bytes` once the backlog is below the bound, waiting for that as long as
  // it takes. A line longer than the bound is taken too (it is already read). False, and nothing
  // taken, once stop() has been called.
  bool admit(std::size_t bytes);
  // Takes in a line without waiting: events, which the loop must never wait to hand over.
  void add(std::size_t bytes);
  // A line taken in is done with.
  void release(std::size_t bytes);
  // Ends every wait in admit(), now and later.
  void stop();

 private:
  bool full() const { return bytes_ >= maxBytes_ || lines_ >= maxLines_; }
  // Once full, reading resumes only below three quarters of the bound: a line at a time at the
  // brink would wake the reader for every line written.
  bool caughtUp() const { return bytes_ < maxBytes_ * 3 / 4 && lines_ < maxLines_ * 3 / 4; }

  const std::size_t maxBytes_;
  const std::size_t maxLines_;
  std::mutex mutex_;
  std::condition_variable roomMade_;
  std::size_t bytes_ = 0;
  std::size_t lines_ = 0;
  bool stopped_ = false;
};

}  // namespace deskagent
