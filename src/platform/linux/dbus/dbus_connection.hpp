#pragma once

#include <systemd/sd-bus.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "loop/main_loop.hpp"

namespace deskagent::platform::dbus {

struct MessageUnref {
  void operator()(sd_bus_message* m) const { sd_bus_message_unref(m); }
};
using Message = std::unique_ptr<sd_bus_message, MessageUnref>;

struct SlotUnref {
  void operator()(sd_bus_slot* s) const { sd_bus_slot_unref(s); }
};
// A match or a pending call: dropping it ends it.
using Slot = std::unique_ptr<sd_bus_slot, SlotUnref>;

// What a call that failed was told: the error's name ("org.freedesktop.DBus.Error.AccessDenied")
// and message, or the system's reason where the call never got an answer.
struct CallError {
  std::string name;
  std::string message;
  std::string describe() const { return message.empty() ? name : name + ": " + message; }
};

// A connection to a bus (the user's session bus, or a bus at an address such as the
// accessibility bus), served by the main loop: signals and replies are dispatched on it.
class Connection {
 public:
  static std::unique_ptr<Connection> session(MainLoop& loop);
  static std::unique_ptr<Connection> atAddress(MainLoop& loop, const std::string& address);
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  sd_bus* bus() const { return bus_; }
  // A method call to fill in with sd_bus_message_append; null when it cannot be made.
  Message methodCall(const char* destination, const char* path, const char* interface,
                     const char* member);
  // Sends `call` and waits for its reply, `timeout` at most: the reply, or null with `error`
  // said. Messages that arrive meanwhile are dispatched on a later turn of the loop.
  Message call(const Message& call, Duration timeout, CallError* error = nullptr);
  // Sends `call`; `onReply` gets the reply (or the error, or the timeout as an error) on the
  // loop. It is dropped unheard when the connection goes first: capture owners weakly.
  using ReplyHandler = std::function<void(sd_bus_message* reply)>;
  void callAsync(const Message& call, Duration timeout, ReplyHandler onReply);
  // Sends `call` expecting no reply: its errors are not wanted.
  bool send(const Message& call);
  // Calls `onSignal` for each signal that `rule` matches (a D-Bus match rule).
  using SignalHandler = std::function<void(sd_bus_message* signal)>;
  Slot match(const std::string& rule, SignalHandler onSignal);

  // Serves the bus here and now until `done` holds, `timeout` at most: for an answer that comes
  // as a call to us rather than as a reply. False on timeout or when the bus has gone.
  bool serveUntil(const std::function<bool()>& done, Duration timeout);
  // Calls `onCall` for each method call to `path` on our connection; it answers it.
  using CallHandler = std::function<void(sd_bus_message* call)>;
  Slot serveObject(const char* path, CallHandler onCall);
  // Our unique name on the bus (":1.42").
  std::string uniqueName() const;

  // Whether a name has an owner on the bus now.
  bool nameHasOwner(const char* name);
  // Whether the bus is still there.
  bool open() const;

 private:
  Connection(MainLoop& loop, sd_bus* bus);
  void serve();
  void serveSoon();
  void armTimeout();

  MainLoop& loop_;
  sd_bus* bus_ = nullptr;
  LoopHandle watch_;
  std::optional<TimerId> timeout_;
  // Posted tasks and timers hold this weakly: the connection may go first.
  std::shared_ptr<Connection*> self_;
};

// The error a reply carries, or nothing for a method return.
std::optional<CallError> errorOf(sd_bus_message* reply);

// The user's session bus address as this process would connect to it, for a description.
std::string sessionBusDescription();

}  // namespace deskagent::platform::dbus
