#include "platform/wayland/wayland_connection.hpp"

#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>

namespace deskagent::platform::wayland {

namespace {

// A compositor answers a round trip in a millisecond or two, a busy one in tens; one that has
// not answered in this long is stopped, hung, or no compositor at all.
constexpr auto kAnswerTimeout = std::chrono::milliseconds(1000);

int remainingMs(std::chrono::steady_clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
      deadline - std::chrono::steady_clock::now());
  return static_cast<int>(std::max<std::int64_t>(0, left.count()));
}

}  // namespace

void Connection::onGlobal(void* data, wl_registry* registry, std::uint32_t name,
                          const char* interface, std::uint32_t version) {
  auto* self = static_cast<Connection*>(data);
  auto bind = [&](const wl_interface* which, std::uint32_t highest) {
    return wl_registry_bind(registry, name, which, std::min(version, highest));
  };
  // The first seat is the user's. Data-control's second version adds the primary selection; of
  // the others, the first versions are all we use.
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
        bind(&zwlr_data_control_manager_v1_interface, 2));
  } else if (std::strcmp(interface, zwp_virtual_keyboard_manager_v1_interface.name) == 0) {
    self->virtualKeyboards_ = static_cast<zwp_virtual_keyboard_manager_v1*>(
        bind(&zwp_virtual_keyboard_manager_v1_interface, 1));
  } else if (std::strcmp(interface, zwlr_foreign_toplevel_manager_v1_interface.name) == 0) {
    self->toplevelsName_ = name;
    self->toplevelsVersion_ = std::min(version, 3U);
  }
}

zwlr_foreign_toplevel_manager_v1* Connection::bindToplevels() {
  if (toplevels_ == nullptr && toplevelsName_ != 0) {
    toplevels_ = static_cast<zwlr_foreign_toplevel_manager_v1*>(wl_registry_bind(
        registry_, toplevelsName_, &zwlr_foreign_toplevel_manager_v1_interface, toplevelsVersion_));
  }
  return toplevels_;
}

std::unique_ptr<Connection> Connection::connect() {
  // libwayland writes its complaints (no XDG_RUNTIME_DIR, a protocol error) to stderr, which is
  // not ours to write to.
  wl_log_set_handler_client([](const char*, va_list) {});
  // Without WAYLAND_DISPLAY libwayland would try "wayland-0": only an explicit session counts.
  const char* name = std::getenv("WAYLAND_DISPLAY");
  if (name == nullptr || *name == '\0') return nullptr;
  wl_display* display = wl_display_connect(nullptr);
  if (display == nullptr) return nullptr;
  std::unique_ptr<Connection> connection(new Connection(display));
  static const wl_registry_listener listener = {&Connection::onGlobal, &Connection::onGlobalRemove};
  connection->registry_ = wl_display_get_registry(display);
  wl_registry_add_listener(connection->registry_, &listener, connection.get());
  // The globals come before this one's answer.
  connection->sync();
  connection->flush();
  return connection;
}

Connection::~Connection() {
  for (auto& [callback, sentAt] : unanswered_) wl_callback_destroy(callback);
  if (toplevels_ != nullptr) zwlr_foreign_toplevel_manager_v1_destroy(toplevels_);
  if (virtualKeyboards_ != nullptr) zwp_virtual_keyboard_manager_v1_destroy(virtualKeyboards_);
  if (dataControl_ != nullptr) zwlr_data_control_manager_v1_destroy(dataControl_);
  if (seat_ != nullptr) wl_seat_destroy(seat_);
  if (registry_ != nullptr) wl_registry_destroy(registry_);
  wl_display_flush(display_);
  wl_display_disconnect(display_);
}

void Connection::onSyncDone(void* data, wl_callback* callback, std::uint32_t) {
  auto* self = static_cast<Connection*>(data);
  ++self->answered_;
  std::erase_if(self->unanswered_, [callback](const auto& u) { return u.first == callback; });
  wl_callback_destroy(callback);
}

void Connection::sync() {
  static const wl_callback_listener listener = {&Connection::onSyncDone};
  wl_callback* callback = wl_display_sync(display_);
  wl_callback_add_listener(callback, &listener, this);
  ++sent_;
  unanswered_.emplace_back(callback, Clock::now());
}

bool Connection::overdue() const {
  return !unanswered_.empty() && Clock::now() - unanswered_.front().second >= kAnswerTimeout;
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
  if (lost()) return false;
  dispatch();
  if (overdue()) return false;
  sync();
  const std::uint64_t target = sent_;
  // The oldest sync still out bounds the wait: a compositor that let it lie is not waited on
  // again in full.
  const auto deadline = unanswered_.front().second + kAnswerTimeout;
  while (answered_ < target) {
    if (wl_display_dispatch_pending(display_) < 0) return false;
    if (answered_ >= target) break;
    wl_display_flush(display_);
    if (wl_display_prepare_read(display_) != 0) continue;  // events queued meanwhile
    pollfd p{fd(), POLLIN, 0};
    int ready = ::poll(&p, 1, remainingMs(deadline));
    if (ready <= 0) {
      wl_display_cancel_read(display_);
      if (ready < 0 && errno == EINTR) continue;
      return false;
    }
    if (wl_display_read_events(display_) < 0) return false;
  }
  return true;
}

bool Connection::answering() {
  if (lost()) return false;
  dispatch();
  if (unanswered_.empty()) {
    sync();
    flush();
  }
  return !overdue();
}

}  // namespace deskagent::platform::wayland
