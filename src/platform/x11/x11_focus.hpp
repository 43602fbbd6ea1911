#pragma once

#include <X11/Xlib.h>

#include <optional>

#include "platform/linux/terminals.hpp"
#include "platform/x11/x11_connection.hpp"

namespace deskagent::platform::x11 {

// The window keyboard input goes to: the top-level window that carries WM_CLASS (the focused
// window itself where none does), and what kind of terminal that class is. `window` is None when
// nothing has the focus.
struct FocusedWindow {
  Window window = None;
  TerminalKind terminal = TerminalKind::none;
};

// The window manager's active window; without one, the input focus (or, where focus follows
// the pointer, the window under it).
FocusedWindow focusedWindow(Connection& connection);

// The window manager's active window (_NET_ACTIVE_WINDOW), where it names one.
std::optional<Window> activeWindow(Connection& connection);

}  // namespace deskagent::platform::x11
