#pragma once

#include <xkbcommon/xkbcommon.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/linux/terminals.hpp"
#include "platform/wayland/wayland_connection.hpp"

namespace deskagent::platform::wayland {

// Types the shortcut chords through one virtual keyboard, made once and kept: a new one costs
// the focused window a focus change, and its first key is lost. The Command flag means the
// platform's shortcut modifier, Control, and the chord is the one the target window takes:
// Control+V and Control+C in an application; Control+Shift+V and Control+Shift+C in a terminal
// that pastes the clipboard with them; Shift+Insert (which pastes the primary selection in a
// terminal and the clipboard elsewhere) in a terminal without a clipboard key, or a window that
// cannot be told, and no copy chord there. The modifiers are sent as such too: key events alone
// give the target no Control.
class ChordPoster {
 public:
  explicit ChordPoster(Connection& connection);
  ~ChordPoster();
  ChordPoster(const ChordPoster&) = delete;
  ChordPoster& operator=(const ChordPoster&) = delete;

  bool ready() const { return keyboard_ != nullptr && keymap_ != nullptr; }
  // One half of a chord: the key's press (with its modifiers) or its release (and theirs), for a
  // target of that kind (nothing: one that cannot be told).
  void post(std::uint16_t macKeyCode, bool down, std::uint64_t flags,
            std::optional<TerminalKind> target);
  // Chords sent so far.
  const std::uint64_t& chords() const { return chords_; }

 private:
  void release();
  void key(std::uint32_t evdevKey, bool down);
  void modifiers(std::uint32_t depressed);

  Connection& connection_;
  xkb_context* context_ = nullptr;
  xkb_keymap* keymap_ = nullptr;
  // The layout of the keymap the letters are typed in, and their keys there.
  xkb_layout_index_t layout_ = 0;
  std::uint32_t keyV_ = 0;
  std::uint32_t keyC_ = 0;
  zwp_virtual_keyboard_v1* keyboard_ = nullptr;
  std::uint64_t chords_ = 0;
  // Between a chord's press and its release.
  std::optional<std::uint32_t> pressedKey_;
  std::vector<std::uint32_t> pressedModifiers_;
};

}  // namespace deskagent::platform::wayland
