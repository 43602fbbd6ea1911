#include "app/backend.hpp"
#include "platform/macos/mac_main_loop.hpp"
#include "platform/macos/mac_platform.hpp"

namespace deskagent {

void configureAllocator() {
  // The system allocator already gives large buffers back to the system when they are freed.
}

std::unique_ptr<MainLoop> makeMainLoop() {
  return platform::makeMacMainLoop();
}

std::unique_ptr<platform::Platform> connectPlatform(MainLoop& loop) {
  return platform::connectMacPlatform(loop);
}

}  // namespace deskagent
