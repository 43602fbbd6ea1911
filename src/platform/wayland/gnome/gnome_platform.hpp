#pragma once

#include <memory>

#include "loop/main_loop.hpp"
#include "platform/platform.hpp"

namespace deskagent::platform::gnome {

// The backend for GNOME on Wayland: mutter's remote-desktop API for the keys and the clipboard,
// the accessibility bus for the focused application. Chosen when WAYLAND_DISPLAY is set and
// mutter's API is on the session bus, also when mutter refuses us: the agent then reports
// "accessibility" false (the X11 backend would paste only into XWayland windows, and say it had
// pasted into the focused native one). Nothing elsewhere.
std::unique_ptr<Platform> connectGnomePlatform(MainLoop& loop);

}  // namespace deskagent::platform::gnome
