#pragma once

#include <cstdint>
#include <functional>
#include <utility>

#include "loop/clock.hpp"

namespace deskagent {

using Task = std::function<void()>;
using TimerId = std::uint64_t;

class MainLoop;

// Owns a repeating timer or a file-descriptor watch: destroying or replacing it stops the
// source, so whoever holds it decides how long it lives.
class LoopHandle {
 public:
  LoopHandle() = default;
  LoopHandle(MainLoop* loop, TimerId id) : loop_(loop), id_(id) {}
  LoopHandle(LoopHandle&& other) noexcept
      : loop_(std::exchange(other.loop_, nullptr)), id_(other.id_) {}
  LoopHandle& operator=(LoopHandle&& other) noexcept {
    if (this != &other) {
      reset();
      loop_ = std::exchange(other.loop_, nullptr);
      id_ = other.id_;
    }
    return *this;
  }
  LoopHandle(const LoopHandle&) = delete;
  LoopHandle& operator=(const LoopHandle&) = delete;
  ~LoopHandle() { reset(); }

  explicit operator bool() const { return loop_ != nullptr; }
  void reset();

 private:
  MainLoop* loop_ = nullptr;
  TimerId id_ = 0;
};

// The one thread on which all of the agent's work runs. Only post() and quitWhenIdle() may be
// called from other threads; everything else belongs to the loop's own thread.
class MainLoop {
 public:
  virtual ~MainLoop() = default;

  // The time of the current loop turn, read once per turn.
  virtual TimePoint now() const = 0;
  // Reads the clock again, for a step that took real time and measures a delay from its end.
  virtual void updateNow() = 0;

  // Runs the task on the loop thread, after the tasks posted before it. Thread-safe.
  virtual void post(Task task) = 0;

  // Runs the task once, no earlier than `delay` from now; tasks with equal deadlines run in the
  // order they were scheduled. A task scheduled by a task never runs in the same turn.
  virtual TimerId postDelayed(Duration delay, Task task) = 0;

  // Runs `tick` every `interval` until the handle is dropped.
  virtual LoopHandle startRepeating(Duration interval, Task tick) = 0;

  // Calls `onReadable` whenever `fd` has data. `hasPending`, when given, is asked before the loop
  // waits: a connection library that buffers input (Xlib) reports there what the fd cannot show.
  virtual LoopHandle watchReadable(int fd, Task onReadable,
                                   std::function<bool()> hasPending = {}) = 0;
  // Calls `onWritable` whenever `fd` takes more data (or its reader has gone). Only the poll loop
  // serves it: the others never feed a pipe, and return an empty handle.
  virtual LoopHandle watchWritable(int fd, Task onWritable) {
    (void)fd;
    (void)onWritable;
    return LoopHandle();
  }

  // Stops a delayed task, a repeating timer or a watch; unknown ids are ignored.
  virtual void cancel(TimerId id) = 0;

  // Serves tasks, timers and watches until quitWhenIdle() has been asked and nothing is left
  // to finish: no posted task and no one-shot delayed task (repeating timers do not count).
  virtual void run() = 0;
  virtual void quitWhenIdle() = 0;
};

inline void LoopHandle::reset() {
  if (loop_ != nullptr) std::exchange(loop_, nullptr)->cancel(id_);
}

}  // namespace deskagent
