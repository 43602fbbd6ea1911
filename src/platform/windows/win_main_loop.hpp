#pragma once

#include <windows.h>

#include "loop/task_loop.hpp"

namespace deskagent::platform::windows {

// The main loop on the Win32 message queue of the thread that makes it: posted tasks and timers
// as on every system, and between them the thread's messages, so the keyboard hook and the
// clipboard window are served on the same thread as everything else. It waits in
// MsgWaitForMultipleObjectsEx for a message, a post (an event) or the next deadline.
class WinMainLoop final : public TaskLoop {
 public:
  explicit WinMainLoop(Clock& clock);
  ~WinMainLoop() override;
  WinMainLoop(const WinMainLoop&) = delete;
  WinMainLoop& operator=(const WinMainLoop&) = delete;

 protected:
  void serveSources(std::optional<Duration> timeout) override;
  void wake() override;

 private:
  HANDLE wakeEvent_ = nullptr;
};

}  // namespace deskagent::platform::windows
