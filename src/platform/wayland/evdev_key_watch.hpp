#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>

#include "loop/main_loop.hpp"
#include "platform/platform.hpp"
#include "platform/wayland/evdev_devices.hpp"

namespace deskagent::platform::wayland {

// The host's modifier keys as the macOS key code the protocol speaks, from a Linux key code.
std::optional<std::int64_t> macKeyCodeOfLinuxKey(unsigned linuxKey);

// Listens to every keyboard's event device, read-only: the keys go on to the desktop untouched
// whatever we do. Turns presses and releases of the host's modifier keys into modifier-change
// events, follows keyboards as they come and go, and drops one that goes away with its keys.
class EvdevKeyWatch {
 public:
  using Deliver = std::function<void(const KeyboardEvent&)>;

  EvdevKeyWatch(MainLoop& loop, std::unique_ptr<InputDevices> devices, Deliver deliver);
  ~EvdevKeyWatch();
  EvdevKeyWatch(const EvdevKeyWatch&) = delete;
  EvdevKeyWatch& operator=(const EvdevKeyWatch&) = delete;

  // Opens the keyboards not yet open; true when at least one can be read.
  bool rescan();
  bool canListen() const { return !keyboards_.empty(); }
  void setListening(bool on);

  // The flags the keyboards' held keys and Caps Lock give right now.
  std::uint64_t currentFlags() const;

 private:
  struct Keyboard {
    int fd = -1;
    LoopHandle watch;
    std::string partial;          // the start of a record a read cut in two
    std::set<std::int64_t> held;  // macOS codes of the modifier keys down on this keyboard
  };

  void readFrom(const std::string& path);
  void handleKey(Keyboard& keyboard, unsigned linuxKey, std::int32_t value);
  void drop(const std::string& path);
  bool heldAnywhere(std::int64_t mac) const;
  void onDevicesChanged();

  MainLoop& loop_;
  std::unique_ptr<InputDevices> devices_;
  Deliver deliver_;
  std::map<std::string, Keyboard> keyboards_;
  LoopHandle changesWatch_;
  bool listening_ = false;
  bool capsLocked_ = false;
};

}  // namespace deskagent::platform::wayland
