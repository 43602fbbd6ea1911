#include "app/stdin_reader.hpp"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace deskagent {

StdinReader::StdinReader(int fd, std::function<void(InputLine)> onLine, std::function<void()> onEnd)
    : fd_(fd), onLine_(std::move(onLine)), onEnd_(std::move(onEnd)) {}

StdinReader::~StdinReader() {
  join();
}

void StdinReader::start() {
  thread_ = std::thread([this] { run(); });
}

void StdinReader::join() {
  if (thread_.joinable()) thread_.join();
}

void StdinReader::run() {
  std::vector<char> chunk(64 * 1024);
  std::string line;
  bool discarding = false;  // inside a line that grew past the limit
  auto finishLine = [&] {
    InputLine clean;
    if (!discarding) clean.appendSanitized(line);
    line.clear();
    // One huge line must not keep its memory for the rest of the process, nor while the loop
    // parses its copy.
    if (line.capacity() > (1u << 20)) line.shrink_to_fit();
    if (!discarding) onLine_(std::move(clean));
    discarding = false;
  };
  for (;;) {
    ssize_t n = ::read(fd_, chunk.data(), chunk.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      // The host handed us a non-blocking pipe: wait for data as a blocking read would.
      pollfd p{fd_, POLLIN, 0};
      ::poll(&p, 1, -1);
      continue;
    }
    if (n <= 0) break;  // end of input; a read error counts as one
    const char* p = chunk.data();
    const char* end = p + n;
    while (p < end) {
      const char* newline = static_cast<const char*>(std::memchr(p, '\n', end - p));
      const char* stop = newline ? newline : end;
      if (!discarding) {
        if (line.size() + (stop - p) > kMaxLineBytes) {
          discarding = true;
          line.clear();
          line.shrink_to_fit();
        } else {
          line.append(p, stop);
        }
      }
      if (!newline) break;
      finishLine();
      p = newline + 1;
    }
  }
  if (!line.empty() && !discarding) finishLine();
  onEnd_();
}

}  // namespace deskagent
