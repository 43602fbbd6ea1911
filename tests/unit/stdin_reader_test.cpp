// The reader hands on every line unchanged but for ill-formed UTF-8, and ends once.

#include "app/stdin_reader.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace deskagent {
namespace {

// Every line the reader hands on for `input`; it must signal the end exactly once.
std::vector<std::string> readAll(const std::string& input) {
  int fds[2];
  EXPECT_EQ(::pipe(fds), 0);
  std::vector<std::string> lines;
  int ends = 0;
  StdinReader reader(
      fds[0], [&](InputLine line) { lines.emplace_back(line.consumeBegin(), line.consumeEnd()); },
      [&] { ++ends; });
  reader.start();
  EXPECT_EQ(::write(fds[1], input.data(), input.size()), static_cast<ssize_t>(input.size()));
  ::close(fds[1]);
  reader.join();
  ::close(fds[0]);
  EXPECT_EQ(ends, 1);
  return lines;
}

TEST(StdinReader, HandsOnEveryLineAsItCameAndEndsOnce) {
  EXPECT_EQ(readAll("a\n\n  b \r\n\xff{}\nlast"),
            (std::vector<std::string>{"a", "", "  b \r", "\xef\xbf\xbd{}", "last"}));
  EXPECT_TRUE(readAll("").empty());
}

}  // namespace
}  // namespace deskagent
