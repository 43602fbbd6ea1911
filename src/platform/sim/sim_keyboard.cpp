#include "platform/sim/sim_keyboard.hpp"

#include "platform/sim/sim_platform.hpp"

namespace deskagent::platform {

std::unique_ptr<EventTap> SimPlatform::createEventTap(TapLocation, TapCallback) {
  return nullptr;
}

std::unique_ptr<RunLoopSource> SimPlatform::createRunLoopSource(EventTap&) {
  return nullptr;
}

std::uint64_t SimPlatform::currentModifierFlags() {
  return 0;
}

}  // namespace deskagent::platform
