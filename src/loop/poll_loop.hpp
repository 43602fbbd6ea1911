#pragma once

#include <atomic>
#include <deque>
#include <map>
#include <mutex>
#include <optional>

#include "loop/main_loop.hpp"
#include "loop/timer_queue.hpp"

namespace deskagent {

// The main loop on poll(2): posted tasks, timers ordered by (deadline, sequence) and fd watches,
// one thread, one turn at a time. Driven by a Clock, so tests run it on virtual time.
class PollLoop final : public MainLoop {
 public:
  explicit PollLoop(Clock& clock);
  ~PollLoop() override;
  PollLoop(const PollLoop&) = delete;
  PollLoop& operator=(const PollLoop&) = delete;

  TimePoint now() const override { return now_; }
  void updateNow() override { now_ = clock_.now(); }
  void post(Task task) override;
  TimerId postDelayed(Duration delay, Task task) override;
  LoopHandle startRepeating(Duration interval, Task tick) override;
  LoopHandle watchReadable(int fd, Task onReadable, std::function<bool()> hasPending) override;
  void cancel(TimerId id) override;
  void run() override;
  void quitWhenIdle() override;

  // One turn: the timers due at the turn's "now", the tasks posted before the turn began, then
  // the ready fds. Waits for the next deadline or a wake-up only when `mayWait` and nothing is
  // runnable.
  void runOnce(bool mayWait);
  // Turns without waiting until nothing is runnable at the clock's current time.
  void runUntilIdle();
  std::optional<TimePoint> nextDeadline() const;
  // Posted tasks or one-shot delayed tasks still to run (what quitWhenIdle waits for).
  bool hasPendingWork() const;
  std::size_t repeatingTimerCount() const;

 private:
  struct Watch {
    int fd;
    Task onReadable;
    std::function<bool()> hasPending;
  };
  TimerId schedule(TimePoint deadline, Duration interval, Task task);
  std::deque<Task> takePostedTasks();
  void pollWatches(int timeoutMs);
  int waitTimeoutMs(bool mayWait);
  bool readyToQuit() const;

  Clock& clock_;
  TimePoint now_;
  TimerId nextId_ = 1;
  TimerQueue timers_;
  std::map<TimerId, Watch> watches_;

  mutable std::mutex postedMutex_;
  std::deque<Task> posted_;
  std::atomic<bool> quitRequested_{false};
  int wakeRead_ = -1;
  int wakeWrite_ = -1;
};

// Moves a virtual clock forward by `d`, stopping at every deadline on the way so each task runs at
// its own time, as it would have in real time.
void advanceVirtualTime(PollLoop& loop, VirtualClock& clock, Duration d);

// Runs every pending one-shot task on virtual time, as the loop does before it quits.
void drainVirtualTime(PollLoop& loop, VirtualClock& clock);

}  // namespace deskagent
