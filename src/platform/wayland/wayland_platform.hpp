#pragma once

#include <functional>
#include <memory>
#include <optional>

#include "loop/main_loop.hpp"
#include "platform/platform.hpp"
#include "platform/wayland/clipboard_side.hpp"
#include "platform/wayland/focused_application.hpp"
#include "platform/wayland/shortcut_keys.hpp"
#include "platform/wayland/wayland_chord.hpp"
#include "platform/wayland/wayland_connection.hpp"

namespace deskagent::platform::wayland {

// The backend for a compositor that offers the wlroots data-control and virtual-keyboard
// protocols; nothing when WAYLAND_DISPLAY names none that does.
std::unique_ptr<Platform> connectWaylandPlatform(MainLoop& loop);

// What a desktop without the wlroots keyboard protocol gives in its place: where the chords'
// keys go, what tells the focused application, and (where the compositor has no data-control)
// the clipboard.
struct DesktopParts {
  // What the others rely on (a bus connection), kept until they are gone.
  std::shared_ptr<void> base;
  std::unique_ptr<KeySink> keys;
  std::unique_ptr<FocusedApplication> focus;
  std::unique_ptr<ClipboardSide> clipboard;  // null: data-control's
};
// `keymap` makes the shortcut keymap when first called (it asks the compositor, and dispatches
// what comes meanwhile): whatever listens to the compositor is to be made before.
using DesktopPartsFactory = std::function<std::optional<DesktopParts>(
    Connection& connection, MainLoop& loop, const std::function<const ShortcutKeymap&()>& keymap)>;

// The backend with the parts `parts` makes; nothing when WAYLAND_DISPLAY names no compositor, or
// `parts` makes none, or gives no clipboard where the compositor has no data-control.
std::unique_ptr<Platform> connectDesktopPlatform(MainLoop& loop, const DesktopPartsFactory& parts);

}  // namespace deskagent::platform::wayland
