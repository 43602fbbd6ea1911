#include "loop/task_loop.hpp"

namespace deskagent {

TaskLoop::TaskLoop(Clock& clock) : clock_(clock), now_(clock.now()) {}

void TaskLoop::post(Task task) {
  bool wasEmpty;
  {
    std::lock_guard lock(postedMutex_);
    wasEmpty = posted_.empty();
    posted_.push_back(std::move(task));
  }
  // One wake-up per empty-to-non-empty change is enough to end a wait.
  if (wasEmpty) wake();
}

TimerId TaskLoop::schedule(TimePoint deadline, Duration interval, Task task) {
  TimerId id = newId();
  timers_.add(id, deadline, interval, std::move(task));
  return id;
}

TimerId TaskLoop::postDelayed(Duration delay, Task task) {
  if (delay < Duration::zero()) delay = Duration::zero();
  return schedule(now_ + delay, Duration::zero(), std::move(task));
}

LoopHandle TaskLoop::startRepeating(Duration interval, Task tick) {
  if (interval <= Duration::zero()) interval = Duration(1);
  return LoopHandle(this, schedule(now_ + interval, interval, std::move(tick)));
}

LoopHandle TaskLoop::watchReadable(int, Task, std::function<bool()>) {
  return LoopHandle();
}

void TaskLoop::cancel(TimerId id) {
  if (!cancelSource(id)) timers_.cancel(id);
}

std::deque<Task> TaskLoop::takePostedTasks() {
  std::deque<Task> batch;
  std::lock_guard lock(postedMutex_);
  batch.swap(posted_);
  return batch;
}

bool TaskLoop::postedEmpty() const {
  std::lock_guard lock(postedMutex_);
  return posted_.empty();
}

std::optional<Duration> TaskLoop::waitTimeout(bool mayWait) {
  if (!mayWait || readyToQuit() || !postedEmpty() || sourcesPending()) return Duration::zero();
  auto deadline = nextDeadline();
  if (!deadline) return std::nullopt;
  auto left = *deadline - clock_.now();
  return left > Duration::zero() ? left : Duration::zero();
}

void TaskLoop::serveSources(std::optional<Duration> timeout) {
  std::unique_lock lock(postedMutex_);
  auto posted = [this] { return !posted_.empty(); };
  if (!timeout) {
    posted_cv_.wait(lock, posted);
  } else if (*timeout > Duration::zero()) {
    posted_cv_.wait_for(lock, *timeout, posted);
  }
  // The wait may have been long: what comes next counts from its end.
  if (timeout != Duration::zero()) now_ = clock_.now();
}

void TaskLoop::runOnce(bool mayWait) {
  now_ = clock_.now();
  // Both are taken at the start of the turn: what they post or schedule waits for the next one.
  std::deque<Task> posted = takePostedTasks();
  timers_.runDue(now_);
  for (Task& task : posted) task();
  serveSources(waitTimeout(mayWait));
}

void TaskLoop::runUntilIdle() {
  for (;;) {
    runOnce(false);
    now_ = clock_.now();
    bool runnable = !postedEmpty();
    if (!runnable) {
      auto deadline = nextDeadline();
      runnable = deadline && *deadline <= now_;
    }
    if (!runnable) return;
  }
}

std::optional<TimePoint> TaskLoop::nextDeadline() const {
  return timers_.nextDeadline();
}

bool TaskLoop::hasPendingWork() const {
  return !postedEmpty() || timers_.oneShotCount() > 0;
}

std::size_t TaskLoop::repeatingTimerCount() const {
  return timers_.repeatingCount();
}

bool TaskLoop::readyToQuit() const {
  return quitRequested_ && !hasPendingWork();
}

void TaskLoop::run() {
  while (!readyToQuit()) runOnce(true);
}

void TaskLoop::quitWhenIdle() {
  quitRequested_ = true;
  post([] {});  // wakes a loop that is waiting
}

void advanceVirtualTime(TaskLoop& loop, VirtualClock& clock, Duration d) {
  TimePoint target = clock.now() + d;
  loop.runUntilIdle();
  for (auto next = loop.nextDeadline(); next && *next <= target; next = loop.nextDeadline()) {
    if (*next > clock.now()) clock.set(*next);
    loop.runUntilIdle();
  }
  clock.set(target);
  loop.runUntilIdle();
}

void drainVirtualTime(TaskLoop& loop, VirtualClock& clock) {
  loop.runUntilIdle();
  while (loop.hasPendingWork()) {
    auto next = loop.nextDeadline();
    if (!next) break;
    if (*next > clock.now()) clock.set(*next);
    loop.runUntilIdle();
  }
}

}  // namespace deskagent
