#pragma once

// The macOS key codes and flag words the host speaks, derived from X keysyms. Pure functions: the
// keyboard map itself is read elsewhere.

#include <cstdint>
#include <optional>

#include "platform/modifier_keys.hpp"

namespace deskagent::platform::x11 {

// The macOS key code of the modifier key that produces `keysym` (Shift_R is 60, ISO_Level3_Shift
// is 61, ...), or nothing when the keysym is not one of the host's modifier keys.
std::optional<std::int64_t> macKeyCodeForModifierKeysym(unsigned long keysym);

// Modifier keysyms a user may hold that would change a synthetic shortcut. Lock keys are not
// among them: releasing and pressing them again would toggle their lock.
bool isChordDisturbingKeysym(unsigned long keysym);

// A letter key of the ANSI layout: the keysym it types and the X key code of its position on a
// standard evdev keyboard, used when the layout in use has no key for the letter.
struct LetterKey {
  unsigned long keysym;
  unsigned int ansiKeycode;
};

// The letter key for a macOS virtual key code (9 is V, 8 is C), or nothing for other keys.
std::optional<LetterKey> letterKeyForMacKeyCode(std::uint16_t macKeyCode);

}  // namespace deskagent::platform::x11
