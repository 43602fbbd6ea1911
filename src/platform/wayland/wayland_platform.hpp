#pragma once

#include <memory>

#include "loop/main_loop.hpp"
#include "platform/platform.hpp"

namespace deskagent::platform::wayland {

// The backend for a compositor that offers the wlroots data-control and virtual-keyboard
// protocols; nothing when WAYLAND_DISPLAY names none that does.
std::unique_ptr<Platform> connectWaylandPlatform(MainLoop& loop);

}  // namespace deskagent::platform::wayland
