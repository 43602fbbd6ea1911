#include <windows.h>

#include <mutex>
#include <utility>

#include "app/end_signals.hpp"

namespace deskagent {
namespace {

// The system ends a process this long after a close, logoff or shutdown event at the latest; by
// then every transfer has finished (a restore comes within 2 s).
constexpr DWORD kGraceMs = 4500;

std::mutex gMutex;
MainLoop* gLoop = nullptr;
Task gOnEnd;
int gEvents = 0;

void deliver() {
  if (gLoop != nullptr && gOnEnd) gLoop->post(std::exchange(gOnEnd, nullptr));
}

// Console control events (Ctrl+C, Ctrl+Break, the console closing, logoff, shutdown) run this on a
// thread the system starts for each. It does no work of the agent's: it hands the request to the
// loop, then stays, so the process is not ended under the agent when it returns; should the agent
// not have ended by the end of the grace, the process ends from here.
BOOL WINAPI onConsoleEvent(DWORD) {
  {
    std::lock_guard lock(gMutex);
    if (++gEvents > 1) ExitProcess(0);  // a second request ends the process at once
    deliver();
  }
  Sleep(kGraceMs);
  ExitProcess(0);
}

}  // namespace

void catchEndSignals() {
  SetConsoleCtrlHandler(&onConsoleEvent, TRUE);
}

LoopHandle watchEndSignals(MainLoop& loop, Task onEnd) {
  std::lock_guard lock(gMutex);
  gLoop = &loop;
  gOnEnd = std::move(onEnd);
  if (gEvents > 0) deliver();  // a request made before the loop was there
  return {};
}

}  // namespace deskagent
