#pragma once

#include <xkbcommon/xkbcommon.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/wayland/wayland_connection.hpp"

namespace deskagent::platform::wayland {

// The keymap the shortcut chords are typed in: the seat keyboard's, as the compositor gives it
// to windows (the user's layout), else the one the session names (XKB_DEFAULT_LAYOUT and the
// like), else "us".
class ShortcutKeymap {
 public:
  // `connection` may be null: then only the session's names count.
  explicit ShortcutKeymap(Connection* connection);
  ~ShortcutKeymap();
  ShortcutKeymap(const ShortcutKeymap&) = delete;
  ShortcutKeymap& operator=(const ShortcutKeymap&) = delete;

  xkb_keymap* keymap() const { return keymap_; }
  // The keymap as text, to hand to a compositor; empty when there is none.
  std::string text() const;

 private:
  xkb_context* context_ = nullptr;
  xkb_keymap* keymap_ = nullptr;
};

// One chord's keys as evdev key codes: the modifiers in the order they are pressed, the letter
// last, and the modifiers as the keymap's mask (for a keyboard that sends them as such).
struct ChordKeys {
  std::vector<std::uint32_t> modifiers;
  std::uint32_t letter = 0;
  std::uint32_t modifierMask = 0;
};

// The keys of Command plus the macOS key `macKeyCode` (V or C) with `flags`: Command is the
// platform's shortcut modifier, Control; a terminal's chord also carries Shift, since
// Control+Shift+V and Control+Shift+C are the terminals' paste and copy. The letter is looked up
// in `keymap`, so the chord follows the user's layout. Nothing for another key.
std::optional<ChordKeys> chordKeys(xkb_keymap* keymap, std::uint16_t macKeyCode,
                                   std::uint64_t flags, bool terminal);

}  // namespace deskagent::platform::wayland
