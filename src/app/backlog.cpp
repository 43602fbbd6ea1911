#include "app/backlog.hpp"

namespace deskagent {

bool Backlog::admit(std::size_t bytes) {
  std::unique_lock lock(mutex_);
  if (full()) roomMade_.wait(lock, [&] { return stopped_ || caughtUp(); });
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
