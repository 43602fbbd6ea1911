#include "app/backend.hpp"
#include "platform/null/null_platform.hpp"
#include "platform/windows/win_main_loop.hpp"
#include "platform/windows/win_platform.hpp"

namespace deskagent {

void configureAllocator() {}

std::unique_ptr<MainLoop> makeMainLoop() {
  static RealClock clock;
  return std::make_unique<platform::windows::WinMainLoop>(clock);
}

std::unique_ptr<platform::Platform> connectPlatform(MainLoop& loop) {
  if (auto windows = platform::windows::connectWindowsPlatform(loop)) return windows;
  return platform::connectNullPlatform();
}

}  // namespace deskagent
