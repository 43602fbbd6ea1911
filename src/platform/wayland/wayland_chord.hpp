#pragma once

#include <xkbcommon/xkbcommon.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/wayland/wayland_connection.hpp"
#include "platform/wayland/wayland_toplevels.hpp"

namespace deskagent::platform::wayland {

// Types the shortcut chords through one virtual keyboard, made once and kept: a new one costs
// the focused window a focus change, and its first key is lost. The Command flag means the
// platform's shortcut modifier, Control; in a terminal the chord also carries Shift, since
// Control+Shift+V and Control+Shift+C are the terminals' paste and copy. The modifiers are sent
// as such too: key events alone give the target no Control.
class ChordPoster {
 public:
  ChordPoster(Connection& connection, Toplevels& toplevels);
  ~ChordPoster();
  ChordPoster(const ChordPoster&) = delete;
  ChordPoster& operator=(const ChordPoster&) = delete;

  bool ready() const { return keyboard_ != nullptr && keymap_ != nullptr; }
  // One half of a chord: the key's press (with its modifiers) or its release (and theirs).
  void post(std::uint16_t macKeyCode, bool down, std::uint64_t flags);
  // Chords sent so far.
  const std::uint64_t& chords() const { return chords_; }

 private:
  std::optional<std::uint32_t> evdevKeyOf(xkb_keysym_t keysym) const;
  void key(std::uint32_t evdevKey, bool down);
  void modifiers(std::uint32_t depressed);

  Connection& connection_;
  Toplevels& toplevels_;
  xkb_context* context_ = nullptr;
  xkb_keymap* keymap_ = nullptr;
  zwp_virtual_keyboard_v1* keyboard_ = nullptr;
  std::uint64_t chords_ = 0;
  // Between a chord's press and its release.
  std::optional<std::uint32_t> pressedKey_;
  std::vector<std::uint32_t> pressedModifiers_;
};

}  // namespace deskagent::platform::wayland
