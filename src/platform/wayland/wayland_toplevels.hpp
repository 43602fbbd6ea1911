#pragma once

#include <map>
#include <string>

#include "platform/wayland/focused_application.hpp"
#include "platform/wayland/wayland_connection.hpp"

namespace deskagent::platform::wayland {

// The app ids of the windows the compositor tells of (foreign-toplevel), and which is active.
class Toplevels final : public FocusedApplication {
 public:
  explicit Toplevels(Connection& connection);
  ~Toplevels() override;
  Toplevels(const Toplevels&) = delete;
  Toplevels& operator=(const Toplevels&) = delete;

  // Whether the focused window is a terminal emulator; false where the compositor does not say.
  bool focusedIsTerminal() const;
  FocusedKind kind() override {
    return focusedIsTerminal() ? FocusedKind::terminal : FocusedKind::application;
  }

 private:
  struct Window {
    std::string appId;
    std::string pendingAppId;
    bool activated = false;
    bool pendingActivated = false;
  };
  static void onToplevel(void* data, zwlr_foreign_toplevel_manager_v1*,
                         zwlr_foreign_toplevel_handle_v1* handle);
  static void onManagerFinished(void* data, zwlr_foreign_toplevel_manager_v1*);

  std::map<zwlr_foreign_toplevel_handle_v1*, Window> windows_;
  bool finished_ = false;
};

// By the app id a Wayland terminal emulator gives its windows.
bool isTerminalAppId(const std::string& appId);

}  // namespace deskagent::platform::wayland
