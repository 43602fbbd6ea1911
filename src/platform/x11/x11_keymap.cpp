#include "platform/x11/x11_keymap.hpp"

#include <X11/Xutil.h>

#include <algorithm>

#include "platform/x11/x11_keys.hpp"

namespace deskagent::platform::x11 {

void Keymap::refreshIfStale() {
  if (!stale_) return;
  stale_ = false;
  macKeyCodes_.fill(-1);
  disturbing_.reset();
  keysyms_.clear();
  xkb_.reset(XkbGetMap(display_, XkbKeyTypesMask | XkbKeySymsMask, XkbUseCoreKbd));
  XDisplayKeycodes(display_, &minKeycode_, &maxKeycode_);
  if (maxKeycode_ < minKeycode_) return;
  int per = 0;
  KeySym* map = XGetKeyboardMapping(display_, static_cast<KeyCode>(minKeycode_),
                                    maxKeycode_ - minKeycode_ + 1, &per);
  if (map == nullptr) return;
  keysymsPerKeycode_ = per;
  keysyms_.assign(map, map + static_cast<std::size_t>(per) * (maxKeycode_ - minKeycode_ + 1));
  XFree(map);
  // The first two levels of the first group: "Alt_L Meta_L" is Left Option, a key whose first
  // level is empty but whose second is Meta_L still counts as Left Command.
  int levels = std::min(keysymsPerKeycode_, 2);
  for (int keycode = minKeycode_; keycode <= maxKeycode_ && keycode < 256; ++keycode) {
    const KeySym* syms = &keysyms_[static_cast<std::size_t>(keycode - minKeycode_) * per];
    for (int level = 0; level < levels; ++level) {
      if (syms[level] == NoSymbol) continue;
      if (auto mac = macKeyCodeForModifierKeysym(syms[level]); mac && macKeyCodes_[keycode] < 0) {
        macKeyCodes_[keycode] = static_cast<std::int8_t>(*mac);
      }
      if (isChordDisturbingKeysym(syms[level])) disturbing_.set(keycode);
    }
  }
}

std::optional<std::int64_t> Keymap::macKeyCode(unsigned int keycode) {
  refreshIfStale();
  if (keycode >= 256 || macKeyCodes_[keycode] < 0) return std::nullopt;
  return macKeyCodes_[keycode];
}

bool Keymap::isChordDisturbing(unsigned int keycode) {
  refreshIfStale();
  return keycode < 256 && disturbing_.test(keycode);
}

std::optional<KeyCode> Keymap::keycodeForKeysym(KeySym keysym) {
  refreshIfStale();
  // Group by group, then level by level, so the key that types the keysym unshifted wins;
  // beyond the first two levels a key would need modifiers the chord does not press.
  if (xkb_ == nullptr) {  // the core map's first group
    for (int level = 0; level < std::min(keysymsPerKeycode_, 2); ++level) {
      for (int keycode = minKeycode_; keycode <= maxKeycode_ && keycode < 256; ++keycode) {
        auto index = static_cast<std::size_t>(keycode - minKeycode_) * keysymsPerKeycode_ + level;
        if (keysyms_[index] == keysym) return static_cast<KeyCode>(keycode);
      }
    }
    return std::nullopt;
  }
  XkbDescPtr xkb = xkb_.get();
  for (int group = 0; group < XkbNumKbdGroups; ++group) {
    for (int level = 0; level < 2; ++level) {
      for (int keycode = xkb->min_key_code; keycode <= xkb->max_key_code; ++keycode) {
        if (XkbKeyNumGroups(xkb, keycode) > group &&
            XkbKeyGroupWidth(xkb, keycode, group) > level &&
            XkbKeySymEntry(xkb, keycode, level, group) == keysym) {
          return static_cast<KeyCode>(keycode);
        }
      }
    }
  }
  return std::nullopt;
}

std::optional<KeyCode> Keymap::unusedKeycode() {
  refreshIfStale();
  if (keysyms_.empty()) return std::nullopt;
  // From the top: the highest codes are the least likely to be on the keyboard at all.
  for (int keycode = std::min(maxKeycode_, 255); keycode >= minKeycode_; --keycode) {
    auto first =
        keysyms_.begin() + static_cast<std::ptrdiff_t>(keycode - minKeycode_) * keysymsPerKeycode_;
    if (std::all_of(first, first + keysymsPerKeycode_, [](KeySym k) { return k == NoSymbol; })) {
      return static_cast<KeyCode>(keycode);
    }
  }
  return std::nullopt;
}

}  // namespace deskagent::platform::x11
