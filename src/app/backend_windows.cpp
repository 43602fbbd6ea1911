#include "app/backend.hpp"
#include "platform/null/null_platform.hpp"
#include "platform/windows/win_main_loop.hpp"

namespace deskagent {

std::unique_ptr<MainLoop> makeMainLoop() {
  static RealClock clock;
  return std::make_unique<platform::windows::WinMainLoop>(clock);
}

std::unique_ptr<platform::Platform> connectPlatform([[maybe_unused]] MainLoop& loop) {
  return platform::connectNullPlatform();
}

}  // namespace deskagent
