#include "agent/watcher.hpp"

#include <chrono>
#include <utility>

#include "agent/agent.hpp"
#include "agent/permissions.hpp"
#include "agent/protocol.hpp"
#include "platform/modifier_keys.hpp"

namespace deskagent {

namespace {

constexpr Duration kRetryInterval = delays::kTapRetry;
constexpr Duration kAccessWatchInterval = delays::kAccessWatch;

// Reaches the watcher through the agent at every event rather than holding it, so a tap never
// keeps a watcher alive or talks to one that has been replaced.
void onTapEvent(Agent& agent, platform::TapEventType type, const platform::KeyboardEvent& event) {
  ModifierWatcher* watcher = agent.watcher.get();
  if (watcher == nullptr) return;
  switch (type) {
    case platform::TapEventType::disabledByTimeout:
    case platform::TapEventType::disabledByUserInput:
      watcher->reenableTap();
      break;
    case platform::TapEventType::flagsChanged:
      watcher->handle(event);
      break;
    case platform::TapEventType::other:
      break;
  }
}

platform::TapCallback tapCallback(Agent& agent) {
  return [&agent](platform::TapEventType type, const platform::KeyboardEvent& event) {
    onTapEvent(agent, type, event);
  };
}

}  // namespace

ModifierWatcher::ModifierWatcher(Agent& agent) : agent_(agent) {}

// A tap hears keys with Input Monitoring access, and, where the system grants as much to it
// (macOS), with Accessibility trust alone.
bool ModifierWatcher::tapCanHear(const PermissionsMap& permissions) const {
  if (permissions.at("inputMonitoring") == "yes") return true;
  return agent_.platform.trustLetsTapsHear() && permissions.at("accessibility") == "yes";
}

void ModifierWatcher::install() {
  platform::Platform& platform = agent_.platform;

  // A trial tap tells where the system grants one; it is let go at once, before any source.
  std::optional<platform::TapLocation> location;
  for (auto candidate : {platform::TapLocation::hid, platform::TapLocation::session}) {
    if (platform.createEventTap(candidate, tapCallback(agent_)) != nullptr) {
      location = candidate;
      break;
    }
  }

  // The grant can vanish between the trial and this creation; a tap that cannot deliver is
  // no tap either, so both end as a refusal with its retry.
  std::unique_ptr<platform::EventTap> newTap;
  std::unique_ptr<platform::RunLoopSource> newSource;
  if (location) newTap = platform.createEventTap(*location, tapCallback(agent_));
  if (newTap) newSource = platform.createRunLoopSource(*newTap);
  if (!newSource) {
    emit(agent_, Event{{"type", "tap"}, {"active", false}, {"reason", "permission"}});
    scheduleRetry();
    return;
  }

  newSource->addToMainLoop();
  newTap->enable(true);
  tap = std::move(newTap);
  runLoopSource = std::move(newSource);
  tapCouldHear = tapCanHear(currentPermissions(agent_.platform));
  retryTimer.reset();
  emit(agent_, Event{{"type", "tap"}, {"active", true}, {"listening", tapCouldHear}});
}

void ModifierWatcher::handle(const platform::KeyboardEvent& event) {
  // The key-code comparison comes first so that other keys cost no table look-up.
  if (!watchedKeyCode || event.keyCode != *watchedKeyCode) return;
  std::uint64_t downFlag = platform::downFlagOf(*watchedKeyCode);
  if (downFlag == 0) return;
  bool down = (event.flags & downFlag) != 0;
  if (down == isDown) return;
  isDown = down;
  emitKey(down);
}

void ModifierWatcher::scheduleRetry() {
  if (retryTimer) return;
  retryTimer = agent_.loop.startRepeating(kRetryInterval, [weak = weak_from_this()] {
    if (auto self = weak.lock()) self->retryTick();
  });
}

void ModifierWatcher::retryTick() {
  // Only a successful install() stops this timer; with no key watched a tick does nothing.
  if (watchedKeyCode && !tap) install();
}

void ModifierWatcher::reenableTap() {
  if (!tap) return;
  tap->enable(true);
  reconcileWithKeyboard();
}

void ModifierWatcher::startAccessWatch() {
  if (accessTimer) return;
  tapCouldHear = tapCanHear(currentPermissions(agent_.platform));
  accessTimer = agent_.loop.startRepeating(kAccessWatchInterval, [weak = weak_from_this()] {
    if (auto self = weak.lock()) self->lookAtAccess();
  });
}

// The dialog may stay open for as long as the user takes. A second request meanwhile would only
// stack another call behind it.
void ModifierWatcher::requestListenAccess() {
  if (listenRequestOpen) return;
  listenRequestOpen = true;
  agent_.platform.requestListenEventAccess([weak = weak_from_this()] {
    if (auto self = weak.lock()) {
      self->listenRequestOpen = false;
      self->lookAtAccess();
    }
  });
}

void ModifierWatcher::lookAtAccess() {
  PermissionsMap probe = currentPermissions(agent_.platform);
  bool changed;
  {
    std::lock_guard lock(agent_.permissionLock);
    changed = probe != agent_.lastPermissions;
  }
  if (changed) emitPermissions(agent_);

  // A tap whose service went away (the display closed) hears nothing more. Let it go; while a
  // key is watched, the refusal and its retry take over until a tap can be had again.
  bool installedThisTick = false;
  if (tap && !tap->isValid()) {
    releaseTap();
    if (watchedKeyCode) {
      install();
      reconcileWithKeyboard();
      installedThisTick = true;
    }
  }

  if (!watchedKeyCode) return;
  bool canHear = tapCanHear(probe);
  if (canHear && !tapCouldHear) {
    rebuildTap(/*installAgain=*/!installedThisTick);
    return;
  }
  tapCouldHear = canHear;
  // The tap may have missed the release of a key reported "down": without access it may hear
  // nothing, and with it the system still drops what comes while the tap is stalled. The
  // keyboard itself tells when the release has come.
  reconcileWithKeyboard();
}

// A tap made before the access that lets it hear was granted may see nothing; one made after
// it does. One made (or refused) earlier in the same tick already came after the grant: a
// second attempt would only repeat its answer to the host.
void ModifierWatcher::rebuildTap(bool installAgain) {
  if (installAgain) {
    releaseTap();
    install();
    // isDown is kept rather than cleared: a "down" the host has seen must be followed by "up".
    reconcileWithKeyboard();
  }
  emitPermissions(agent_);
  tapCouldHear = true;
}

void ModifierWatcher::releaseTap() {
  if (runLoopSource) runLoopSource->removeFromMainLoop();
  if (tap) {
    tap->enable(false);
    tap->invalidate();
  }
  runLoopSource.reset();
  tap.reset();
}

// After a stretch in which the tap may have missed events, and at every look while a key is
// reported down, the keyboard itself says whether the watched key is still held. A release that was
// missed is reported now; a key still held keeps isDown, so its release is reported when it comes.
// Without a tap no release can come, so "up" goes out. The keyboard's state may lack the
// device-dependent bits (or be read without input access): the key counts as held while either its
// own bit or its kind's flag is set, because a false "up" would cut the user's hold short, while a
// missed one only waits for the next look.
void ModifierWatcher::reconcileWithKeyboard() {
  if (!isDown || !watchedKeyCode) return;
  std::uint64_t downFlag = platform::downFlagOf(*watchedKeyCode);
  if (downFlag == 0) return;
  std::uint64_t heldMask = downFlag | platform::kindFlagOf(*watchedKeyCode);
  if (tap && (agent_.platform.currentModifierFlags() & heldMask) != 0) return;
  isDown = false;
  emitKey(false);
}

void ModifierWatcher::emitKey(bool down) {
  emit(agent_,
       Event{{"type", "key"}, {"phase", down ? "down" : "up"}, {"keyCode", *watchedKeyCode}});
}

}  // namespace deskagent
