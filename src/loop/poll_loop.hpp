#pragma once

#include <functional>
#include <map>

#include "loop/self_pipe_unix.hpp"
#include "loop/task_loop.hpp"

namespace deskagent {

// The main loop on poll(2): the task loop with file-descriptor watches, woken through a pipe.
class PollLoop final : public TaskLoop {
 public:
  explicit PollLoop(Clock& clock) : TaskLoop(clock) {}
  PollLoop(const PollLoop&) = delete;
  PollLoop& operator=(const PollLoop&) = delete;

  LoopHandle watchReadable(int fd, Task onReadable, std::function<bool()> hasPending) override;
  LoopHandle watchWritable(int fd, Task onWritable) override;

 protected:
  void serveSources(std::optional<Duration> timeout) override;
  void wake() override;
  bool sourcesPending() override;
  bool cancelSource(TimerId id) override;

 private:
  struct Watch {
    int fd;
    short events;  // POLLIN or POLLOUT
    Task onReady;
    std::function<bool()> hasPending;
  };

  std::map<TimerId, Watch> watches_;
  SelfPipe wake_;
};

}  // namespace deskagent
