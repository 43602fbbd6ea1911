#pragma once

#include <functional>
#include <memory>
#include <optional>

#include "loop/main_loop.hpp"
#include "platform/platform.hpp"
#include "platform/wayland/wayland_connection.hpp"
#include "platform/wayland/wayland_session.hpp"

namespace deskagent::platform::wayland {

// The backend for a compositor that offers the wlroots data-control and virtual-keyboard
// protocols; nothing when WAYLAND_DISPLAY names none that does.
std::unique_ptr<Platform> connectWaylandPlatform(MainLoop& loop);

// What a desktop gives for a connection whose compositor has listed its globals; nothing where
// the desktop is not there (or not usable). Asked again for each connection after a restart.
using DesktopPartsFactory =
    std::function<std::optional<DesktopParts>(Connection& connection, MainLoop& loop)>;

// The backend with the parts `parts` makes; nothing when WAYLAND_DISPLAY names no compositor, or
// `parts` makes none, or gives no clipboard where the compositor has no data-control.
std::unique_ptr<Platform> connectDesktopPlatform(MainLoop& loop, DesktopPartsFactory parts);

}  // namespace deskagent::platform::wayland
