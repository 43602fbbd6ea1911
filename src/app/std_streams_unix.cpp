#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <climits>

#include "app/std_streams.hpp"
#include "loop/self_pipe_unix.hpp"

namespace deskagent {
namespace {

// Reads wait in poll(2) beside a pipe of our own, so that interrupt() ends a read that would
// otherwise wait for a host that writes nothing more.
class StandardInput final : public InputStream {
 public:
  std::size_t read(char* buffer, std::size_t size) override {
    for (;;) {
      // A host may hand us a non-blocking pipe: waiting here first serves both kinds.
      pollfd fds[2] = {{STDIN_FILENO, POLLIN, 0}, {interrupt_.readFd(), POLLIN, 0}};
      if (::poll(fds, interrupt_.readFd() >= 0 ? 2 : 1, -1) < 0) {
        if (errno == EINTR) continue;
        return 0;
      }
      if (fds[1].revents != 0) return 0;
      ssize_t n = ::read(STDIN_FILENO, buffer, size);
      if (n > 0) return static_cast<std::size_t>(n);
      if (n < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) continue;
      return 0;  // end of input; a read error counts as one
    }
  }

  bool writerGone() override {
    pollfd p{STDIN_FILENO, POLLIN, 0};
    return ::poll(&p, 1, 0) == 1 && (p.revents & POLLHUP) != 0;
  }

  void interrupt() override { interrupt_.notify(); }

 private:
  SelfPipe interrupt_;
};

}  // namespace

void holdStandardStreams() {
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    // The lowest free number: this one, the ones below it being open by now. A closed input
    // then ends at once, as an empty one does.
    int opened = ::open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
    if (opened >= 0 && opened != fd) ::close(opened);
  }
}

std::unique_ptr<InputStream> openStandardInput() {
  return std::make_unique<StandardInput>();
}

void writeToStandardOutput(std::string_view line) {
  while (!line.empty()) {
    ssize_t n = ::write(STDOUT_FILENO, line.data(), line.size());
    if (n > 0) {
      line.remove_prefix(static_cast<std::size_t>(n));
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      // The host gave us a non-blocking pipe: wait until it drains, as a blocking write would.
      pollfd p{STDOUT_FILENO, POLLOUT, 0};
      ::poll(&p, 1, -1);
    } else {
      return;  // the host closed its end, or the fd is gone
    }
  }
}

bool writeToStandardOutputAtOnce(std::string_view line) {
  // A pipe that polls writable has room for PIPE_BUF bytes, and a write of at most that many
  // goes in whole or not at all.
  if (line.size() > PIPE_BUF) return false;
  pollfd p{STDOUT_FILENO, POLLOUT, 0};
  if (::poll(&p, 1, 0) != 1 || (p.revents & POLLOUT) == 0) return false;
  ssize_t n = ::write(STDOUT_FILENO, line.data(), line.size());
  if (n < 0) return errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR;  // gone: as written
  // A terminal or socket may take a part; the rest is short.
  writeToStandardOutput(line.substr(static_cast<std::size_t>(n)));
  return true;
}

}  // namespace deskagent
