#pragma once

#include <wayland-client.h>

#include <chrono>
#include <deque>
#include <memory>

#include "virtual-keyboard-unstable-v1-client.h"
#include "wlr-data-control-unstable-v1-client.h"
#include "wlr-foreign-toplevel-management-unstable-v1-client.h"

namespace deskagent::platform::wayland {

// The connection to the compositor WAYLAND_DISPLAY names, with the globals the backend binds.
// Nothing here waits on the compositor for long: a compositor that stops answering (stopped,
// hung, or something that only accepts connections) costs one bounded wait, and is then known
// as not answering until it answers again.
class Connection {
 public:
  // Connects and asks for the globals, without waiting for the answer. Nothing when there is no
  // compositor to connect to.
  static std::unique_ptr<Connection> connect();
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  wl_display* display() const { return display_; }
  wl_seat* seat() const { return seat_; }
  zwlr_data_control_manager_v1* dataControl() const { return dataControl_; }
  // Whether the compositor offers the primary selection through data-control (version 2).
  bool hasPrimarySelection() const {
    return dataControl_ != nullptr && zwlr_data_control_manager_v1_get_version(dataControl_) >= 2;
  }
  zwp_virtual_keyboard_manager_v1* virtualKeyboards() const { return virtualKeyboards_; }
  // Binds foreign-toplevel, where offered (else null). It tells of every window at once: its
  // listener goes on before anything is dispatched again.
  zwlr_foreign_toplevel_manager_v1* bindToplevels();
  // Whether the seat has a keyboard now (asking one of a seat without is a protocol error).
  bool seatHasKeyboard() const { return seatCapabilities_ & WL_SEAT_CAPABILITY_KEYBOARD; }
  int fd() const { return wl_display_get_fd(display_); }

  // Whether the compositor has listed its globals yet.
  bool listed() const { return answered_ >= 1; }
  // Whether it offers a seat, data-control and the virtual keyboard.
  bool usable() const {
    return seat_ != nullptr && dataControl_ != nullptr && virtualKeyboards_ != nullptr;
  }

  // Events already read and waiting to be dispatched.
  bool hasQueuedEvents();
  // Reads what is on the socket without waiting, dispatches everything queued, flushes.
  void dispatch();
  void flush();
  // Waits until the compositor has handled everything sent so far (and we have its events), at
  // most a short while; false when it has not, or has gone. A compositor that left an earlier
  // one unanswered past that while is not waited on again until it answers.
  bool roundtrip();
  // Without waiting: false once a round trip has gone unanswered past that while. Asks for one
  // when none is under way, so a compositor that stops answering is found out by a later call.
  bool answering();
  // The compositor went away or ended our connection with a protocol error.
  bool lost() const { return wl_display_get_error(display_) != 0; }

 private:
  using Clock = std::chrono::steady_clock;

  explicit Connection(wl_display* display) : display_(display) {}
  static void onGlobal(void* data, wl_registry* registry, std::uint32_t name, const char* interface,
                       std::uint32_t version);
  static void onGlobalRemove(void*, wl_registry*, std::uint32_t) {}
  static void onSyncDone(void* data, wl_callback* callback, std::uint32_t);
  // Sends a sync; its answer comes after everything sent before it.
  void sync();
  bool overdue() const;

  wl_display* display_ = nullptr;
  wl_registry* registry_ = nullptr;
  wl_seat* seat_ = nullptr;
  zwlr_data_control_manager_v1* dataControl_ = nullptr;
  zwp_virtual_keyboard_manager_v1* virtualKeyboards_ = nullptr;
  zwlr_foreign_toplevel_manager_v1* toplevels_ = nullptr;
  std::uint32_t toplevelsName_ = 0;  // the global, until bound
  std::uint32_t toplevelsVersion_ = 0;
  std::uint32_t seatCapabilities_ = 0;
  // Syncs sent and answered (the compositor answers them in order), with when each unanswered
  // one was sent.
  std::uint64_t sent_ = 0;
  std::uint64_t answered_ = 0;
  std::deque<std::pair<wl_callback*, Clock::time_point>> unanswered_;
};

}  // namespace deskagent::platform::wayland
