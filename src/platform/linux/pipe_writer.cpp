#include "platform/linux/pipe_writer.hpp"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>

namespace deskagent::platform {

int remainingMs(std::chrono::steady_clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
      deadline - std::chrono::steady_clock::now());
  return static_cast<int>(std::max<std::int64_t>(0, left.count()));
}

bool writeWhole(int fd, const std::string& data, std::chrono::milliseconds patience) {
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
  const auto deadline = std::chrono::steady_clock::now() + patience;
  std::size_t at = 0;
  while (at < data.size()) {
    ssize_t n = ::write(fd, data.data() + at, data.size() - at);
    if (n > 0) {
      at += static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN) return false;  // the reader closed its end
    pollfd p{fd, POLLOUT, 0};
    if (::poll(&p, 1, remainingMs(deadline)) <= 0) return false;
  }
  return true;
}

}  // namespace deskagent::platform
