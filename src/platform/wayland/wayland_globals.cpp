#include "platform/wayland/wayland_globals.hpp"

#include <wayland-client.h>

#include <cstdlib>

#include "virtual-keyboard-unstable-v1-client.h"
#include "wlr-data-control-unstable-v1-client.h"
#include "wlr-foreign-toplevel-management-unstable-v1-client.h"

namespace deskagent::platform::wayland {

void OfferedGlobals::note(std::string_view interface) {
  if (interface == wl_seat_interface.name) seat = true;
  if (interface == zwlr_data_control_manager_v1_interface.name) dataControl = true;
  if (interface == zwp_virtual_keyboard_manager_v1_interface.name) virtualKeyboard = true;
  if (interface == zwlr_foreign_toplevel_manager_v1_interface.name) foreignToplevel = true;
}

namespace {

void onGlobal(void* data, wl_registry*, std::uint32_t, const char* interface, std::uint32_t) {
  static_cast<OfferedGlobals*>(data)->note(interface);
}
void onGlobalRemove(void*, wl_registry*, std::uint32_t) {}
const wl_registry_listener kRegistryListener = {onGlobal, onGlobalRemove};

}  // namespace

std::optional<OfferedGlobals> probeCompositor() {
  // Without WAYLAND_DISPLAY libwayland would try "wayland-0": only an explicit session counts.
  const char* name = std::getenv("WAYLAND_DISPLAY");
  if (name == nullptr || *name == '\0') return std::nullopt;
  wl_display* display = wl_display_connect(nullptr);
  if (display == nullptr) return std::nullopt;
  OfferedGlobals offered;
  wl_registry* registry = wl_display_get_registry(display);
  wl_registry_add_listener(registry, &kRegistryListener, &offered);
  const bool answered = wl_display_roundtrip(display) >= 0;
  wl_registry_destroy(registry);
  wl_display_disconnect(display);
  if (!answered) return std::nullopt;
  return offered;
}

}  // namespace deskagent::platform::wayland
