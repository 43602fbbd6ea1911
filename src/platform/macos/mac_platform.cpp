#include "platform/macos/mac_platform.hpp"

namespace deskagent::platform {

std::unique_ptr<Platform> connectMacPlatform(MainLoop& loop) {
  return std::make_unique<MacPlatform>(loop);
}

}  // namespace deskagent::platform
