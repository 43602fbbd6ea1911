#include "app/backlog.hpp"

namespace deskagent {

bool Backlog::admit(std::size_t bytes, const std::function<bool()>& mayOverrun) {
  std::unique_lock lock(mutex_);
  if (full()) {
    while (!stopped_ && !caughtUp()) {
      if (mayOverrun && mayOverrun()) break;
      roomMade_.wait_for(lock, std::chrono::milliseconds(100));
    }
  }
  if (stopped_) return false;
  bytes_ += bytes + kLineOverhead;
  ++lines_;
  return true;
}

void Backlog::add(std::size_t bytes) {
  std::lock_guard lock(mutex_);
  bytes_ += bytes + kLineOverhead;
  ++lines_;
}

void Backlog::release(std::size_t bytes) {
  {
    std::lock_guard lock(mutex_);
    bool wasCaughtUp = caughtUp();
    bytes_ -= bytes + kLineOverhead;
    --lines_;
    if (wasCaughtUp || !caughtUp()) return;
  }
  roomMade_.notify_all();
}

void Backlog::stop() {
  {
    std::lock_guard lock(mutex_);
    stopped_ = true;
  }
  roomMade_.notify_all();
}

}  // namespace deskagent
