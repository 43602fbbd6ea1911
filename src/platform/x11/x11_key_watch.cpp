#include "platform/x11/x11_key_watch.hpp"

#include <X11/XKBlib.h>
#include <X11/extensions/XInput2.h>

#include <array>

#include "platform/x11/x11_keys.hpp"

namespace deskagent::platform::x11 {

KeyWatch::KeyWatch(Connection& connection, Keymap& keymap, SyntheticKeys& synthetic,
                   Deliver deliver)
    : connection_(connection),
      keymap_(keymap),
      synthetic_(synthetic),
      deliver_(std::move(deliver)) {
  if (connection_.extensions().xinputOpcode < 0) return;
  canListen_ = connection_.firstErrorOf([&] { selectRawKeys(true); }) == 0;
  selectRawKeys(false);
}

bool KeyWatch::selectRawKeys(bool on) {
  std::array<unsigned char, XIMaskLen(XI_LASTEVENT)> bits{};
  if (on) {
    XISetMask(bits.data(), XI_RawKeyPress);
    XISetMask(bits.data(), XI_RawKeyRelease);
  }
  // Master devices only: each key then arrives once, whichever keyboard it came from.
  XIEventMask mask{XIAllMasterDevices, static_cast<int>(bits.size()), bits.data()};
  return XISelectEvents(connection_.display(), connection_.root(), &mask, 1) == Success;
}

void KeyWatch::setListening(bool on) {
  if (!canListen_ || on == listening_ || connection_.lost()) return;
  listening_ = on;
  selectRawKeys(on);
  held_.reset();
  if (on) {
    // Keys already down when listening starts are held too: their releases must read as such.
    std::array<char, 32> keys{};
    XQueryKeymap(connection_.display(), keys.data());
    for (unsigned keycode = 0; keycode < 256; ++keycode) {
      if ((keys[keycode / 8] >> (keycode % 8)) & 1 && keymap_.macKeyCode(keycode)) {
        held_.set(keycode);
      }
    }
    capsLocked_ = queryCapsLocked();
  }
  XFlush(connection_.display());
}

bool KeyWatch::queryCapsLocked() {
  Display* display = connection_.display();
  if (connection_.extensions().xkb) {
    XkbStateRec state{};
    if (XkbGetState(display, XkbUseCoreKbd, &state) == Success) {
      return (state.locked_mods & LockMask) != 0;
    }
  }
  Window rootReturn, childReturn;
  int rootX, rootY, x, y;
  unsigned int mask = 0;
  XQueryPointer(display, connection_.root(), &rootReturn, &childReturn, &rootX, &rootY, &x, &y,
                &mask);
  return (mask & LockMask) != 0;
}

std::uint64_t KeyWatch::flagsOfHeldKeys() {
  HeldModifiers held;
  for (unsigned keycode = 0; keycode < 256; ++keycode) {
    if (!held_.test(keycode)) continue;
    if (auto mac = keymap_.macKeyCode(keycode)) held.set(*mac, true);
  }
  return modifierFlags(held, capsLocked_);
}

bool KeyWatch::handle(const XEvent& event) {
  const XGenericEventCookie& cookie = event.xcookie;
  if (event.type != GenericEvent || cookie.extension != connection_.extensions().xinputOpcode) {
    return false;
  }
  if (cookie.evtype != XI_RawKeyPress && cookie.evtype != XI_RawKeyRelease) return true;
  if (!listening_ || cookie.data == nullptr) return true;
  const auto* raw = static_cast<const XIRawEvent*>(cookie.data);
  if (raw->flags & XIKeyRepeat) return true;
  auto keycode = static_cast<unsigned>(raw->detail);
  bool down = cookie.evtype == XI_RawKeyPress;
  if (synthetic_.takeIfSent(keycode, down)) return true;  // the agent's own chord
  auto mac = keymap_.macKeyCode(keycode);
  if (!mac || keycode >= 256) return true;
  if (held_.test(keycode) == down) return true;  // nothing changed for this key
  held_.set(keycode, down);
  // The server finishes a key event, XKB included, before it reads our next request, so the lock
  // state asked for now is the one this press gave.
  if (*mac == kMacCapsLock) capsLocked_ = queryCapsLocked();
  deliver_(KeyboardEvent{*mac, flagsOfHeldKeys()});
  return true;
}

std::uint64_t KeyWatch::currentFlags() {
  if (connection_.lost()) return 0;
  std::array<char, 32> keys{};
  XQueryKeymap(connection_.display(), keys.data());
  HeldModifiers held;
  for (unsigned keycode = 0; keycode < 256; ++keycode) {
    if ((keys[keycode / 8] >> (keycode % 8)) & 1) {
      if (auto mac = keymap_.macKeyCode(keycode)) held.set(*mac, true);
    }
  }
  return modifierFlags(held, queryCapsLocked());
}

}  // namespace deskagent::platform::x11
