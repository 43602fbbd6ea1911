#include "platform/wayland/wayland_toplevels.hpp"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstring>
#include <string_view>

namespace deskagent::platform::wayland {

bool isTerminalAppId(const std::string& appId) {
  static constexpr std::array<std::string_view, 16> kTerminals = {"foot",
                                                                  "footclient",
                                                                  "alacritty",
                                                                  "kitty",
                                                                  "wezterm",
                                                                  "org.wezfurlong.wezterm",
                                                                  "org.gnome.terminal",
                                                                  "org.gnome.console",
                                                                  "org.gnome.ptyxis",
                                                                  "org.kde.konsole",
                                                                  "konsole",
                                                                  "com.gexperts.tilix",
                                                                  "terminator",
                                                                  "xterm",
                                                                  "urxvt",
                                                                  "st-256color"};
  std::string lower = appId;
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return std::find(kTerminals.begin(), kTerminals.end(), lower) != kTerminals.end();
}

Toplevels::Toplevels(Connection& connection) {
  if (connection.toplevels() == nullptr) return;
  static const zwlr_foreign_toplevel_manager_v1_listener listener = {&Toplevels::onToplevel,
                                                                     &Toplevels::onManagerFinished};
  zwlr_foreign_toplevel_manager_v1_add_listener(connection.toplevels(), &listener, this);
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

bool Toplevels::focusedIsTerminal() const {
  for (const auto& [handle, window] : windows_) {
    if (window.activated) return isTerminalAppId(window.appId);
  }
  return false;
}

}  // namespace deskagent::platform::wayland
