#pragma once

namespace deskagent {

// A pipe that ends a wait in poll(2) or a run loop from another thread or a signal handler:
// notify() writes one byte and is async-signal-safe; drain() empties the pipe. Both ends are
// non-blocking and closed on exec.
class SelfPipe {
 public:
  SelfPipe();  // readFd() is -1 when no pipe could be made; notify() and drain() then do nothing
  ~SelfPipe();
  SelfPipe(const SelfPipe&) = delete;
  SelfPipe& operator=(const SelfPipe&) = delete;

  int readFd() const { return read_; }
  void notify() const;
  void drain() const;

 private:
  int read_ = -1;
  int write_ = -1;
};

}  // namespace deskagent
