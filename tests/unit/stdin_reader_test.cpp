// The reader hands on every line unchanged but for ill-formed UTF-8, and ends once.

#include "app/stdin_reader.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace deskagent {
namespace {

std::vector<std::string> readAll(const std::string& input, int* ends) {
  int fds[2];
  EXPECT_EQ(::pipe(fds), 0);
  std::vector<std::string> lines;
  StdinReader reader(
      fds[0], [&](std::string line) { lines.push_back(std::move(line)); }, [&] { ++*ends; });
  reader.start();
  EXPECT_EQ(::write(fds[1], input.data(), input.size()), static_cast<ssize_t>(input.size()));
  ::close(fds[1]);
  reader.join();
  ::close(fds[0]);
  return lines;
}

TEST(StdinReader, HandsOnEveryLineAsItCame) {
  int ends = 0;
  auto lines = readAll("a\n\n  b \r\n\xff{}\nlast", &ends);
  EXPECT_EQ(lines, (std::vector<std::string>{"a", "", "  b \r", "\xef\xbf\xbd{}", "last"}));
  EXPECT_EQ(ends, 1);
}

TEST(StdinReader, EndsAtOnceOnEmptyInput) {
  int ends = 0;
  EXPECT_TRUE(readAll("", &ends).empty());
  EXPECT_EQ(ends, 1);
}

}  // namespace
}  // namespace deskagent
