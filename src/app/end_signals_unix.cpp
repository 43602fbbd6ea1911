#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <utility>

#include "app/end_signals.hpp"

namespace deskagent {
namespace {

constexpr int kEndSignals[] = {SIGTERM, SIGINT, SIGHUP};

// The self-pipe: the handler only writes a byte, and the loop watches the other end.
int gNoticeRead = -1;
int gNoticeWrite = -1;

// Does no work of the agent's: puts the default action back, so that a second signal ends the
// process, and wakes the loop.
void onEndSignal(int) {
  int savedErrno = errno;
  struct sigaction byDefault {};
  byDefault.sa_handler = SIG_DFL;
  for (int signal : kEndSignals) {
    struct sigaction current {};
    if (::sigaction(signal, nullptr, &current) == 0 && current.sa_handler == onEndSignal) {
      ::sigaction(signal, &byDefault, nullptr);
    }
  }
  char byte = 1;
  [[maybe_unused]] auto n = ::write(gNoticeWrite, &byte, 1);
  errno = savedErrno;
}

}  // namespace

void catchEndSignals() {
  // A write to a host that has closed our output must fail, not end us: restores may be pending.
  std::signal(SIGPIPE, SIG_IGN);

  int fds[2];
  if (::pipe(fds) != 0) return;  // then the signals keep their default action
  for (int fd : fds) {
    ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
  }
  gNoticeRead = fds[0];
  gNoticeWrite = fds[1];

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
  if (gNoticeRead < 0) return {};
  return loop.watchReadable(gNoticeRead, [onEnd = std::move(onEnd), done = false]() mutable {
    char buffer[16];
    while (::read(gNoticeRead, buffer, sizeof buffer) > 0) {
    }
    if (!std::exchange(done, true)) onEnd();
  });
}

}  // namespace deskagent
