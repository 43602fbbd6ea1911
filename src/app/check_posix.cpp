#include "app/check.hpp"
#include "platform/linux/keyboards_describe.hpp"
#ifdef DESKAGENT_HAVE_WAYLAND
#include "platform/wayland/wayland_describe.hpp"
#endif
#ifdef DESKAGENT_HAVE_X11
#include "platform/x11/x11_describe.hpp"
#endif
#ifdef DESKAGENT_HAVE_DESKTOPS
#include "app/backend.hpp"
#include "platform/wayland/gnome/gnome_check.hpp"
#include "platform/wayland/kde/kde_check.hpp"
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

#ifdef DESKAGENT_HAVE_WAYLAND
void describeKeyWatch(DesktopDescription& out) {
  platform::KeyboardsDescription keyboards = platform::describeKeyboards();
  append(out.keyWatch, keyboards.facts);
  out.keyWatch.push_back(keyboards.readable > 0 ? "the key watch reads these keyboards"
                                                : "the key watch is refused");
}
#endif

#ifdef DESKAGENT_HAVE_DESKTOPS
// KDE Plasma's and GNOME's backends, in the order the agent tries them: the first whose desktop
// is there is chosen (GNOME's even where mutter refuses it: then nothing is pasted). Its line
// says what it found, or why it cannot work.
bool describeDesktopBackends(DesktopDescription& out) {
  auto loop = makeMainLoop();
  for (auto describe : {platform::kde::describeKdeBackend, platform::gnome::describeGnomeBackend}) {
    platform::BackendDescription d = describe(*loop);
    out.display.push_back(d.name + ": " + d.detail);
    if (!d.present) continue;
    out.choice = "the " + d.name + " backend" +
                 (d.usable ? std::string()
                           : ", which cannot work here: paste and read-selection are refused");
    describeKeyWatch(out);
    return true;
  }
  return false;
}
#endif

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
    describeKeyWatch(out);
  }
#ifdef DESKAGENT_HAVE_DESKTOPS
  if (!chosen && named) chosen = describeDesktopBackends(out);
#endif
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
