#include <windows.h>

#include <mutex>
#include <utility>

#include "app/end_signals.hpp"

namespace deskagent {
namespace {

// The system ends a process about 5 s after a close, logoff or shutdown event; by then every
// transfer has usually finished (a restore comes within 2 s of its chord).
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
// loop. Ctrl+C and Ctrl+Break are then handled, and the agent ends as at the end of its input,
// however long its last restore takes. After the others the system ends the process once this
// returns, so it stays; should the agent not have ended by the end of the grace, the process
// ends from here.
BOOL WINAPI onConsoleEvent(DWORD event) {
  {
    std::lock_guard lock(gMutex);
    if (++gEvents > 1) ExitProcess(0);  // a second request ends the process at once
    deliver();
  }
  if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT) return TRUE;
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
