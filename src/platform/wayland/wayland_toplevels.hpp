#pragma once

#include <map>
#include <optional>
#include <string>

#include "platform/wayland/wayland_connection.hpp"

namespace deskagent::platform::wayland {

// The app ids of the windows the compositor tells of (foreign-toplevel), and which is active.
class Toplevels {
 public:
  explicit Toplevels(Connection& connection);
  ~Toplevels();
  Toplevels(const Toplevels&) = delete;
  Toplevels& operator=(const Toplevels&) = delete;

  // The focused window's app id; nothing where the compositor does not say (no window has the
  // focus, or the compositor does not offer foreign-toplevel).
  std::optional<std::string> focusedAppId() const;

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

}  // namespace deskagent::platform::wayland
