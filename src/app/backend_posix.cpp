#include "app/backend.hpp"
#include "loop/poll_loop.hpp"
#include "platform/null/null_platform.hpp"
#ifdef DESKAGENT_HAVE_WAYLAND
#include "platform/wayland/wayland_platform.hpp"
#endif
#ifdef DESKAGENT_HAVE_X11
#include "platform/x11/x11_platform.hpp"
#endif

namespace deskagent {

std::unique_ptr<MainLoop> makeMainLoop() {
  static RealClock clock;
  return std::make_unique<PollLoop>(clock);
}

std::unique_ptr<platform::Platform> connectPlatform([[maybe_unused]] MainLoop& loop) {
#ifdef DESKAGENT_HAVE_WAYLAND
  // A compositor with the clipboard and keyboard protocols reaches native windows; without
  // them, the X11 backend reaches XWayland's.
  if (auto wayland = platform::wayland::connectWaylandPlatform(loop)) return wayland;
#endif
#ifdef DESKAGENT_HAVE_X11
  // A display that can be opened now; without one the agent runs headless for good.
  if (auto x11 = platform::x11::connectX11Platform(loop)) return x11;
#endif
  return platform::connectNullPlatform();
}

}  // namespace deskagent
