#include "app/check.hpp"
#include "platform/linux/keyboards_describe.hpp"
#ifdef DESKAGENT_HAVE_WAYLAND
#include "platform/wayland/wayland_describe.hpp"
#endif
#ifdef DESKAGENT_HAVE_X11
#include "platform/x11/x11_describe.hpp"
#endif

namespace deskagent {
namespace {

// Said when a display is named but cannot be opened: the agent waits for it.
constexpr const char* kLateDisplay =
    "headless for now; it looks again every 1.5 s and uses the display once it opens, "
    "reporting the change as \"permissions\"";

void append(std::vector<std::string>& to, const std::vector<std::string>& lines) {
  to.insert(to.end(), lines.begin(), lines.end());
}

}  // namespace

DesktopDescription describeDesktop() {
  DesktopDescription out;
  bool named = false;
  bool chosen = false;
#ifdef DESKAGENT_HAVE_WAYLAND
  auto compositor = platform::wayland::describeCompositor();
  append(out.display, compositor.facts);
  named = compositor.named;
  if (compositor.usable) {
    chosen = true;
    out.choice = "the Wayland backend, on this compositor";
    platform::KeyboardsDescription keyboards = platform::describeKeyboards();
    append(out.keyWatch, keyboards.facts);
    out.keyWatch.push_back(keyboards.readable > 0 ? "the key watch reads these keyboards"
                                                  : "the key watch is refused");
  }
#else
  out.display.push_back("(built without the Wayland backend)");
#endif
#ifdef DESKAGENT_HAVE_X11
  auto x11 = platform::x11::describeX11Display();
  append(out.display, x11.facts);
  bool throughXWayland = named;
  named = named || x11.named;
  if (!chosen && x11.opened) {
    chosen = true;
    out.choice = throughXWayland ? "the X11 backend (through XWayland: it reaches X11 windows only)"
                                 : "the X11 backend, on this display";
    out.keyWatch.push_back("XInput 2 raw key events on the root window (listen-only)");
  }
#else
  out.display.push_back("(built without the X11 backend)");
#endif
  if (!chosen) {
    out.choice = named ? std::string("the headless backend: ") + kLateDisplay
                       : "the headless backend: no display is named, so there is nothing to "
                         "paste into or watch";
    out.keyWatch.push_back("none while headless");
  }
  return out;
}

}  // namespace deskagent
