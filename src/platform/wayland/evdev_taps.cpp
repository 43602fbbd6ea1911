#include "platform/wayland/evdev_taps.hpp"

namespace deskagent::platform::wayland {

std::shared_ptr<EvdevTaps> EvdevTaps::start(MainLoop& loop) {
  std::shared_ptr<EvdevTaps> taps(new EvdevTaps(loop));
  std::weak_ptr<EvdevTaps> weak = taps;
  taps->keys_ = std::make_unique<EvdevKeyWatch>(loop, systemInputDevices(),
                                                [weak](const KeyboardEvent& event) {
                                                  if (auto t = weak.lock()) t->deliver(event);
                                                });
  return taps;
}

std::unique_ptr<EventTap> EvdevTaps::createEventTap(TapLocation location, TapCallback callback) {
  if (location != TapLocation::hid || !keys_->rescan()) return nullptr;
  auto state = std::make_shared<SharedTapState>(std::move(callback));
  std::erase_if(taps_, [](const std::weak_ptr<SharedTapState>& t) { return t.expired(); });
  taps_.push_back(state);
  return std::make_unique<SharedEventTap<EvdevTaps>>(weak_from_this(), std::move(state));
}

std::unique_ptr<RunLoopSource> EvdevTaps::createRunLoopSource(EventTap& tap) {
  return makeSharedRunLoopSource(shared_from_this(), tap);
}

std::int64_t EvdevTaps::checkListenEventAccess() {
  return keys_->rescan() ? kAccessGranted : kAccessDenied;
}

void EvdevTaps::updateListening() {
  bool wanted = false;
  for (const auto& weak : taps_) {
    if (auto tap = weak.lock(); tap && tap->listening()) wanted = true;
  }
  keys_->setListening(wanted);
}

void EvdevTaps::deliver(const KeyboardEvent& event) {
  postToListeningTaps(loop_, taps_, TapEventType::flagsChanged, event);
}

}  // namespace deskagent::platform::wayland
