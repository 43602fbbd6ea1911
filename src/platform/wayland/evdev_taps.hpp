#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "loop/main_loop.hpp"
#include "platform/platform.hpp"
#include "platform/shared_tap.hpp"
#include "platform/wayland/evdev_key_watch.hpp"

namespace deskagent::platform::wayland {

// The event taps of a backend whose keys come from the keyboards' event devices (every Wayland
// desktop: no compositor tells an ordinary client of a bare modifier's press and release). Every
// tap hears through one key watch; held in a shared_ptr, so a tap that outlives the backend finds
// it gone.
class EvdevTaps : public std::enable_shared_from_this<EvdevTaps> {
 public:
  static std::shared_ptr<EvdevTaps> start(MainLoop& loop);

  // The platform's tap operations. The session location has no counterpart here (the keyboards'
  // own devices are the one listen-only source), so it is refused.
  std::unique_ptr<EventTap> createEventTap(TapLocation location, TapCallback callback);
  std::unique_ptr<RunLoopSource> createRunLoopSource(EventTap& tap);
  std::int64_t checkListenEventAccess();
  std::uint64_t currentModifierFlags() const { return keys_->currentFlags(); }

  // What the shared taps ask (shared_tap.hpp).
  bool tapCanHear(const SharedTapState&) const { return keys_->canListen(); }
  void updateListening();

 private:
  explicit EvdevTaps(MainLoop& loop) : loop_(loop) {}
  // The callback runs on a later loop turn, never inside a platform call the logic is making.
  void deliver(const KeyboardEvent& event);

  MainLoop& loop_;
  std::unique_ptr<EvdevKeyWatch> keys_;
  std::vector<std::weak_ptr<SharedTapState>> taps_;
};

}  // namespace deskagent::platform::wayland
