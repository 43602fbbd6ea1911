#pragma once

#include <X11/XKBlib.h>
#include <X11/Xlib.h>

#include <array>
#include <bitset>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace deskagent::platform::x11 {

// The keyboard map in use, as far as the agent needs it: which key codes are the host's modifier
// keys, which keys a user may hold that would disturb a synthetic shortcut, and where a keysym
// is. Read lazily and read again after the map changes (a layout switch, a new keyboard).
class Keymap {
 public:
  explicit Keymap(Display* display) : display_(display) {}

  // MappingNotify and the XKB map notices: the next lookup reads the map again.
  void invalidate() { stale_ = true; }

  std::optional<std::int64_t> macKeyCode(unsigned int keycode);
  bool isChordDisturbing(unsigned int keycode);
  // The key that types `keysym` in the first group that has it, without a shift level if there
  // is one. A key found in another group than the one in use still makes the shortcut: GTK and
  // Qt match a shortcut's letter in any group of the key, as when the user presses it.
  std::optional<KeyCode> keycodeForKeysym(KeySym keysym);
  // A key code that types nothing in any group: free to be given a keysym for a while.
  std::optional<KeyCode> unusedKeycode();

 private:
  struct FreeXkb {
    void operator()(XkbDescPtr xkb) const { XkbFreeKeyboard(xkb, 0, True); }
  };

  void refreshIfStale();

  Display* display_;
  bool stale_ = true;
  int minKeycode_ = 8;
  int maxKeycode_ = 7;
  int keysymsPerKeycode_ = 0;
  std::vector<KeySym> keysyms_;  // the core map: group 1 and 2, then their further levels
  std::unique_ptr<XkbDescRec, FreeXkb> xkb_;    // every group; null without XKB
  std::array<std::int8_t, 256> macKeyCodes_{};  // -1 where the key is none of the host's
  std::bitset<256> disturbing_;
};

}  // namespace deskagent::platform::x11
