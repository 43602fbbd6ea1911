#include "platform/linux/dbus/dbus_connection.hpp"

#include <time.h>

#include <chrono>
#include <cstdlib>
#include <cstring>

#include "platform/linux/dbus/sd_bus_library.hpp"

namespace deskagent::platform::dbus {

namespace {

std::uint64_t microseconds(Duration d) {
  return static_cast<std::uint64_t>(
      std::chrono::duration_cast<std::chrono::microseconds>(d).count());
}

CallError errorFrom(const sd_bus_error& error, int result) {
  if (sd_bus_error_is_set(&error)) {
    return {error.name, error.message != nullptr ? error.message : ""};
  }
  return {"errno", std::strerror(result < 0 ? -result : result)};
}

// A handler handed to sd-bus as its userdata, freed when sd-bus is done with the slot.
// `kHandled`: the message is answered, so no other handler is to see it.
template <class Handler, int kHandled = 0>
struct Held {
  static void* hold(Handler handler) { return new Handler(std::move(handler)); }
  static int call(sd_bus_message* m, void* userdata, sd_bus_error*) {
    (*static_cast<Handler*>(userdata))(m);
    return kHandled;
  }
  static void release(void* userdata) { delete static_cast<Handler*>(userdata); }
};

}  // namespace

std::unique_ptr<Connection> Connection::session(MainLoop& loop) {
  sd_bus* bus = nullptr;
  if (sd_bus_open_user(&bus) < 0) return nullptr;
  return std::unique_ptr<Connection>(new Connection(loop, bus));
}

std::unique_ptr<Connection> Connection::atAddress(MainLoop& loop, const std::string& address) {
  sd_bus* bus = nullptr;
  if (sd_bus_new(&bus) < 0) return nullptr;
  if (sd_bus_set_address(bus, address.c_str()) < 0 || sd_bus_set_bus_client(bus, 1) < 0 ||
      sd_bus_start(bus) < 0) {
    sd_bus_unref(bus);
    return nullptr;
  }
  return std::unique_ptr<Connection>(new Connection(loop, bus));
}

Connection::Connection(MainLoop& loop, sd_bus* bus)
    : loop_(loop), bus_(bus), self_(std::make_shared<Connection*>(this)) {
  std::weak_ptr<Connection*> weak = self_;
  watch_ = loop_.watchReadable(sd_bus_get_fd(bus_), [weak] {
    if (auto self = weak.lock()) (*self)->serve();
  });
}

Connection::~Connection() {
  if (timeout_) loop_.cancel(*timeout_);
  watch_.reset();
  sd_bus_flush_close_unref(bus_);
}

bool Connection::open() const {
  return sd_bus_is_open(bus_) > 0;
}

void Connection::serve() {
  // A bounded batch: a bus that keeps talking cannot hold the loop.
  int more = 0;
  for (int i = 0; i < 64; ++i) {
    more = sd_bus_process(bus_, nullptr);
    if (more <= 0) break;
  }
  if (!open()) {
    // Its socket would stay readable for good.
    watch_.reset();
    return;
  }
  if (more > 0) serveSoon();
  armTimeout();
}

void Connection::serveSoon() {
  std::weak_ptr<Connection*> weak = self_;
  loop_.post([weak] {
    if (auto self = weak.lock()) (*self)->serve();
  });
}

void Connection::armTimeout() {
  if (timeout_) loop_.cancel(*timeout_);
  timeout_.reset();
  std::uint64_t due = 0;
  if (sd_bus_get_timeout(bus_, &due) < 0 || due == UINT64_MAX) return;
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  const std::uint64_t nowUs = static_cast<std::uint64_t>(now.tv_sec) * 1000000 +
                              static_cast<std::uint64_t>(now.tv_nsec) / 1000;
  const auto delay = std::chrono::microseconds(due > nowUs ? due - nowUs : 0);
  std::weak_ptr<Connection*> weak = self_;
  timeout_ = loop_.postDelayed(delay, [weak] {
    if (auto self = weak.lock()) {
      (*self)->timeout_.reset();
      (*self)->serve();
    }
  });
}

Message Connection::methodCall(const char* destination, const char* path, const char* interface,
                               const char* member) {
  sd_bus_message* m = nullptr;
  if (sd_bus_message_new_method_call(bus_, &m, destination, path, interface, member) < 0) {
    return nullptr;
  }
  return Message(m);
}

Message Connection::call(const Message& call, Duration timeout, CallError* error) {
  sd_bus_error e{};  // SD_BUS_ERROR_NULL, without its C compound literal
  sd_bus_message* reply = nullptr;
  int r = call ? sd_bus_call(bus_, call.get(), microseconds(timeout), &e, &reply) : -EINVAL;
  if (r < 0 && error != nullptr) *error = errorFrom(e, r);
  sd_bus_error_free(&e);
  serveSoon();
  return Message(r < 0 ? nullptr : reply);
}

void Connection::callAsync(const Message& call, Duration timeout, ReplyHandler onReply) {
  using H = Held<ReplyHandler>;
  void* held = H::hold(std::move(onReply));
  sd_bus_slot* slot = nullptr;
  if (!call ||
      sd_bus_call_async(bus_, &slot, call.get(), &H::call, held, microseconds(timeout)) < 0) {
    H::release(held);
    return;
  }
  // Floating: sd-bus keeps the call until its reply or timeout, then frees the handler.
  sd_bus_slot_set_destroy_callback(slot, &H::release);
  sd_bus_slot_set_floating(slot, 1);
  sd_bus_slot_unref(slot);
  sd_bus_flush(bus_);
  armTimeout();
}

bool Connection::send(const Message& call) {
  if (!call) return false;
  sd_bus_message_set_expect_reply(call.get(), 0);
  if (sd_bus_send(bus_, call.get(), nullptr) < 0) return false;
  sd_bus_flush(bus_);
  return true;
}

Slot Connection::match(const std::string& rule, SignalHandler onSignal) {
  using H = Held<SignalHandler>;
  void* held = H::hold(std::move(onSignal));
  sd_bus_slot* slot = nullptr;
  if (sd_bus_add_match(bus_, &slot, rule.c_str(), &H::call, held) < 0) {
    H::release(held);
    return nullptr;
  }
  sd_bus_slot_set_destroy_callback(slot, &H::release);
  return Slot(slot);
}

bool Connection::serveUntil(const std::function<bool()>& done, Duration timeout) {
  const auto until = std::chrono::steady_clock::now() + timeout;
  while (!done()) {
    int r = sd_bus_process(bus_, nullptr);
    if (r < 0) return false;
    if (r > 0) continue;
    auto left = until - std::chrono::steady_clock::now();
    if (left <= Duration::zero()) return false;
    if (sd_bus_wait(bus_, microseconds(left)) < 0) return false;
  }
  serveSoon();  // what came with it waits for its turn
  return true;
}

Slot Connection::serveObject(const char* path, CallHandler onCall) {
  using H = Held<CallHandler, 1>;
  void* held = H::hold(std::move(onCall));
  sd_bus_slot* slot = nullptr;
  if (sd_bus_add_object(bus_, &slot, path, &H::call, held) < 0) {
    H::release(held);
    return nullptr;
  }
  sd_bus_slot_set_destroy_callback(slot, &H::release);
  return Slot(slot);
}

std::string Connection::uniqueName() const {
  const char* name = nullptr;
  return sd_bus_get_unique_name(bus_, &name) >= 0 && name != nullptr ? name : "";
}

bool Connection::nameHasOwner(const char* name) {
  auto m = methodCall("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                      "NameHasOwner");
  if (!m || sd_bus_message_append(m.get(), "s", name) < 0) return false;
  auto reply = call(m, std::chrono::seconds(1));
  int has = 0;
  return reply && sd_bus_message_read(reply.get(), "b", &has) >= 0 && has != 0;
}

std::optional<CallError> errorOf(sd_bus_message* reply) {
  if (reply == nullptr) return CallError{"org.freedesktop.DBus.Error.NoReply", ""};
  if (!sd_bus_message_is_method_error(reply, nullptr)) return std::nullopt;
  const sd_bus_error* e = sd_bus_message_get_error(reply);
  return CallError{e->name != nullptr ? e->name : "", e->message != nullptr ? e->message : ""};
}

std::string sessionBusDescription() {
  const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  std::string described = address != nullptr && *address != '\0' ? address
                          : runtime != nullptr ? std::string("unix:path=") + runtime + "/bus"
                                               : "none";
  if (!sdBusAvailable())
    described += " (libsystemd.so.0, which D-Bus is spoken through, is missing)";
  return described;
}

}  // namespace deskagent::platform::dbus
