#pragma once

#include <chrono>
#include <memory>
#include <optional>

#include "platform/linux/terminals.hpp"

namespace deskagent::platform {
namespace x11 {
class Connection;
struct FocusedWindow;
}  // namespace x11

namespace wayland {

// XWayland's windows as their X server tells of them, where the agent can reach it (DISPLAY, in
// a build with the X11 backend): a compositor may name them by something other than their
// WM_CLASS, and only X11 tells who owns PRIMARY there. The server is connected to on the first
// question, since that may start an XWayland the compositor starts on demand.
class XwaylandFocus {
 public:
  XwaylandFocus();
  ~XwaylandFocus();
  XwaylandFocus(const XwaylandFocus&) = delete;
  XwaylandFocus& operator=(const XwaylandFocus&) = delete;

  // What the focused X11 window is, by its WM_CLASS; nothing when no X11 window has the focus or
  // no X server can be reached.
  std::optional<TerminalKind> focusedKind();
  // Whether the focused X11 window's client owns PRIMARY: its selection is what is selected.
  bool focusedOwnsPrimary();
  // After a paste's text was written: waits, a short while at most, until the focused X11
  // window's client owns neither CLIPBOARD nor (with `primary`) PRIMARY. XWayland's bridge takes
  // them over a moment after the compositor has our write, and a chord that came first would
  // paste what the window itself holds (the text the user selected in xterm). Connects to X11
  // for the primary selection only, which X11's terminals paste from.
  void awaitSelectionsLeaveFocused(bool primary);

 private:
  x11::Connection* connection();
  std::optional<x11::FocusedWindow> focused();

  std::unique_ptr<x11::Connection> connection_;
  std::optional<std::chrono::steady_clock::time_point> lastAttempt_;
};

}  // namespace wayland
}  // namespace deskagent::platform
