#include "loop/timer_queue.hpp"

#include <vector>

namespace deskagent {

void TimerQueue::add(TimerId id, TimePoint deadline, Duration interval, Task task) {
  std::uint64_t sequence = nextSequence_++;
  timers_.emplace(id, Timer{deadline, sequence, interval, std::move(task)});
  queue_.emplace(deadline, sequence, id);
  if (interval == Duration::zero()) ++oneShotCount_;
}

bool TimerQueue::cancel(TimerId id) {
  auto it = timers_.find(id);
  if (it == timers_.end()) return false;
  queue_.erase({it->second.deadline, it->second.sequence, id});
  if (it->second.interval == Duration::zero()) --oneShotCount_;
  timers_.erase(it);
  return true;
}

void TimerQueue::runDue(TimePoint now) {
  std::vector<TimerId> due;
  for (auto& [deadline, sequence, id] : queue_) {
    if (deadline > now) break;
    due.push_back(id);
  }
  for (TimerId id : due) {
    auto it = timers_.find(id);
    if (it == timers_.end()) continue;
    Timer& timer = it->second;
    queue_.erase({timer.deadline, timer.sequence, id});
    if (timer.interval == Duration::zero()) {
      Task task = std::move(timer.task);
      timers_.erase(it);
      --oneShotCount_;
      task();
      continue;
    }
    TimePoint next = timer.deadline + timer.interval;
    if (next <= now) next = now + timer.interval;  // after a stall, skip the missed ticks
    timer.deadline = next;
    timer.sequence = nextSequence_++;
    queue_.emplace(timer.deadline, timer.sequence, id);
    Task tick = timer.task;  // the map may rehash while the tick schedules timers
    tick();
  }
}

std::optional<TimePoint> TimerQueue::nextDeadline() const {
  if (queue_.empty()) return std::nullopt;
  return std::get<0>(*queue_.begin());
}

}  // namespace deskagent
