#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "loop/main_loop.hpp"
#include "platform/linux/dbus/dbus_connection.hpp"
#include "platform/wayland/focused_application.hpp"

namespace deskagent::platform::dbus {

// The focused application as the accessibility bus (AT-SPI) shows it: the application whose
// window is active, and in it the focused object's role ("terminal" for GNOME's VTE terminals)
// and selected text. GTK applications are on it by default; Qt's, Chromium's and Firefox's only
// while a screen reader runs, so there the application is unknown.
class AccessibilityFocus final : public wayland::FocusedApplication {
 public:
  AccessibilityFocus(MainLoop& loop, Connection& session);
  ~AccessibilityFocus() override;
  AccessibilityFocus(const AccessibilityFocus&) = delete;
  AccessibilityFocus& operator=(const AccessibilityFocus&) = delete;

  // A terminal (VTE's role) pastes and copies with Control+Shift+V and Control+Shift+C.
  std::optional<TerminalKind> kind() override;
  // In a terminal its selection as the accessibility bus gives it: no chord, since a terminal's
  // copy key can reach the program inside as Control+C.
  std::optional<std::string> selectedText() override;

  // One object on the bus: its owner's name and its path.
  struct Object {
    std::string name;
    std::string path;
  };
  struct Focused {
    std::string application;      // its name on the bus ("kgx", "gnome-terminal-server")
    std::optional<Object> focus;  // the focused object, when it was found
    bool terminal = false;
  };
  // What the bus says now; nothing when no application there has an active window.
  std::optional<Focused> focused();

 private:
  Connection* bus();
  std::vector<Object> children(const Object& object);
  std::vector<std::uint32_t> states(const Object& object);
  std::optional<Object> focusedWithin(const Object& window);
  std::string selection(const Object& object);

  MainLoop& loop_;
  Connection& session_;
  std::unique_ptr<Connection> bus_;
};

}  // namespace deskagent::platform::dbus
