#pragma once

#include <X11/Xlib.h>

#include <cstdint>
#include <optional>
#include <vector>

#include "platform/x11/x11_connection.hpp"
#include "platform/x11/x11_keymap.hpp"
#include "platform/x11/x11_keys.hpp"
#include "platform/x11/x11_scratch_keys.hpp"
#include "platform/x11/x11_synthetic_keys.hpp"

namespace deskagent::platform::x11 {

class PrimaryPaste;

// The focused application's window as the last chord found it at its press, and how many
// chords have gone so far (so a reader can tell whether one has gone since a given moment).
struct ChordTarget {
  Window window = None;  // None: nothing had the focus
  std::uint64_t chords = 0;
};

// Types the shortcut chords through XTEST. The Command flag means the platform's shortcut
// modifier, Control; in a terminal the chord also carries Shift, since Control+Shift+V and
// Control+Shift+C are the terminals' paste and copy. A terminal without a clipboard paste key
// gets Shift+Insert with the text on PRIMARY instead, and no terminal ever gets a copy chord:
// its selection is read from PRIMARY. Modifiers the user holds are released around the chord
// and pressed again after it, so the chord carries exactly its own.
class ChordPoster {
 public:
  ChordPoster(Connection& connection, Keymap& keymap, ScratchKeys& scratchKeys,
              SyntheticKeys& synthetic, PrimaryPaste& primaryPaste)
      : connection_(connection),
        keymap_(keymap),
        scratchKeys_(scratchKeys),
        synthetic_(synthetic),
        primaryPaste_(primaryPaste) {}

  // One half of a chord: the key's press (with its modifiers) or its release (and theirs).
  void post(std::uint16_t macKeyCode, bool down, std::uint64_t flags);

  const ChordTarget& target() const { return target_; }

 private:
  void press(const LetterKey& letter, std::uint64_t flags);
  void release(KeyCode key);
  std::vector<KeyCode> heldDisturbingKeys();
  void fake(KeyCode keycode, bool down);

  Connection& connection_;
  Keymap& keymap_;
  ScratchKeys& scratchKeys_;
  SyntheticKeys& synthetic_;
  PrimaryPaste& primaryPaste_;
  ChordTarget target_;
  // Between a chord's press and its release.
  std::optional<KeyCode> pressedKey_;
  std::vector<KeyCode> pressedModifiers_;
  std::vector<KeyCode> releasedUserKeys_;
  bool skipped_ = false;  // this chord's press was left out, and so is its release
};

}  // namespace deskagent::platform::x11
