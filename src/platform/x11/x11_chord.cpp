#include "platform/x11/x11_chord.hpp"

#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <array>
#include <utility>

#include "platform/platform.hpp"
#include "platform/x11/x11_focus.hpp"
#include "platform/x11/x11_keys.hpp"
#include "platform/x11/x11_primary_paste.hpp"

namespace deskagent::platform::x11 {

void ChordPoster::fake(KeyCode keycode, bool down) {
  synthetic_.sent(keycode, down);
  XTestFakeKeyEvent(connection_.display(), keycode, down ? True : False, CurrentTime);
}

std::vector<KeyCode> ChordPoster::heldDisturbingKeys() {
  std::array<char, 32> keys{};
  XQueryKeymap(connection_.display(), keys.data());
  std::vector<KeyCode> held;
  for (unsigned keycode = 8; keycode < 256; ++keycode) {
    if ((keys[keycode / 8] >> (keycode % 8)) & 1 && keymap_.isChordDisturbing(keycode)) {
      held.push_back(static_cast<KeyCode>(keycode));
    }
  }
  return held;
}

void ChordPoster::press(const LetterKey& letterKey, std::uint64_t flags) {
  FocusedWindow focus = focusedWindow(connection_);
  target_.window = focus.window;
  ++target_.chords;
  std::vector<KeySym> modifiers;
  TerminalKind terminal = flags & kFlagCommand ? focus.terminal : TerminalKind::none;
  KeySym letter = letterKey.keysym;
  if (terminal != TerminalKind::none && letter == XK_c) {
    // A terminal's selection is read from PRIMARY: Control+Shift+C is Control+C in some, and
    // that interrupts the program inside.
    skipped_ = true;
    return;
  }
  std::optional<KeyCode> key;
  if (terminal == TerminalKind::primaryOnly && letter == XK_v && primaryPaste_.begin()) {
    // Its own paste key, Shift+Insert, which pastes PRIMARY.
    if ((key = keymap_.keycodeForKeysym(XK_Insert))) {
      flags = kFlagShift;
      terminal = TerminalKind::none;
    }
  }
  // The letter's key in the layout, or one lent to it where no group has it; at worst its place
  // on an ANSI keyboard.
  if (!key) key = scratchKeys_.keyFor(letter);
  if (!key) key = static_cast<KeyCode>(letterKey.ansiKeycode);
  if (flags & (kFlagCommand | kFlagControl)) modifiers.push_back(XK_Control_L);
  if (flags & kFlagAlternate) modifiers.push_back(XK_Alt_L);
  if ((flags & kFlagShift) || terminal != TerminalKind::none) modifiers.push_back(XK_Shift_L);
  releasedUserKeys_ = heldDisturbingKeys();
  for (KeyCode held : releasedUserKeys_) fake(held, false);
  for (KeySym modifier : modifiers) {
    if (auto keycode = keymap_.keycodeForKeysym(modifier)) {
      fake(*keycode, true);
      pressedModifiers_.push_back(*keycode);
    }
  }
  fake(*key, true);
  pressedKey_ = key;
}

void ChordPoster::release(KeyCode key) {
  fake(key, false);
  for (auto it = pressedModifiers_.rbegin(); it != pressedModifiers_.rend(); ++it) fake(*it, false);
  for (KeyCode held : releasedUserKeys_) fake(held, true);
  pressedKey_.reset();
  pressedModifiers_.clear();
  releasedUserKeys_.clear();
}

void ChordPoster::post(std::uint16_t macKeyCode, bool down, std::uint64_t flags) {
  if (connection_.lost() || !connection_.extensions().xtest) return;
  auto letter = letterKeyForMacKeyCode(macKeyCode);
  if (!letter) return;
  if (down) {
    if (pressedKey_) release(*pressedKey_);  // a chord whose release never came
    skipped_ = false;
    press(*letter, flags);
  } else if (!std::exchange(skipped_, false) && pressedKey_) {
    release(*pressedKey_);
  }
  XFlush(connection_.display());
}

}  // namespace deskagent::platform::x11
