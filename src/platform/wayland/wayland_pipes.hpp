#pragma once

#include <functional>
#include <memory>
#include <string>

#include "loop/main_loop.hpp"
#include "platform/pasteboard.hpp"

namespace deskagent::platform::wayland {

// One type of a selection, read from its owner through a pipe as the data arrives, on the main
// loop: nothing waits on an owner. Ends with the bytes once the owner closes its end, or with
// why not (timedOut, overBudget, failed) by the limits; `done` then runs on a later turn, unless
// the read was dropped first.
class PipeRead {
 public:
  // Takes `fd`, the read end.
  PipeRead(MainLoop& loop, int fd, const PasteboardReadLimits& limits, PasteboardTypeCallback done);
  ~PipeRead();
  PipeRead(const PipeRead&) = delete;
  PipeRead& operator=(const PipeRead&) = delete;

  bool finished() const { return fd_ < 0; }

 private:
  void onReadable();
  void finish(PasteboardTypeRead result);

  MainLoop& loop_;
  int fd_;
  PasteboardReadLimits limits_;
  PasteboardTypeCallback done_;
  std::string data_;
  LoopHandle watch_;
  LoopHandle timeout_;
  // Cleared when the read is dropped: a `done` already posted then does not run.
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

// Our content, written to a reader's pipe as fast as it takes it, on the main loop, to the end:
// a slow reader gets all of it (as from wl-copy) and holds up nothing. One that takes nothing
// for a long while has stopped reading, and one that closes its end is done.
class PipeWrite {
 public:
  // Takes `fd`, the write end. `done`, where given, is told at the end whether all was written.
  PipeWrite(MainLoop& loop, int fd, Bytes data, std::function<void(bool whole)> done = {});
  ~PipeWrite();
  PipeWrite(const PipeWrite&) = delete;
  PipeWrite& operator=(const PipeWrite&) = delete;

  bool finished() const { return fd_ < 0; }

 private:
  void onWritable();
  void finish();

  MainLoop& loop_;
  int fd_;
  Bytes data_;
  std::function<void(bool)> done_;
  std::size_t written_ = 0;
  TimePoint lastProgress_;
  LoopHandle watch_;
  LoopHandle stallCheck_;
};

}  // namespace deskagent::platform::wayland
