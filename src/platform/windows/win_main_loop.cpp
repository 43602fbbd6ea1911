#include "platform/windows/win_main_loop.hpp"

#include <chrono>

namespace deskagent::platform::windows {
namespace {

constexpr int kMessagesPerTurn = 256;

}  // namespace

WinMainLoop::WinMainLoop(Clock& clock) : TaskLoop(clock) {
  // Auto-reset: one wait ends per wake-up, and the posted queue is looked at after every wait.
  wakeEvent_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
}

WinMainLoop::~WinMainLoop() {
  if (wakeEvent_ != nullptr) CloseHandle(wakeEvent_);
}

void WinMainLoop::wake() {
  if (wakeEvent_ != nullptr) SetEvent(wakeEvent_);
}

void WinMainLoop::serveSources(std::optional<Duration> timeout) {
  DWORD ms = INFINITE;
  if (timeout) {
    // Round up, so the loop never wakes just before a deadline and spins.
    auto rounded = std::chrono::ceil<std::chrono::milliseconds>(*timeout).count();
    ms = rounded >= static_cast<long long>(INFINITE) ? INFINITE - 1 : static_cast<DWORD>(rounded);
  }
  if (ms != 0) {
    // A post between the decision to wait and the wait has set the event: it ends the wait.
    // MWMO_INPUTAVAILABLE: messages already in the queue end it too, not only new ones.
    DWORD handleCount = wakeEvent_ != nullptr ? 1 : 0;
    MsgWaitForMultipleObjectsEx(handleCount, &wakeEvent_, ms, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    // The wait may have been long: what the messages schedule counts from when they run.
    updateNow();
  }
  // Sent messages (the low-level keyboard hook's calls among them) are served inside PeekMessage.
  // A bounded batch per turn, so a flood of messages never starves the tasks and timers.
  MSG msg;
  for (int i = 0; i < kMessagesPerTurn && PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE); ++i) {
    if (msg.message == WM_QUIT) continue;  // the loop ends with the host's input, not a message
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

}  // namespace deskagent::platform::windows
