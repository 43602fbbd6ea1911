#include "platform/wayland/wayland_pipes.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <utility>

namespace deskagent::platform::wayland {

namespace {

// What one turn of the loop moves through a pipe at most, so that a fast owner or reader of a
// large content does not hold up a key event meanwhile.
constexpr std::size_t kTurnBytes = std::size_t{1} << 20;
// A reader that takes nothing of our data for this long has stopped reading.
constexpr auto kReaderStalled = std::chrono::seconds(30);
constexpr auto kStallCheck = std::chrono::seconds(5);

void makeNonBlocking(int fd) {
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
}

}  // namespace

PipeRead::PipeRead(MainLoop& loop, int fd, const PasteboardReadLimits& limits,
                   PasteboardTypeCallback done)
    : loop_(loop), fd_(fd), limits_(limits), done_(std::move(done)) {
  makeNonBlocking(fd_);
  watch_ = loop_.watchReadable(fd_, [this] { onReadable(); });
  timeout_ = LoopHandle(&loop_, loop_.postDelayed(limits_.firstAnswer, [this] {
    finish({{}, PasteboardReadError::timedOut});
  }));
}

PipeRead::~PipeRead() {
  *alive_ = false;
  if (fd_ >= 0) ::close(fd_);
}

void PipeRead::onReadable() {
  char buffer[65536];
  std::size_t taken = 0;
  while (taken < kTurnBytes) {
    ssize_t n = ::read(fd_, buffer, sizeof(buffer));
    if (n == 0) {
      finish({std::move(data_), {}});  // the owner has written it all
      return;
    }
    if (n < 0) {
      if (errno == EINTR) continue;
      if (errno != EAGAIN) finish({{}, PasteboardReadError::failed});
      break;
    }
    if (data_.size() + static_cast<std::size_t>(n) > limits_.maxBytes) {
      finish({{}, PasteboardReadError::overBudget});
      return;
    }
    data_.append(buffer, static_cast<std::size_t>(n));
    taken += static_cast<std::size_t>(n);
  }
  // An owner that has started gets the silence bound from its last bytes on.
  if (taken > 0 && !finished()) {
    timeout_ = LoopHandle(&loop_, loop_.postDelayed(limits_.silence, [this] {
      finish({{}, PasteboardReadError::timedOut});
    }));
  }
}

void PipeRead::finish(PasteboardTypeRead result) {
  if (finished()) return;
  ::close(std::exchange(fd_, -1));
  watch_.reset();
  timeout_.reset();
  loop_.post([alive = alive_, done = std::move(done_), result = std::move(result)] {
    if (*alive) done(result);
  });
}

PipeWrite::PipeWrite(MainLoop& loop, int fd, Bytes data, std::function<void(bool whole)> done)
    : loop_(loop),
      fd_(fd),
      data_(std::move(data)),
      done_(std::move(done)),
      lastProgress_(loop.now()) {
  makeNonBlocking(fd_);
  onWritable();  // what the pipe takes at once
  if (!finished()) watch_ = loop_.watchWritable(fd_, [this] { onWritable(); });
}

PipeWrite::~PipeWrite() {
  if (fd_ >= 0) ::close(fd_);
}

void PipeWrite::onWritable() {
  std::size_t moved = 0;
  while (written_ < data_.size() && moved < kTurnBytes) {
    std::size_t chunk = std::min(data_.size() - written_, kTurnBytes - moved);
    ssize_t n = ::write(fd_, data_.data() + written_, chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EAGAIN) break;
    if (n <= 0) {
      finish();  // the reader closed its end
      return;
    }
    written_ += static_cast<std::size_t>(n);
    moved += static_cast<std::size_t>(n);
  }
  if (written_ == data_.size()) {
    finish();
    return;
  }
  if (moved > 0) lastProgress_ = loop_.now();
  // A repeating look, not a delayed task: the agent's exit does not wait for a slow reader.
  if (!stallCheck_) {
    stallCheck_ = loop_.startRepeating(kStallCheck, [this] {
      if (loop_.now() - lastProgress_ >= kReaderStalled) finish();
    });
  }
}

void PipeWrite::finish() {
  if (finished()) return;
  ::close(std::exchange(fd_, -1));
  watch_.reset();
  stallCheck_.reset();
  const bool whole = written_ == data_.size();
  data_ = Bytes();
  if (auto done = std::exchange(done_, {})) done(whole);
}

}  // namespace deskagent::platform::wayland
