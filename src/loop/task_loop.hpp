#pragma once

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>

#include "loop/main_loop.hpp"
#include "loop/timer_queue.hpp"

namespace deskagent {

// A main loop of posted tasks and timers ordered by (deadline, sequence), one thread, one turn at
// a time, driven by a Clock so tests run it on virtual time. It has no sources of its own: a
// loop that also serves file descriptors or a system's message queue derives from it and waits
// in serveSources(). On its own it is the loop of the in-process tests.
class TaskLoop : public MainLoop {
 public:
  explicit TaskLoop(Clock& clock);
  TaskLoop(const TaskLoop&) = delete;
  TaskLoop& operator=(const TaskLoop&) = delete;

  TimePoint now() const override { return now_; }
  void updateNow() override { now_ = clock_.now(); }
  void post(Task task) override;
  TimerId postDelayed(Duration delay, Task task) override;
  LoopHandle startRepeating(Duration interval, Task tick) override;
  // This loop has no descriptors to watch: the handle is empty and `onReadable` never runs.
  LoopHandle watchReadable(int fd, Task onReadable, std::function<bool()> hasPending) override;
  void cancel(TimerId id) override;
  void run() override;
  void quitWhenIdle() override;

  // One turn: the timers due at the turn's "now", the tasks posted before the turn began, then
  // the sources. Waits for the next deadline or a wake-up only when `mayWait` and nothing is
  // runnable.
  void runOnce(bool mayWait);
  // Turns without waiting until nothing is runnable at the clock's current time.
  void runUntilIdle();
  std::optional<TimePoint> nextDeadline() const;
  // Posted tasks or one-shot delayed tasks still to run (what quitWhenIdle waits for).
  bool hasPendingWork() const;
  std::size_t repeatingTimerCount() const;

 protected:
  // Waits up to `timeout` (nothing: without limit; zero: only looks) for a posted task or a
  // source, then serves the sources that are ready. The default has no sources and waits for a
  // post alone.
  virtual void serveSources(std::optional<Duration> timeout);
  // Ends a wait in serveSources() from any thread; called when the posted queue fills.
  virtual void wake() { posted_cv_.notify_one(); }
  // A source with work that a wait would not see (a library's buffered input).
  virtual bool sourcesPending() { return false; }
  // Drops the source `id`; false when it is not one (then it is taken as a timer).
  virtual bool cancelSource(TimerId id) {
    (void)id;
    return false;
  }
  TimerId newId() { return nextId_++; }
  bool postedEmpty() const;

  Clock& clock_;

 private:
  TimerId schedule(TimePoint deadline, Duration interval, Task task);
  std::deque<Task> takePostedTasks();
  std::optional<Duration> waitTimeout(bool mayWait);
  bool readyToQuit() const;

  TimePoint now_;
  TimerId nextId_ = 1;
  TimerQueue timers_;

  mutable std::mutex postedMutex_;
  std::condition_variable posted_cv_;
  std::deque<Task> posted_;
  std::atomic<bool> quitRequested_{false};
};

// Moves a virtual clock forward by `d`, stopping at every deadline on the way so each task runs at
// its own time, as it would have in real time.
void advanceVirtualTime(TaskLoop& loop, VirtualClock& clock, Duration d);

// Runs every pending one-shot task on virtual time, as the loop does before it quits.
void drainVirtualTime(TaskLoop& loop, VirtualClock& clock);

}  // namespace deskagent
