#include "app/output_queue.hpp"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

namespace deskagent {

struct OutputQueue::State {
  State(Backlog& b, Write w, TryWrite t)
      : backlog(&b), write(std::move(w)), tryWrite(std::move(t)) {}

  // The writer thread: one line at a time, the lock never held across a write.
  void run() {
    std::unique_lock lock(mutex);
    for (;;) {
      changed.wait(lock, [&] { return !lines.empty() || backlog == nullptr; });
      if (lines.empty()) return;
      std::string line = std::move(lines.front());
      lines.pop_front();
      writing = true;
      lock.unlock();
      write(line);
      lock.lock();
      writing = false;
      if (backlog == nullptr) return;  // finished while the write was under way
      backlog->release(line.size());
      if (lines.empty()) changed.notify_all();
    }
  }

  std::mutex mutex;
  std::condition_variable changed;
  std::deque<std::string> lines;
  bool writing = false;
  Backlog* backlog;  // null once finished: lines pushed after are dropped
  const Write write;
  const TryWrite tryWrite;
};

OutputQueue::OutputQueue(Backlog& backlog, Write write, TryWrite tryWrite)
    : state_(std::make_shared<State>(backlog, std::move(write), std::move(tryWrite))) {
  // Detached and holding the state: a write that never returns must not keep the process from
  // ending, nor find the state gone when it does return.
  std::thread([state = state_] { state->run(); }).detach();
}

OutputQueue::~OutputQueue() {
  finish(std::chrono::steady_clock::now());
}

void OutputQueue::push(std::string line) {
  std::lock_guard lock(state_->mutex);
  if (state_->backlog == nullptr) return;
  // Under the lock, so the writer cannot start a line meanwhile: the order stays.
  if (state_->lines.empty() && !state_->writing && state_->tryWrite && state_->tryWrite(line)) {
    return;
  }
  state_->backlog->add(line.size());
  state_->lines.push_back(std::move(line));
  // A writer with lines still to write does not wait: only the first line needs to wake it.
  if (state_->lines.size() == 1) state_->changed.notify_all();
}

bool OutputQueue::finish(std::chrono::steady_clock::time_point deadline) {
  State& s = *state_;
  std::unique_lock lock(s.mutex);
  if (s.backlog == nullptr) return s.lines.empty();
  bool written =
      s.changed.wait_until(lock, deadline, [&] { return s.lines.empty() && !s.writing; });
  for (const std::string& line : s.lines) s.backlog->release(line.size());
  s.lines.clear();
  s.backlog = nullptr;
  s.changed.notify_all();
  return written;
}

}  // namespace deskagent
