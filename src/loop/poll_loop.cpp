#include "loop/poll_loop.hpp"

#include <poll.h>

#include <cerrno>
#include <vector>

namespace deskagent {

void PollLoop::wake() {
  // One byte per wake-up never fills the pipe: the loop empties it on every turn.
  wake_.notify();
}

LoopHandle PollLoop::watchReadable(int fd, Task onReadable, std::function<bool()> hasPending) {
  TimerId id = newId();
  watches_.emplace(id, Watch{fd, POLLIN, std::move(onReadable), std::move(hasPending)});
  return LoopHandle(this, id);
}

LoopHandle PollLoop::watchWritable(int fd, Task onWritable) {
  TimerId id = newId();
  watches_.emplace(id, Watch{fd, POLLOUT, std::move(onWritable), {}});
  return LoopHandle(this, id);
}

bool PollLoop::cancelSource(TimerId id) {
  return watches_.erase(id) != 0;
}

bool PollLoop::sourcesPending() {
  for (auto& [id, watch] : watches_) {
    if (watch.hasPending && watch.hasPending()) return true;
  }
  return false;
}

void PollLoop::serveSources(std::optional<Duration> timeout) {
  int timeoutMs = -1;
  if (timeout) {
    // Round up, so the loop never wakes just before a deadline and spins.
    timeoutMs = static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(*timeout).count());
  }
  // A post between the decision to wait and the wait has written to the pipe: it ends the wait.
  std::vector<pollfd> fds;
  std::vector<TimerId> ids;
  if (wake_.readFd() >= 0) fds.push_back({wake_.readFd(), POLLIN, 0});
  std::size_t first = fds.size();
  for (auto& [id, watch] : watches_) {
    fds.push_back({watch.fd, watch.events, 0});
    ids.push_back(id);
  }
  int n = ::poll(fds.data(), fds.size(), timeoutMs);
  if (n < 0 && errno != EINTR) n = 0;
  if (wake_.readFd() >= 0 && (fds[0].revents & POLLIN)) wake_.drain();
  // The wait may have been long: what the callbacks schedule counts from when they run.
  if (timeoutMs != 0) updateNow();
  for (std::size_t i = 0; i < ids.size(); ++i) {
    auto it = watches_.find(ids[i]);
    if (it == watches_.end()) continue;  // dropped by an earlier callback
    const short ends = POLLHUP | POLLERR;
    bool ready = n > 0 && (fds[first + i].revents & (it->second.events | ends)) != 0;
    if (!ready && it->second.hasPending) ready = it->second.hasPending();
    if (ready) {
      Task onReady = it->second.onReady;  // the task may drop its own watch
      onReady();
    }
  }
}

}  // namespace deskagent
