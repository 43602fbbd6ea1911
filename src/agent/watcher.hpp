#pragma once

#include <cstdint>
#include <memory>
#include <optional>

#include "agent/permissions.hpp"
#include "loop/main_loop.hpp"
#include "platform/platform.hpp"

namespace deskagent {

struct Agent;

// Watches one modifier key through a listen-only tap and reports its presses and releases.
// Lives in a shared_ptr: its timers hold it weakly.
class ModifierWatcher : public std::enable_shared_from_this<ModifierWatcher> {
 public:
  explicit ModifierWatcher(Agent& agent);
  ModifierWatcher(const ModifierWatcher&) = delete;
  ModifierWatcher& operator=(const ModifierWatcher&) = delete;

  // Creates, installs and enables the tap, or reports the refusal and retries every 2.0 s.
  // Called only while there is no tap.
  void install();
  // One modifier-change event from the tap.
  void handle(const platform::KeyboardEvent& event);
  void scheduleRetry();
  // Starts the 1.5 s access watch; does nothing once it runs.
  void startAccessWatch();
  void observePermissions() { startAccessWatch(); }
  // Asks the system to ask the user for Input Monitoring access, unless a request is still open.
  // The answer is reported as the access watch reports a change, at once.
  void requestListenAccess();
  // The system turned the tap off (timeout or user input): turn it back on and catch up with
  // what the keyboard did meanwhile.
  void reenableTap();

  // Released in reverse order: timers first, then the source, then the tap.
  std::unique_ptr<platform::EventTap> tap;
  std::unique_ptr<platform::RunLoopSource> runLoopSource;
  LoopHandle retryTimer;
  LoopHandle accessTimer;
  bool tapCouldHear = false;
  bool listenRequestOpen = false;
  std::optional<std::int64_t> watchedKeyCode;
  bool isDown = false;

 private:
  void retryTick();
  void lookAtAccess();
  void rebuildTap(bool installAgain);
  void releaseTap();
  void reconcileWithKeyboard();
  void emitKey(bool down);
  bool tapCanHear(const PermissionsMap& permissions) const;

  Agent& agent_;
};

}  // namespace deskagent
