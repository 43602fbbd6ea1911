// The reader hands on every line unchanged but for ill-formed UTF-8, ends once, and takes no
// line past the backlog's bound until the backlog has caught up.

#include "app/stdin_reader.hpp"

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

namespace deskagent {
namespace {

// Input given a piece at a time, then its end; or, once interrupted, nothing more.
class ScriptedInput final : public InputStream {
 public:
  explicit ScriptedInput(std::vector<std::string> pieces) : pieces_(std::move(pieces)) {}
  std::size_t read(char* buffer, std::size_t size) override {
    std::lock_guard lock(mutex_);
    if (interrupted_ || next_ == pieces_.size()) return 0;
    std::string& piece = pieces_[next_];
    std::size_t n = std::min(size, piece.size());
    std::copy_n(piece.data(), n, buffer);
    piece.erase(0, n);
    if (piece.empty()) ++next_;
    return n;
  }
  void interrupt() override {
    std::lock_guard lock(mutex_);
    interrupted_ = true;
  }

 private:
  std::mutex mutex_;
  std::vector<std::string> pieces_;
  std::size_t next_ = 0;
  bool interrupted_ = false;
};

// Every line the reader hands on for `input`, released as soon as it arrives; it must signal the
// end exactly once.
std::vector<std::string> readAll(std::vector<std::string> input) {
  ScriptedInput stream(std::move(input));
  Backlog backlog;
  std::vector<std::string> lines;
  int ends = 0;
  StdinReader reader(
      stream, backlog,
      [&](InputLine line) {
        backlog.release(line.size());
        lines.emplace_back(line.consumeBegin(), line.consumeEnd());
      },
      [&] { ++ends; });
  reader.start();
  reader.join();
  EXPECT_EQ(ends, 1);
  return lines;
}

TEST(StdinReader, HandsOnEveryLineAsItCameAndEndsOnce) {
  EXPECT_EQ(readAll({"a\n\n  b \r\n\xff{", "}\nla", "st"}),
            (std::vector<std::string>{"a", "", "  b \r", "\xef\xbf\xbd{}", "last"}));
  EXPECT_TRUE(readAll({}).empty());
}

// A backlog of two lines: the third waits until one is released; stop() ends a waiting reader,
// which hands on nothing more.
TEST(StdinReader, WaitsForTheBacklogAndStopsWhileWaiting) {
  ScriptedInput stream({"1\n2\n3\n4\n5\n"});
  Backlog backlog(1u << 20, 2);
  std::mutex mutex;
  std::condition_variable arrived;
  std::vector<std::string> lines;
  bool ended = false;
  StdinReader reader(
      stream, backlog,
      [&](InputLine line) {
        std::lock_guard lock(mutex);
        lines.emplace_back(line.consumeBegin(), line.consumeEnd());
        arrived.notify_all();
      },
      [&] {
        std::lock_guard lock(mutex);
        ended = true;
        arrived.notify_all();
      });
  reader.start();
  auto waitFor = [&](std::size_t count) {
    std::unique_lock lock(mutex);
    return arrived.wait_for(lock, std::chrono::seconds(10), [&] { return lines.size() >= count; });
  };
  ASSERT_TRUE(waitFor(2));
  // Below three quarters of two lines means empty: both are released before the third comes.
  backlog.release(1);
  backlog.release(1);
  ASSERT_TRUE(waitFor(4));
  reader.stop();
  reader.join();
  EXPECT_EQ(lines, (std::vector<std::string>{"1", "2", "3", "4"}));
  EXPECT_TRUE(ended);
}

}  // namespace
}  // namespace deskagent
