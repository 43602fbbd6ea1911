#include "app/output.hpp"

#include <poll.h>
#include <unistd.h>

#include <cerrno>

namespace deskagent {

void writeAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n > 0) {
      bytes.remove_prefix(static_cast<std::size_t>(n));
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      // The host gave us a non-blocking pipe: wait until it drains, as a blocking write would.
      pollfd p{fd, POLLOUT, 0};
      ::poll(&p, 1, -1);
    } else {
      return;  // the host closed its end, or the fd is gone
    }
  }
}

}  // namespace deskagent
