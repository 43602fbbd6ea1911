#include "platform/wayland/wayland_toplevels.hpp"

namespace deskagent::platform::wayland {

Toplevels::Toplevels(Connection& connection) {
  zwlr_foreign_toplevel_manager_v1* manager = connection.bindToplevels();
  if (manager == nullptr) return;
  static const zwlr_foreign_toplevel_manager_v1_listener listener = {&Toplevels::onToplevel,
                                                                     &Toplevels::onManagerFinished};
  zwlr_foreign_toplevel_manager_v1_add_listener(manager, &listener, this);
}

Toplevels::~Toplevels() {
  for (auto& [handle, window] : windows_) zwlr_foreign_toplevel_handle_v1_destroy(handle);
}

void Toplevels::onManagerFinished(void* data, zwlr_foreign_toplevel_manager_v1*) {
  static_cast<Toplevels*>(data)->finished_ = true;
}

void Toplevels::onToplevel(void* data, zwlr_foreign_toplevel_manager_v1*,
                           zwlr_foreign_toplevel_handle_v1* handle) {
  auto* self = static_cast<Toplevels*>(data);
  self->windows_[handle];
  static const zwlr_foreign_toplevel_handle_v1_listener listener = {
      .title = [](void*, zwlr_foreign_toplevel_handle_v1*, const char*) {},
      .app_id =
          [](void* d, zwlr_foreign_toplevel_handle_v1* h, const char* appId) {
            static_cast<Toplevels*>(d)->windows_[h].pendingAppId = appId;
          },
      .output_enter = [](void*, zwlr_foreign_toplevel_handle_v1*, wl_output*) {},
      .output_leave = [](void*, zwlr_foreign_toplevel_handle_v1*, wl_output*) {},
      .state =
          [](void* d, zwlr_foreign_toplevel_handle_v1* h, wl_array* states) {
            bool activated = false;
            const auto* begin = static_cast<const std::uint32_t*>(states->data);
            for (std::size_t i = 0; i < states->size / sizeof(std::uint32_t); ++i) {
              activated |= begin[i] == ZWLR_FOREIGN_TOPLEVEL_HANDLE_V1_STATE_ACTIVATED;
            }
            static_cast<Toplevels*>(d)->windows_[h].pendingActivated = activated;
          },
      .done =
          [](void* d, zwlr_foreign_toplevel_handle_v1* h) {
            Window& window = static_cast<Toplevels*>(d)->windows_[h];
            window.appId = window.pendingAppId;
            window.activated = window.pendingActivated;
          },
      .closed =
          [](void* d, zwlr_foreign_toplevel_handle_v1* h) {
            static_cast<Toplevels*>(d)->windows_.erase(h);
            zwlr_foreign_toplevel_handle_v1_destroy(h);
          },
      .parent = [](void*, zwlr_foreign_toplevel_handle_v1*, zwlr_foreign_toplevel_handle_v1*) {},
  };
  zwlr_foreign_toplevel_handle_v1_add_listener(handle, &listener, self);
}

std::optional<std::string> Toplevels::focusedAppId() const {
  for (const auto& [handle, window] : windows_) {
    if (window.activated) return window.appId;
  }
  return std::nullopt;
}

}  // namespace deskagent::platform::wayland
