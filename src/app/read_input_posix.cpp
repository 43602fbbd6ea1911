#include <poll.h>
#include <unistd.h>

#include <cerrno>

#include "app/read_input.hpp"

namespace deskagent {

std::size_t readInput(int fd, char* buffer, std::size_t size) {
  for (;;) {
    ssize_t n = ::read(fd, buffer, size);
    if (n > 0) return static_cast<std::size_t>(n);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      pollfd p{fd, POLLIN, 0};
      ::poll(&p, 1, -1);
      continue;
    }
    return 0;
  }
}

}  // namespace deskagent
