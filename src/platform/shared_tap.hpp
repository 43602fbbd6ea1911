#pragma once

// The event tap, its run-loop source and the synthetic key events of a backend whose taps all
// hear through one listener of its own (an XInput 2 selection, a keyboard hook, input devices).
// `Core` is that backend's shared state, held in a shared_ptr so that a tap outliving it finds it
// gone; it provides
//   void updateListening();                               a tap's state changed
//   bool tapCanHear(const SharedTapState& tap) const;     whether events can reach the tap at all
//   void postSyntheticKey(std::uint16_t keyCode, bool down, std::uint64_t flags);

#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "loop/main_loop.hpp"
#include "platform/platform.hpp"

namespace deskagent::platform {

struct SharedTapState {
  explicit SharedTapState(TapCallback cb) : callback(std::move(cb)) {}
  TapCallback callback;
  bool enabled = false;
  bool added = false;  // its run-loop source is on the main loop
  bool invalidated = false;
  bool listening() const { return enabled && added && !invalidated; }
};

// Hands an event to every listening tap on a later turn of the loop (the listener may be called
// from inside a hook or a read); a tap that stops listening meanwhile does not hear it.
inline void postToListeningTaps(MainLoop& loop,
                                const std::vector<std::weak_ptr<SharedTapState>>& taps,
                                TapEventType type, const KeyboardEvent& event) {
  for (const auto& weak : taps) {
    auto tap = weak.lock();
    if (!tap || !tap->listening()) continue;
    loop.post([weak, type, event] {
      if (auto t = weak.lock(); t && t->listening()) t->callback(type, event);
    });
  }
}

template <class Core>
class SharedEventTap final : public EventTap {
 public:
  SharedEventTap(std::weak_ptr<Core> core, std::shared_ptr<SharedTapState> state)
      : core_(std::move(core)), state_(std::move(state)) {}
  ~SharedEventTap() override { invalidate(); }

  void enable(bool on) override {
    if (state_->invalidated) return;
    state_->enabled = on;
    update();
  }
  void invalidate() override {
    state_->invalidated = true;
    update();
  }
  bool isValid() const override {
    auto core = core_.lock();
    return core && !state_->invalidated && core->tapCanHear(*state_);
  }

  const std::shared_ptr<SharedTapState>& state() const { return state_; }

 private:
  void update() {
    if (auto core = core_.lock()) core->updateListening();
  }

  std::weak_ptr<Core> core_;
  std::shared_ptr<SharedTapState> state_;
};

template <class Core>
class SharedRunLoopSource final : public RunLoopSource {
 public:
  SharedRunLoopSource(std::weak_ptr<Core> core, std::shared_ptr<SharedTapState> state)
      : core_(std::move(core)), state_(std::move(state)) {}

  void addToMainLoop() override { setAdded(true); }
  void removeFromMainLoop() override { setAdded(false); }

 private:
  void setAdded(bool added) {
    state_->added = added;
    if (auto core = core_.lock()) core->updateListening();
  }

  std::weak_ptr<Core> core_;
  std::shared_ptr<SharedTapState> state_;
};

// The source of a tap made by the same backend; null for any other tap.
template <class Core>
std::unique_ptr<RunLoopSource> makeSharedRunLoopSource(const std::shared_ptr<Core>& core,
                                                       EventTap& tap) {
  auto* ours = dynamic_cast<SharedEventTap<Core>*>(&tap);
  if (ours == nullptr) return nullptr;
  return std::make_unique<SharedRunLoopSource<Core>>(core, ours->state());
}

// For synthetic input that needs no source object.
class NoEventSource final : public EventSource {
 public:
  void permitLocalEventsDuringSuppression() override {}
};

template <class Core>
class SharedKeyEvent final : public SyntheticKeyEvent {
 public:
  SharedKeyEvent(std::weak_ptr<Core> core, std::uint16_t keyCode, bool down)
      : core_(std::move(core)), keyCode_(keyCode), down_(down) {}

  void setFlags(std::uint64_t flags) override { flags_ = flags; }
  void post() override {
    if (auto core = core_.lock()) core->postSyntheticKey(keyCode_, down_, flags_);
  }

 private:
  std::weak_ptr<Core> core_;
  std::uint16_t keyCode_;
  bool down_;
  std::uint64_t flags_ = 0;
};

}  // namespace deskagent::platform
