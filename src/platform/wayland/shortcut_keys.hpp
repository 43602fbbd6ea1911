#pragma once

#include <xkbcommon/xkbcommon.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/linux/terminals.hpp"
#include "platform/wayland/wayland_connection.hpp"

namespace deskagent::platform::wayland {

// The keymap the shortcut chords are typed in: the seat keyboard's, as the compositor gives it
// to windows (the user's layout), else the one the session names (XKB_DEFAULT_LAYOUT and the
// like), else "us". Where it has no Latin letters at all (a single "ru" layout), "us": the
// target sees the keymap of the keyboard that types, and takes Control+м for no shortcut.
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
  // The first layout that types both Latin letters, and their keys there at the first level:
  // applications match their shortcuts by those letters.
  xkb_layout_index_t layout() const { return layout_; }
  std::uint32_t keyV() const { return keyV_; }
  std::uint32_t keyC() const { return keyC_; }

 private:
  xkb_context* context_ = nullptr;
  xkb_keymap* keymap_ = nullptr;
  xkb_layout_index_t layout_ = 0;
  std::uint32_t keyV_;
  std::uint32_t keyC_;
};

// One chord's keys as evdev key codes: the modifiers in the order they are pressed, the letter
// last, and the modifiers as the keymap's mask (for a keyboard that sends them as such).
struct ChordKeys {
  std::vector<std::uint32_t> modifiers;
  std::uint32_t letter = 0;
  std::uint32_t modifierMask = 0;
};

// The keys of the macOS key `macKeyCode` (V or C) with `flags`, as the target window takes them.
// The Command flag means the platform's shortcut modifier, Control: Control+V and Control+C in
// an application; Control+Shift+V and Control+Shift+C in a terminal that pastes the clipboard
// with them; Shift+Insert (which pastes the primary selection in a terminal and the clipboard
// elsewhere) in a terminal without a clipboard key, or a window that cannot be told (`target`
// nothing), and no copy chord there: Control+C would interrupt a terminal's program. Nothing for
// another key.
std::optional<ChordKeys> chordKeys(const ShortcutKeymap& keymap, std::uint16_t macKeyCode,
                                   std::uint64_t flags, std::optional<TerminalKind> target);

}  // namespace deskagent::platform::wayland
