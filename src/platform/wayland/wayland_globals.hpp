#pragma once

#include <optional>
#include <string_view>

namespace deskagent::platform::wayland {

// Which of the globals the backend relies on a compositor offers.
struct OfferedGlobals {
  bool seat = false;
  bool dataControl = false;      // zwlr_data_control_manager_v1: the clipboard without focus
  bool virtualKeyboard = false;  // zwp_virtual_keyboard_manager_v1: the paste chord
  bool foreignToplevel = false;  // zwlr_foreign_toplevel_manager_v1: the focused app's id

  void note(std::string_view interface);
  // Paste and selection read need a seat, the clipboard and the keyboard; the app id is a bonus.
  bool canPaste() const { return seat && dataControl && virtualKeyboard; }
};

// The globals of the compositor WAYLAND_DISPLAY names; nothing when it is unset or unreachable.
std::optional<OfferedGlobals> probeCompositor();

}  // namespace deskagent::platform::wayland
