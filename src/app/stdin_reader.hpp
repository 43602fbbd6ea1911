#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <thread>

#include "agent/input_line.hpp"

namespace deskagent {

// Reads the host's commands line by line on a thread of its own, so a slow or silent host never
// holds up the main loop. Each line (without its line feed, ill-formed UTF-8 replaced by U+FFFD)
// goes to `onLine` and, at end of input, `onEnd` is called once; both run on the reader thread
// and are expected to post to the main loop.
class StdinReader {
 public:
  // Longer lines are dropped whole, read on to their line feed without being kept.
  static constexpr std::size_t kMaxLineBytes = 64u << 20;

  StdinReader(int fd, std::function<void(InputLine)> onLine, std::function<void()> onEnd);
  ~StdinReader();
  StdinReader(const StdinReader&) = delete;
  StdinReader& operator=(const StdinReader&) = delete;

  void start();
  void join();

 private:
  void run();

  int fd_;
  std::function<void(InputLine)> onLine_;
  std::function<void()> onEnd_;
  std::thread thread_;
};

}  // namespace deskagent
