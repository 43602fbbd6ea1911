#pragma once

#include <atomic>
#include <cstddef>
#include <functional>
#include <string>
#include <thread>

#include "agent/input_line.hpp"
#include "app/backlog.hpp"

namespace deskagent {

// The bytes the host writes to us, as each system gives them.
class InputStream {
 public:
  virtual ~InputStream() = default;
  // Up to `size` bytes, waiting for at least one; 0 at end of input, on an error and once
  // interrupted.
  virtual std::size_t read(char* buffer, std::size_t size) = 0;
  // Ends the read under way, if any, and every later one. Any thread.
  virtual void interrupt() = 0;
  // True once the host has closed its end: what is left to read is then no more than its pipe
  // held. Never waits.
  virtual bool writerGone() { return false; }
};

// Reads the host's commands line by line on a thread of its own, so a slow or silent host never
// holds up the main loop. Each line (without its line feed, ill-formed UTF-8 replaced by U+FFFD)
// is taken into `backlog`, waiting while that is full (unless the host has closed its end: then
// the rest, bounded by its pipe, is read on, or a host that stopped reading our output and then
// closed our input would wait for our exit for ever), and goes to `onLine`, which must release
// it from the backlog once handled. When reading ends (end of input or stop()), `onEnd` is called
// once. Both run on the reader thread and are expected to post to the main loop.
class StdinReader {
 public:
  // Longer lines are dropped whole, read on to their line feed without being kept.
  static constexpr std::size_t kMaxLineBytes = 64u << 20;

  StdinReader(InputStream& input, Backlog& backlog, std::function<void(InputLine)> onLine,
              std::function<void()> onEnd);
  ~StdinReader();
  StdinReader(const StdinReader&) = delete;
  StdinReader& operator=(const StdinReader&) = delete;

  void start();
  // Reads no further: lines not yet handed on are left unread. Any thread.
  void stop();
  void join();

 private:
  void run();

  InputStream& input_;
  Backlog& backlog_;
  std::function<void(InputLine)> onLine_;
  std::function<void()> onEnd_;
  std::thread thread_;
};

}  // namespace deskagent
