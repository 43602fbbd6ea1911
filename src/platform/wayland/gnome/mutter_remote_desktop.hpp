#pragma once

#include <memory>
#include <optional>
#include <string>

#include "platform/linux/dbus/dbus_connection.hpp"

namespace deskagent::platform::gnome {

// One session of mutter's remote-desktop API (org.gnome.Mutter.RemoteDesktop), tied to our bus
// connection: mutter closes it when we leave. Created, it can use the clipboard; started, it can
// type, and gnome-shell shows its remote-desktop indicator in the top bar until it is stopped
// (stopping closes it for good).
class MutterSession {
 public:
  // Asks mutter for a session; null when mutter refuses, with `error` saying why.
  static std::unique_ptr<MutterSession> create(dbus::Connection& bus, dbus::CallError& error);
  ~MutterSession();
  MutterSession(const MutterSession&) = delete;
  MutterSession& operator=(const MutterSession&) = delete;

  const std::string& path() const { return path_; }
  bool started() const { return started_; }
  // Mutter has closed it (or we stopped it): it can do nothing more.
  bool closed() const { return closed_; }

  // Starts it; false when mutter refuses, with `error` saying why.
  bool start(dbus::CallError& error);
  void stop();
  // An evdev key's press or release, into the focused window. Answered later: a refusal comes
  // to `onRefused`.
  void key(std::uint32_t evdevKey, bool down);
  // Called once when mutter refuses a key (or closes the session while we still use it).
  void onRefused(std::function<void(const dbus::CallError&)> refused) {
    refused_ = std::move(refused);
  }

  // A method of the session's interface, to fill in and send.
  dbus::Message call(const char* member);
  dbus::Connection& bus() { return bus_; }

 private:
  MutterSession(dbus::Connection& bus, std::string path);

  dbus::Connection& bus_;
  std::string path_;
  bool started_ = false;
  bool closed_ = false;
  dbus::Slot closedSignal_;
  std::function<void(const dbus::CallError&)> refused_;
  std::shared_ptr<MutterSession*> self_;
};

// The remote-desktop service's name, object and interfaces.
inline constexpr const char* kRemoteDesktopService = "org.gnome.Mutter.RemoteDesktop";
inline constexpr const char* kRemoteDesktopPath = "/org/gnome/Mutter/RemoteDesktop";
inline constexpr const char* kRemoteDesktopInterface = "org.gnome.Mutter.RemoteDesktop";
inline constexpr const char* kSessionInterface = "org.gnome.Mutter.RemoteDesktop.Session";

}  // namespace deskagent::platform::gnome
