#include "platform/wayland/gnome/mutter_remote_desktop.hpp"

#include <chrono>

namespace deskagent::platform::gnome {

namespace {

// Mutter answers within milliseconds; one that does not is not one to type into.
constexpr auto kPatience = std::chrono::seconds(1);

}  // namespace

std::unique_ptr<MutterSession> MutterSession::create(dbus::Connection& bus,
                                                     dbus::CallError& error) {
  auto call = bus.methodCall(kRemoteDesktopService, kRemoteDesktopPath, kRemoteDesktopInterface,
                             "CreateSession");
  auto reply = bus.call(call, kPatience, &error);
  const char* path = nullptr;
  if (!reply) return nullptr;
  if (sd_bus_message_read(reply.get(), "o", &path) < 0 || path == nullptr) {
    error = {"org.freedesktop.DBus.Error.InvalidArgs", "CreateSession gave no session"};
    return nullptr;
  }
  return std::unique_ptr<MutterSession>(new MutterSession(bus, path));
}

MutterSession::MutterSession(dbus::Connection& bus, std::string path)
    : bus_(bus), path_(std::move(path)), self_(std::make_shared<MutterSession*>(this)) {
  std::weak_ptr<MutterSession*> weak = self_;
  closedSignal_ =
      bus_.match("type='signal',sender='" + std::string(kRemoteDesktopService) + "',path='" +
                     path_ + "',interface='" + kSessionInterface + "',member='Closed'",
                 [weak](sd_bus_message*) {
                   if (auto self = weak.lock()) {
                     MutterSession& session = **self;
                     session.closed_ = true;
                     session.started_ = false;
                   }
                 });
}

MutterSession::~MutterSession() {
  // Mutter closes a session whose creator leaves; one we keep no longer we close ourselves.
  if (started_) stop();
}

dbus::Message MutterSession::call(const char* member) {
  return bus_.methodCall(kRemoteDesktopService, path_.c_str(), kSessionInterface, member);
}

bool MutterSession::start(dbus::CallError& error) {
  if (closed_) {
    error = {"org.freedesktop.DBus.Error.Failed", "the session was closed"};
    return false;
  }
  if (!bus_.call(call("Start"), kPatience, &error)) return false;
  started_ = true;
  return true;
}

void MutterSession::stop() {
  if (!started_) return;
  bus_.send(call("Stop"));
  started_ = false;
  closed_ = true;  // a stopped session is closed
}

void MutterSession::key(std::uint32_t evdevKey, bool down) {
  auto notify = call("NotifyKeyboardKeycode");
  if (!notify || sd_bus_message_append(notify.get(), "ub", evdevKey, down ? 1 : 0) < 0) return;
  std::weak_ptr<MutterSession*> weak = self_;
  bus_.callAsync(notify, kPatience, [weak](sd_bus_message* reply) {
    auto self = weak.lock();
    if (!self) return;
    if (auto error = dbus::errorOf(reply); error && (*self)->refused_) {
      std::exchange((*self)->refused_, {})(*error);
    }
  });
}

}  // namespace deskagent::platform::gnome
