#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/linux/desktop_entries.hpp"
#include "platform/linux/terminals.hpp"
#include "platform/wayland/wayland_connection.hpp"
#include "platform/wayland/wayland_toplevels.hpp"
#include "platform/wayland/xwayland_focus.hpp"

namespace deskagent::platform::wayland {

// What the desktop lets us know of the application that has the keyboard focus. A Wayland
// compositor tells ordinary clients nothing of it by itself: each desktop has its own source.
class FocusedApplication {
 public:
  virtual ~FocusedApplication() = default;
  // Asked for each chord: what the window it goes to is; nothing where it cannot be told.
  virtual std::optional<TerminalKind> kind() = 0;
  // Where no copy chord may go, the selected text as this source gives it without one; nothing
  // where it gives none.
  virtual std::optional<std::string> selectedText() { return std::nullopt; }
};

// What an application known by its app id (or X11 class) is: by the terminal list, then the
// desktop entries; nothing where neither knows it.
std::optional<TerminalKind> kindOfApplication(std::string_view appId, DesktopEntries& entries);

// The focused window as a wlroots compositor tells of it (foreign-toplevel's app id); an
// XWayland window it does not name clearly, by its WM_CLASS.
class ToplevelFocus final : public FocusedApplication {
 public:
  ToplevelFocus(Connection& connection, DesktopEntries& entries, XwaylandFocus& xwayland)
      : connection_(connection), toplevels_(connection), entries_(entries), xwayland_(xwayland) {}

  std::optional<TerminalKind> kind() override;

 private:
  Connection& connection_;
  Toplevels toplevels_;
  DesktopEntries& entries_;
  XwaylandFocus& xwayland_;
};

}  // namespace deskagent::platform::wayland
