#pragma once

#include <wayland-client.h>

#include <memory>

#include "virtual-keyboard-unstable-v1-client.h"
#include "wlr-data-control-unstable-v1-client.h"
#include "wlr-foreign-toplevel-management-unstable-v1-client.h"

namespace deskagent::platform::wayland {

// The connection to the compositor WAYLAND_DISPLAY names, with the globals the backend binds.
class Connection {
 public:
  // Nothing when there is no such compositor, or it offers no seat. The protocols it does not
  // offer are null.
  static std::unique_ptr<Connection> open();
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  wl_display* display() const { return display_; }
  wl_seat* seat() const { return seat_; }
  zwlr_data_control_manager_v1* dataControl() const { return dataControl_; }  // may be null
  zwp_virtual_keyboard_manager_v1* virtualKeyboards() const {
    return virtualKeyboards_;
  }                                                                           // may be null
  zwlr_foreign_toplevel_manager_v1* toplevels() const { return toplevels_; }  // may be null
  // Whether the seat has a keyboard now (asking one of a seat without is a protocol error).
  bool seatHasKeyboard() const { return seatCapabilities_ & WL_SEAT_CAPABILITY_KEYBOARD; }
  int fd() const { return wl_display_get_fd(display_); }

  // Events already read and waiting to be dispatched.
  bool hasQueuedEvents();
  // Reads what is on the socket without waiting, dispatches everything queued, flushes.
  void dispatch();
  void flush();
  bool roundtrip();
  // The compositor went away or ended our connection with a protocol error.
  bool lost() const { return wl_display_get_error(display_) != 0; }

 private:
  explicit Connection(wl_display* display) : display_(display) {}
  static void onGlobal(void* data, wl_registry* registry, std::uint32_t name, const char* interface,
                       std::uint32_t version);
  static void onGlobalRemove(void*, wl_registry*, std::uint32_t) {}

  wl_display* display_ = nullptr;
  wl_registry* registry_ = nullptr;
  wl_seat* seat_ = nullptr;
  zwlr_data_control_manager_v1* dataControl_ = nullptr;
  zwp_virtual_keyboard_manager_v1* virtualKeyboards_ = nullptr;
  zwlr_foreign_toplevel_manager_v1* toplevels_ = nullptr;
  std::uint32_t seatCapabilities_ = 0;
};

}  // namespace deskagent::platform::wayland
