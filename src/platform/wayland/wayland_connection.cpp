#include "platform/wayland/wayland_connection.hpp"

#include <poll.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace deskagent::platform::wayland {

void Connection::onGlobal(void* data, wl_registry* registry, std::uint32_t name,
                          const char* interface, std::uint32_t version) {
  auto* self = static_cast<Connection*>(data);
  auto bind = [&](const wl_interface* which, std::uint32_t highest) {
    return wl_registry_bind(registry, name, which, std::min(version, highest));
  };
  // The first seat is the user's; the protocols' first versions are all we use.
  if (std::strcmp(interface, wl_seat_interface.name) == 0 && self->seat_ == nullptr) {
    self->seat_ = static_cast<wl_seat*>(bind(&wl_seat_interface, 5));
    static const wl_seat_listener seatListener = {
        [](void* d, wl_seat*, std::uint32_t capabilities) {
          static_cast<Connection*>(d)->seatCapabilities_ = capabilities;
        },
        [](void*, wl_seat*, const char*) {}};
    wl_seat_add_listener(self->seat_, &seatListener, self);
  } else if (std::strcmp(interface, zwlr_data_control_manager_v1_interface.name) == 0) {
    self->dataControl_ = static_cast<zwlr_data_control_manager_v1*>(
        bind(&zwlr_data_control_manager_v1_interface, 1));
  } else if (std::strcmp(interface, zwp_virtual_keyboard_manager_v1_interface.name) == 0) {
    self->virtualKeyboards_ = static_cast<zwp_virtual_keyboard_manager_v1*>(
        bind(&zwp_virtual_keyboard_manager_v1_interface, 1));
  } else if (std::strcmp(interface, zwlr_foreign_toplevel_manager_v1_interface.name) == 0) {
    self->toplevels_ = static_cast<zwlr_foreign_toplevel_manager_v1*>(
        bind(&zwlr_foreign_toplevel_manager_v1_interface, 3));
  }
}

std::unique_ptr<Connection> Connection::open() {
  // Without WAYLAND_DISPLAY libwayland would try "wayland-0": only an explicit session counts.
  const char* name = std::getenv("WAYLAND_DISPLAY");
  if (name == nullptr || *name == '\0') return nullptr;
  wl_display* display = wl_display_connect(nullptr);
  if (display == nullptr) return nullptr;
  std::unique_ptr<Connection> connection(new Connection(display));
  static const wl_registry_listener listener = {&Connection::onGlobal, &Connection::onGlobalRemove};
  connection->registry_ = wl_display_get_registry(display);
  wl_registry_add_listener(connection->registry_, &listener, connection.get());
  // The globals. What the bound ones say of themselves comes with the next roundtrip, once
  // their users have their listeners on.
  if (!connection->roundtrip()) return nullptr;
  if (connection->seat_ == nullptr) return nullptr;
  return connection;
}

Connection::~Connection() {
  if (toplevels_ != nullptr) zwlr_foreign_toplevel_manager_v1_destroy(toplevels_);
  if (virtualKeyboards_ != nullptr) zwp_virtual_keyboard_manager_v1_destroy(virtualKeyboards_);
  if (dataControl_ != nullptr) zwlr_data_control_manager_v1_destroy(dataControl_);
  if (seat_ != nullptr) wl_seat_destroy(seat_);
  if (registry_ != nullptr) wl_registry_destroy(registry_);
  wl_display_flush(display_);
  wl_display_disconnect(display_);
}

bool Connection::hasQueuedEvents() {
  if (lost()) return false;
  if (wl_display_prepare_read(display_) != 0) return true;
  wl_display_cancel_read(display_);
  return false;
}

void Connection::dispatch() {
  if (lost()) return;
  wl_display_dispatch_pending(display_);
  if (wl_display_prepare_read(display_) == 0) {
    pollfd p{fd(), POLLIN, 0};
    if (::poll(&p, 1, 0) > 0) {
      wl_display_read_events(display_);
    } else {
      wl_display_cancel_read(display_);
    }
  }
  wl_display_dispatch_pending(display_);
  flush();
}

void Connection::flush() {
  if (!lost()) wl_display_flush(display_);
}

bool Connection::roundtrip() {
  return !lost() && wl_display_roundtrip(display_) >= 0;
}

}  // namespace deskagent::platform::wayland
