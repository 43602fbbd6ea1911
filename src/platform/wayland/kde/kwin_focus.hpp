#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/linux/dbus/dbus_connection.hpp"
#include "platform/wayland/focused_application.hpp"

namespace deskagent::platform::kde {

// The focused window's application as KWin knows it: a KWin script of a few lines, written for
// each question to the user's runtime directory, loaded through KWin's scripting interface
// (org.kde.kwin.Scripting) and removed once it has run, calls us back with the active window's
// resource class (its app id, or WM_CLASS for an X11 window). KWin offers its
// window list to ordinary clients in no other way, and Qt applications (Konsole among them)
// show nothing on the accessibility bus unless a screen reader runs.
class KWinFocus final : public wayland::FocusedApplication {
 public:
  explicit KWinFocus(dbus::Connection& bus);
  ~KWinFocus() override;
  KWinFocus(const KWinFocus&) = delete;
  KWinFocus& operator=(const KWinFocus&) = delete;

  std::optional<TerminalKind> kind() override;

  // The active window's resource class and name ("org.kde.konsole", or an X11 window's class
  // and instance), lower-cased; empty when no window is active, nothing when KWin did not say.
  std::optional<std::vector<std::string>> activeWindowClasses();

 private:
  dbus::Connection& bus_;
  DesktopEntries entries_;
  std::string script_;
  std::uint64_t queries_ = 0;
  dbus::Slot callback_;
  std::optional<std::string> answer_;
};

}  // namespace deskagent::platform::kde
