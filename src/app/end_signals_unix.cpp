#include <atomic>
#include <cerrno>
#include <csignal>
#include <utility>

#include "app/end_signals.hpp"
#include "loop/self_pipe_unix.hpp"

namespace deskagent {
namespace {

constexpr int kEndSignals[] = {SIGTERM, SIGINT, SIGHUP};

// The handler only writes a byte to it, and the loop watches the other end. Set before any
// handler is installed, and kept for the life of the process.
const SelfPipe* gNotice = nullptr;

// Set by the first signal, whichever thread the system hands it to: two signals arriving on two
// threads at once must still count as two.
std::atomic<bool> gSignalled{false};
static_assert(std::atomic<bool>::is_always_lock_free, "used from a signal handler");

// Does no work of the agent's. The first signal puts the default action back, so that a later
// one ends the process, and wakes the loop. A second one that arrives on another thread before
// the first has done so ends the process by itself, once this handler returns.
void onEndSignal(int signal) {
  int savedErrno = errno;
  struct sigaction byDefault {};
  byDefault.sa_handler = SIG_DFL;
  if (gSignalled.exchange(true)) {
    ::sigaction(signal, &byDefault, nullptr);
    ::raise(signal);  // held back until we return
    errno = savedErrno;
    return;
  }
  for (int each : kEndSignals) {
    struct sigaction current {};
    if (::sigaction(each, nullptr, &current) == 0 && current.sa_handler == onEndSignal) {
      ::sigaction(each, &byDefault, nullptr);
    }
  }
  gNotice->notify();
  errno = savedErrno;
}

}  // namespace

void catchEndSignals() {
  // A write to a host that has closed our output must fail, not end us: restores may be pending.
  std::signal(SIGPIPE, SIG_IGN);

  static const SelfPipe notice;
  if (notice.readFd() < 0) return;  // then the signals keep their default action
  gNotice = &notice;

  struct sigaction action {};
  action.sa_handler = onEndSignal;
  // The three are held back while one is handled, so a second one always meets the default
  // action; interrupted system calls go on.
  sigemptyset(&action.sa_mask);
  for (int signal : kEndSignals) sigaddset(&action.sa_mask, signal);
  action.sa_flags = SA_RESTART;
  for (int signal : kEndSignals) {
    struct sigaction inherited {};
    // `nohup` and a shell's background jobs start us with some of them ignored: keep that.
    if (::sigaction(signal, nullptr, &inherited) == 0 && inherited.sa_handler == SIG_IGN) continue;
    ::sigaction(signal, &action, nullptr);
  }
}

LoopHandle watchEndSignals(MainLoop& loop, Task onEnd) {
  if (gNotice == nullptr) return {};
  return loop.watchReadable(gNotice->readFd(), [onEnd = std::move(onEnd), done = false]() mutable {
    gNotice->drain();
    if (!std::exchange(done, true)) onEnd();
  });
}

}  // namespace deskagent
