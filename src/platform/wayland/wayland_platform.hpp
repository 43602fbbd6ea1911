#pragma once

#include <functional>
#include <memory>
#include <optional>

#include "loop/main_loop.hpp"
#include "platform/platform.hpp"
#include "platform/wayland/focused_application.hpp"
#include "platform/wayland/shortcut_keys.hpp"
#include "platform/wayland/wayland_chord.hpp"
#include "platform/wayland/wayland_connection.hpp"

namespace deskagent::platform::wayland {

// The backend for a compositor that offers the wlroots data-control and virtual-keyboard
// protocols; nothing when WAYLAND_DISPLAY names none that does.
std::unique_ptr<Platform> connectWaylandPlatform(MainLoop& loop);

// The keyboard side of a compositor that offers data-control but types through an API of its
// own: where the chords' keys go, and what tells the focused application.
struct KeyboardSide {
  // What the two rely on (a bus connection), kept until both are gone.
  std::shared_ptr<void> base;
  std::unique_ptr<KeySink> keys;
  std::unique_ptr<FocusedApplication> focus;
};
// `keymap` makes the shortcut keymap when first called (it asks the compositor, and dispatches
// what comes meanwhile): whatever listens to the compositor is to be made before.
using KeyboardSideFactory = std::function<std::optional<KeyboardSide>(
    Connection& connection, MainLoop& loop, const std::function<const ShortcutKeymap&()>& keymap)>;

// The data-control backend with the keyboard side `keyboard` makes; nothing when WAYLAND_DISPLAY
// names no compositor with data-control, or `keyboard` makes none.
std::unique_ptr<Platform> connectDataControlPlatform(MainLoop& loop,
                                                     const KeyboardSideFactory& keyboard);

}  // namespace deskagent::platform::wayland
