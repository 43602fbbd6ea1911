#include "app/stdin_reader.hpp"

#include <cstring>
#include <vector>

namespace deskagent {

StdinReader::StdinReader(InputStream& input, Backlog& backlog,
                         std::function<void(InputLine)> onLine, std::function<void()> onEnd)
    : input_(input), backlog_(backlog), onLine_(std::move(onLine)), onEnd_(std::move(onEnd)) {}

StdinReader::~StdinReader() {
  stop();
  join();
}

void StdinReader::start() {
  thread_ = std::thread([this] { run(); });
}

void StdinReader::stop() {
  // The backlog's only waiter is this reader.
  backlog_.stop();
  input_.interrupt();
}

void StdinReader::join() {
  if (thread_.joinable()) thread_.join();
}

void StdinReader::run() {
  std::vector<char> chunk(64 * 1024);
  std::string line;
  bool discarding = false;  // inside a line that grew past the limit
  bool writerGone = false;
  auto mayOverrun = [&] { return writerGone || (writerGone = input_.writerGone()); };
  // Hands the line on; false once stopped while waiting for room.
  auto finishLine = [&] {
    bool keep = !discarding;
    InputLine clean;
    if (keep) clean.appendSanitized(line);
    line.clear();
    // One huge line must not keep its memory for the rest of the process, nor while the loop
    // parses its copy.
    if (line.capacity() > (1u << 20)) line.shrink_to_fit();
    discarding = false;
    if (!keep) return true;
    if (!backlog_.admit(clean.size(), mayOverrun)) return false;
    onLine_(std::move(clean));
    return true;
  };
  bool reading = true;
  while (reading) {
    std::size_t n = input_.read(chunk.data(), chunk.size());
    if (n == 0) break;
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
      if (!finishLine()) {
        reading = false;
        break;
      }
      p = newline + 1;
    }
  }
  if (reading && !line.empty() && !discarding) finishLine();
  onEnd_();
}

}  // namespace deskagent
