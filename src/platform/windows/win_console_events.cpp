#include "platform/windows/win_console_events.hpp"

#include <windows.h>

#include <atomic>

namespace deskagent::platform::windows {
namespace {

// The system ends a process this long after a close, logoff or shutdown event at the latest.
constexpr DWORD kGraceMs = 4500;

std::atomic<MainLoop*> endingLoop{nullptr};
std::atomic<int> eventsSeen{0};
HANDLE finished = nullptr;

BOOL WINAPI onConsoleEvent(DWORD) {
  // Runs on a thread of its own that the system starts for the event.
  if (eventsSeen.fetch_add(1) > 0) ExitProcess(0);
  if (MainLoop* loop = endingLoop.load()) loop->quitWhenIdle();
  // Standard input may never end: once the loop is done, the process ends from here.
  WaitForSingleObject(finished, kGraceMs);
  ExitProcess(0);
}

}  // namespace

void endOnConsoleEvents(MainLoop& loop) {
  finished = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  endingLoop = &loop;
  SetConsoleCtrlHandler(&onConsoleEvent, TRUE);
}

void finishedAfterConsoleEvent() {
  if (finished != nullptr) SetEvent(finished);
}

}  // namespace deskagent::platform::windows
