#pragma once

#include <X11/Xlib.h>

#include <bitset>
#include <cstdint>
#include <functional>

#include "platform/platform.hpp"
#include "platform/x11/x11_connection.hpp"
#include "platform/x11/x11_keymap.hpp"
#include "platform/x11/x11_synthetic_keys.hpp"

namespace deskagent::platform::x11 {

// Listens to the keyboard through XInput 2 raw key events on the root window: every key press
// and release of every keyboard, whoever has the focus or a grab, and never altering or taking
// any of them. Turns those of the host's modifier keys into modifier-change events.
class KeyWatch {
 public:
  using Deliver = std::function<void(const KeyboardEvent&)>;

  // Tries a selection once, so `canListen()` stays a cheap answer for the permission probe.
  KeyWatch(Connection& connection, Keymap& keymap, SyntheticKeys& synthetic, Deliver deliver);

  bool canListen() const { return canListen_; }
  void setListening(bool on);

  // Takes the raw key events out of the connection's stream; false for every other event.
  bool handle(const XEvent& event);

  // The flags the keyboard's state gives right now.
  std::uint64_t currentFlags();

 private:
  bool selectRawKeys(bool on);
  bool queryCapsLocked();
  std::uint64_t flagsOfHeldKeys();

  Connection& connection_;
  Keymap& keymap_;
  SyntheticKeys& synthetic_;
  Deliver deliver_;
  bool canListen_ = false;
  bool listening_ = false;
  std::bitset<256> held_;  // X key codes of the host's modifier keys now down
  bool capsLocked_ = false;
};

}  // namespace deskagent::platform::x11
