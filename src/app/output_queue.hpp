#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "app/backlog.hpp"

namespace deskagent {

// Event lines on their way to the host. The loop hands each line over without waiting; a
// writer thread of the queue's own writes them in order, each with one call of `write`, for as
// long as the host takes them. A host that stops reading holds up that thread alone: the loop
// goes on serving keys, timers and the clipboard.
class OutputQueue {
 public:
  // Writes a whole line to the host, however long that takes; gives up quietly when it cannot.
  using Write = std::function<void(std::string_view line)>;
  // Writes the whole line at once if that cannot wait, and then returns true; otherwise writes
  // nothing and returns false.
  using TryWrite = std::function<bool(std::string_view line)>;

  // Every line held counts towards `backlog`, which must outlive finish(). With `tryWrite`, a
  // line that finds nothing queued before it is written at once, without the writer thread's
  // hand-off (it is the common case, and the shortest way to the host).
  OutputQueue(Backlog& backlog, Write write, TryWrite tryWrite = {});
  ~OutputQueue();
  OutputQueue(const OutputQueue&) = delete;
  OutputQueue& operator=(const OutputQueue&) = delete;

  // Queues one line (line feed included). Any thread; never waits.
  void push(std::string line);

  // Waits until every queued line is written, or until `deadline`. Lines still unwritten then
  // are dropped, and a write still under way is left to the end of the process: the writer
  // never touches the backlog again. True when everything was written.
  bool finish(std::chrono::steady_clock::time_point deadline);

 private:
  struct State;
  std::shared_ptr<State> state_;  // shared with the writer thread, which may outlive us
};

}  // namespace deskagent
