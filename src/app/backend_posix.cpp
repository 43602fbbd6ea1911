#include "app/backend.hpp"
#include "loop/poll_loop.hpp"
#include "platform/null/null_platform.hpp"

namespace deskagent {

std::unique_ptr<MainLoop> makeMainLoop() {
  static RealClock clock;
  return std::make_unique<PollLoop>(clock);
}

std::unique_ptr<platform::Platform> connectPlatform(MainLoop&) {
  return platform::connectNullPlatform();
}

}  // namespace deskagent
