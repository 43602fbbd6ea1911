#include <windows.h>

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/std_streams.hpp"

namespace deskagent {
namespace {

// Reads the standard input handle with ReadFile. A pipe whose writer has closed its end fails
// with ERROR_BROKEN_PIPE; a file, a console (Ctrl+Z) or a writer's zero-byte write reads zero
// bytes. Each ends the input, as do errors.
//
// The blocking ReadFile runs on a thread of its own that hands each chunk over and reads the next
// only once it has been taken, so the backlog's hold on reading still reaches the pipe. A read
// waits for that hand-off, which interrupt() can end: a ReadFile cannot be relied on to be
// cancelled (CancelSynchronousIo has no effect on pipes under Wine), so the thread left in it
// simply ends with the process.
class StandardInput final : public InputStream {
 public:
  StandardInput() : shared_(std::make_shared<Shared>()) {}
  ~StandardInput() override { interrupt(); }

  std::size_t read(char* buffer, std::size_t size) override {
    std::unique_lock lock(shared_->mutex);
    if (!started_) {
      started_ = true;
      std::thread(readHandle, shared_).detach();
    }
    shared_->changed.wait(
        lock, [&] { return shared_->interrupted || shared_->ended || !shared_->chunk.empty(); });
    if (shared_->interrupted || shared_->chunk.empty()) return 0;
    std::size_t n = std::min(size, shared_->chunk.size());
    std::memcpy(buffer, shared_->chunk.data(), n);
    shared_->chunk.erase(0, n);
    if (shared_->chunk.empty()) shared_->changed.notify_all();  // the next ReadFile may start
    return n;
  }

  void interrupt() override {
    std::lock_guard lock(shared_->mutex);
    shared_->interrupted = true;
    shared_->changed.notify_all();
  }

 private:
  struct Shared {
    std::mutex mutex;
    std::condition_variable changed;
    std::string chunk;  // read and not yet taken
    bool ended = false;
    bool interrupted = false;
  };

  static void readHandle(std::shared_ptr<Shared> shared) {
    HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    std::vector<char> buffer(64 * 1024);
    for (;;) {
      DWORD n = 0;
      bool ok = input != nullptr && input != INVALID_HANDLE_VALUE &&
                ReadFile(input, buffer.data(), static_cast<DWORD>(buffer.size()), &n, nullptr);
      std::unique_lock lock(shared->mutex);
      if (!ok || n == 0) {
        shared->ended = true;
        shared->changed.notify_all();
        return;
      }
      shared->chunk.assign(buffer.data(), n);
      shared->changed.notify_all();
      shared->changed.wait(lock, [&] { return shared->interrupted || shared->chunk.empty(); });
      if (shared->interrupted) return;
    }
  }

  std::shared_ptr<Shared> shared_;
  bool started_ = false;
};

HANDLE standardOutput() {
  return GetStdHandle(STD_OUTPUT_HANDLE);
}

}  // namespace

// Windows names the standard streams by handle, not by a number the next open may take: one the
// host did not give is null, which reads as an end of input and is never written.
void holdStandardStreams() {}

std::unique_ptr<InputStream> openStandardInput() {
  return std::make_unique<StandardInput>();
}

// Straight to the handle, never through the C runtime's text mode: no "\r\n" for "\n", and a
// 0x1A byte is just a byte.
void writeToStandardOutput(std::string_view line) {
  HANDLE out = standardOutput();
  if (out == nullptr || out == INVALID_HANDLE_VALUE) return;
  while (!line.empty()) {
    DWORD chunk = line.size() > 0x10000000 ? 0x10000000 : static_cast<DWORD>(line.size());
    DWORD n = 0;
    if (!WriteFile(out, line.data(), chunk, &n, nullptr) || n == 0) return;  // the host is gone
    line.remove_prefix(n);
  }
}

// An anonymous pipe cannot say whether it has room without a write that may wait: every line
// goes through the writer thread.
bool writeToStandardOutputAtOnce(std::string_view) {
  return false;
}

}  // namespace deskagent
