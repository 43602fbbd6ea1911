#include "platform/sim/sim_keyboard.hpp"

#include <algorithm>

#include "loop/main_loop.hpp"
#include "platform/modifier_keys.hpp"
#include "platform/sim/sim_platform.hpp"

namespace deskagent::platform {

namespace {

// NX_NONCOALSESCEDMASK: the system sets it on every event and in the flags state.
constexpr std::uint64_t kFlagNonCoalesced = 0x100;

bool changesFlags(std::int64_t keyCode) {
  return downFlagOf(keyCode) != 0;
}

}  // namespace

// Shared by the tap, its source and the events in flight to it, so that each can tell whether
// the others are still there.
struct SimTapState {
  TapLocation location;
  TapCallback callback;
  bool tapAlive = true;
  bool enabled = true;  // taps are created enabled
  bool invalidated = false;
  bool sourceAdded = false;

  // Whether the tap's port still delivers to the main loop at all.
  bool connected() const { return tapAlive && !invalidated && sourceAdded; }
  bool listening() const { return connected() && enabled; }
};

namespace {

class SimEventTap final : public EventTap {
 public:
  explicit SimEventTap(std::shared_ptr<SimTapState> state) : state_(std::move(state)) {}
  ~SimEventTap() override { state_->tapAlive = false; }

  void enable(bool on) override {
    if (!state_->invalidated) state_->enabled = on;
  }
  void invalidate() override {
    state_->invalidated = true;
    state_->enabled = false;
  }
  bool isValid() const override { return !state_->invalidated; }
  const std::shared_ptr<SimTapState>& state() const { return state_; }

 private:
  std::shared_ptr<SimTapState> state_;
};

// Unlike a real run-loop source, which the run loop keeps alive while it is added, releasing
// this one also takes it out: in tests nothing should deliver to an owner that let go of it.
class SimRunLoopSource final : public RunLoopSource {
 public:
  explicit SimRunLoopSource(std::shared_ptr<SimTapState> state) : state_(std::move(state)) {}
  ~SimRunLoopSource() override { state_->sourceAdded = false; }

  void addToMainLoop() override { state_->sourceAdded = true; }
  void removeFromMainLoop() override { state_->sourceAdded = false; }

 private:
  std::shared_ptr<SimTapState> state_;
};

}  // namespace

std::unique_ptr<EventTap> SimKeyboard::createTap(TapLocation location, TapCallback callback) {
  locationsTried.push_back(location);
  bool granted = location == TapLocation::hid ? hidGrantsTaps : sessionGrantsTaps;
  if (tapsLeftToGrant && *tapsLeftToGrant <= 0) granted = false;
  if (!granted) return nullptr;
  if (tapsLeftToGrant) --*tapsLeftToGrant;
  ++tapsCreated;

  std::erase_if(taps_, [](const auto& tap) { return !tap->tapAlive; });
  auto state = std::make_shared<SimTapState>(SimTapState{location, std::move(callback)});
  taps_.push_back(state);
  return std::make_unique<SimEventTap>(std::move(state));
}

std::unique_ptr<RunLoopSource> SimKeyboard::createSource(EventTap& tap) {
  auto* simTap = dynamic_cast<SimEventTap*>(&tap);
  if (simTap == nullptr) return nullptr;
  return std::make_unique<SimRunLoopSource>(simTap->state());
}

void SimKeyboard::post(const std::shared_ptr<SimTapState>& tap, TapEventType type,
                       const KeyboardEvent& event) {
  // The port is read on a later loop turn; by then the owner may have taken the tap down.
  loop_.post([weak = std::weak_ptr<SimTapState>(tap), type, event] {
    auto state = weak.lock();
    if (state && state->connected()) state->callback(type, event);
  });
}

int SimKeyboard::loseTaps() {
  int lost = 0;
  for (const auto& tap : taps_) {
    if (!tap->tapAlive || tap->invalidated) continue;
    tap->invalidated = true;
    tap->enabled = false;
    ++lost;
  }
  return lost;
}

int SimKeyboard::disableTaps(TapEventType reason) {
  int disabled = 0;
  for (const auto& tap : taps_) {
    if (!tap->tapAlive || !tap->enabled || tap->invalidated) continue;
    tap->enabled = false;
    ++disabled;
    post(tap, reason, KeyboardEvent{});
  }
  return disabled;
}

bool SimKeyboard::press(std::int64_t keyCode) {
  if (!held_.insert(keyCode).second) return false;
  if (keyCode == kMacCapsLock) capsLockOn_ = !capsLockOn_;
  if (changesFlags(keyCode)) modifierChanged(keyCode);
  return true;
}

bool SimKeyboard::release(std::int64_t keyCode) {
  if (held_.erase(keyCode) == 0) return false;
  if (changesFlags(keyCode)) modifierChanged(keyCode);
  return true;
}

void SimKeyboard::modifierChanged(std::int64_t keyCode) {
  KeyboardEvent event{keyCode, eventFlags()};
  for (const auto& tap : taps_) {
    if (tap->listening() && !tapsDeaf) post(tap, TapEventType::flagsChanged, event);
  }
}

std::uint64_t SimKeyboard::eventFlags() const {
  HeldModifiers held;
  for (std::int64_t keyCode : held_) held.set(keyCode, true);
  return kFlagNonCoalesced | modifierFlags(held, capsLockOn_);
}

std::uint64_t SimKeyboard::currentFlags() const {
  std::uint64_t flags = eventFlags();
  if (!stateHasDeviceBits) {
    for (const auto& key : kModifierKeys) flags &= ~key.deviceBit;
  }
  return flags;
}

int SimKeyboard::liveTaps() const {
  return static_cast<int>(
      std::count_if(taps_.begin(), taps_.end(), [](const auto& tap) { return tap->tapAlive; }));
}

int SimKeyboard::listeningTaps() const {
  return static_cast<int>(
      std::count_if(taps_.begin(), taps_.end(), [](const auto& tap) { return tap->listening(); }));
}

// --- SimPlatform's tap service and keyboard state ---

std::unique_ptr<EventTap> SimPlatform::createEventTap(TapLocation location, TapCallback callback) {
  return keyboard_.createTap(location, std::move(callback));
}

std::unique_ptr<RunLoopSource> SimPlatform::createRunLoopSource(EventTap& tap) {
  return keyboard_.createSource(tap);
}

std::uint64_t SimPlatform::currentModifierFlags() {
  return keyboard_.currentFlags();
}

}  // namespace deskagent::platform
