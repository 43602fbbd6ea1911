#include "loop/poll_loop.hpp"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

namespace deskagent {

PollLoop::PollLoop(Clock& clock) : clock_(clock), now_(clock.now()) {
  int fds[2];
  if (::pipe(fds) == 0) {
    for (int fd : fds) {
      ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
      ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    }
    wakeRead_ = fds[0];
    wakeWrite_ = fds[1];
  }
}

PollLoop::~PollLoop() {
  if (wakeRead_ >= 0) ::close(wakeRead_);
  if (wakeWrite_ >= 0) ::close(wakeWrite_);
}

void PollLoop::post(Task task) {
  bool wasEmpty;
  {
    std::lock_guard lock(postedMutex_);
    wasEmpty = posted_.empty();
    posted_.push_back(std::move(task));
  }
  // One byte per empty-to-non-empty change is enough to end a wait and never fills the pipe.
  if (wasEmpty && wakeWrite_ >= 0) {
    char byte = 1;
    [[maybe_unused]] auto n = ::write(wakeWrite_, &byte, 1);
  }
}

TimerId PollLoop::schedule(TimePoint deadline, Duration interval, Task task) {
  TimerId id = nextId_++;
  timers_.add(id, deadline, interval, std::move(task));
  return id;
}

TimerId PollLoop::postDelayed(Duration delay, Task task) {
  if (delay < Duration::zero()) delay = Duration::zero();
  return schedule(now_ + delay, Duration::zero(), std::move(task));
}

LoopHandle PollLoop::startRepeating(Duration interval, Task tick) {
  if (interval <= Duration::zero()) interval = Duration(1);
  return LoopHandle(this, schedule(now_ + interval, interval, std::move(tick)));
}

LoopHandle PollLoop::watchReadable(int fd, Task onReadable, std::function<bool()> hasPending) {
  TimerId id = nextId_++;
  watches_.emplace(id, Watch{fd, std::move(onReadable), std::move(hasPending)});
  return LoopHandle(this, id);
}

void PollLoop::cancel(TimerId id) {
  if (watches_.erase(id) == 0) timers_.cancel(id);
}

std::deque<Task> PollLoop::takePostedTasks() {
  std::deque<Task> batch;
  std::lock_guard lock(postedMutex_);
  batch.swap(posted_);
  return batch;
}

int PollLoop::waitTimeoutMs(bool mayWait) {
  if (!mayWait || readyToQuit()) return 0;
  {
    std::lock_guard lock(postedMutex_);
    if (!posted_.empty()) return 0;
  }
  for (auto& [id, watch] : watches_) {
    if (watch.hasPending && watch.hasPending()) return 0;
  }
  auto deadline = nextDeadline();
  if (!deadline) return -1;
  auto left = *deadline - clock_.now();
  if (left <= Duration::zero()) return 0;
  // Round up, so the loop never wakes just before a deadline and spins.
  return static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(left).count());
}

void PollLoop::pollWatches(int timeoutMs) {
  std::vector<pollfd> fds;
  std::vector<TimerId> ids;
  if (wakeRead_ >= 0) fds.push_back({wakeRead_, POLLIN, 0});
  std::size_t first = fds.size();
  for (auto& [id, watch] : watches_) {
    fds.push_back({watch.fd, POLLIN, 0});
    ids.push_back(id);
  }
  int n = ::poll(fds.data(), fds.size(), timeoutMs);
  if (n < 0 && errno != EINTR) n = 0;
  // The wait may have been long: what the callbacks schedule counts from when they run.
  if (timeoutMs != 0) now_ = clock_.now();
  if (wakeRead_ >= 0 && (fds[0].revents & POLLIN)) {
    char buffer[64];
    while (::read(wakeRead_, buffer, sizeof buffer) > 0) {
    }
  }
  for (std::size_t i = 0; i < ids.size(); ++i) {
    auto it = watches_.find(ids[i]);
    if (it == watches_.end()) continue;  // dropped by an earlier callback
    bool ready = n > 0 && (fds[first + i].revents & (POLLIN | POLLHUP | POLLERR)) != 0;
    if (!ready && it->second.hasPending) ready = it->second.hasPending();
    if (ready) {
      Task onReadable = it->second.onReadable;
      onReadable();
    }
  }
}

void PollLoop::runOnce(bool mayWait) {
  now_ = clock_.now();
  // Both are taken at the start of the turn: what they post or schedule waits for the next one.
  std::deque<Task> posted = takePostedTasks();
  timers_.runDue(now_);
  for (Task& task : posted) task();
  pollWatches(waitTimeoutMs(mayWait));
}

void PollLoop::runUntilIdle() {
  for (;;) {
    runOnce(false);
    now_ = clock_.now();
    bool runnable = false;
    {
      std::lock_guard lock(postedMutex_);
      runnable = !posted_.empty();
    }
    if (!runnable) {
      auto deadline = nextDeadline();
      runnable = deadline && *deadline <= now_;
    }
    if (!runnable) return;
  }
}

std::optional<TimePoint> PollLoop::nextDeadline() const {
  return timers_.nextDeadline();
}

bool PollLoop::hasPendingWork() const {
  std::lock_guard lock(postedMutex_);
  return !posted_.empty() || timers_.oneShotCount() > 0;
}

std::size_t PollLoop::repeatingTimerCount() const {
  return timers_.repeatingCount();
}

bool PollLoop::readyToQuit() const {
  return quitRequested_ && !hasPendingWork();
}

void PollLoop::run() {
  while (!readyToQuit()) runOnce(true);
}

void PollLoop::quitWhenIdle() {
  quitRequested_ = true;
  post([] {});  // wakes a loop that is waiting
}

void advanceVirtualTime(PollLoop& loop, VirtualClock& clock, Duration d) {
  TimePoint target = clock.now() + d;
  loop.runUntilIdle();
  for (auto next = loop.nextDeadline(); next && *next <= target; next = loop.nextDeadline()) {
    if (*next > clock.now()) clock.set(*next);
    loop.runUntilIdle();
  }
  clock.set(target);
  loop.runUntilIdle();
}

void drainVirtualTime(PollLoop& loop, VirtualClock& clock) {
  loop.runUntilIdle();
  while (loop.hasPendingWork()) {
    auto next = loop.nextDeadline();
    if (!next) break;
    if (*next > clock.now()) clock.set(*next);
    loop.runUntilIdle();
  }
}

}  // namespace deskagent
