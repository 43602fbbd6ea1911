#include "loop/self_pipe_unix.hpp"

#include <fcntl.h>
#include <unistd.h>

namespace deskagent {

SelfPipe::SelfPipe() {
  int fds[2];
  if (::pipe(fds) != 0) return;
  for (int fd : fds) {
    ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
  }
  read_ = fds[0];
  write_ = fds[1];
}

SelfPipe::~SelfPipe() {
  if (read_ >= 0) ::close(read_);
  if (write_ >= 0) ::close(write_);
}

void SelfPipe::notify() const {
  // A full pipe already holds a wake-up: the byte that does not fit is not missed.
  if (write_ < 0) return;
  char byte = 1;
  [[maybe_unused]] auto n = ::write(write_, &byte, 1);
}

void SelfPipe::drain() const {
  if (read_ < 0) return;
  char buffer[64];
  while (::read(read_, buffer, sizeof buffer) > 0) {
  }
}

}  // namespace deskagent
