#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <set>
#include <tuple>
#include <unordered_map>

#include "loop/main_loop.hpp"

namespace deskagent {

// The timers of a main loop, ordered by (deadline, sequence): equal deadlines run in the order
// they were scheduled. Shared by every loop implementation, so all keep the same rules.
class TimerQueue {
 public:
  // `interval` zero makes a one-shot task; the loop hands out `id`, unique among its sources.
  void add(TimerId id, TimePoint deadline, Duration interval, Task task);
  // False when there is no such timer (already run, cancelled, or not a timer at all).
  bool cancel(TimerId id);

  // Runs the timers due at `now`. They are collected before any runs, so what they schedule
  // waits for a later turn; a repeating timer is rearmed before its tick, so the tick may
  // cancel it; one cancelled by an earlier task of the batch does not run.
  void runDue(TimePoint now);

  std::optional<TimePoint> nextDeadline() const;
  std::size_t oneShotCount() const { return oneShotCount_; }
  std::size_t repeatingCount() const { return timers_.size() - oneShotCount_; }

 private:
  struct Timer {
    TimePoint deadline;
    std::uint64_t sequence;
    Duration interval;
    Task task;
  };
  using Key = std::tuple<TimePoint, std::uint64_t, TimerId>;

  std::uint64_t nextSequence_ = 1;
  std::set<Key> queue_;
  std::unordered_map<TimerId, Timer> timers_;
  std::size_t oneShotCount_ = 0;
};

}  // namespace deskagent
