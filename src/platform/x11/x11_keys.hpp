#pragma once

// The macOS key codes and flag words the host speaks, derived from X keysyms. Pure functions: the
// keyboard map itself is read elsewhere.

#include <cstdint>
#include <optional>

namespace deskagent::platform::x11 {

// macOS virtual key codes of the watchable modifier keys.
inline constexpr std::int64_t kMacRightCommand = 54;
inline constexpr std::int64_t kMacLeftCommand = 55;
inline constexpr std::int64_t kMacLeftShift = 56;
inline constexpr std::int64_t kMacCapsLock = 57;
inline constexpr std::int64_t kMacLeftOption = 58;
inline constexpr std::int64_t kMacLeftControl = 59;
inline constexpr std::int64_t kMacRightShift = 60;
inline constexpr std::int64_t kMacRightOption = 61;
inline constexpr std::int64_t kMacRightControl = 62;
inline constexpr std::int64_t kMacFn = 63;

// A set of held modifier keys, one bit per macOS key code from 54 to 63.
class HeldModifiers {
 public:
  void set(std::int64_t macKeyCode, bool held);
  bool has(std::int64_t macKeyCode) const;
  bool operator==(const HeldModifiers&) const = default;

 private:
  std::uint16_t bits_ = 0;
};

// The macOS key code of the modifier key that produces `keysym` (Shift_R is 60, ISO_Level3_Shift
// is 61, ...), or nothing when the keysym is not one of the host's modifier keys.
std::optional<std::int64_t> macKeyCodeForModifierKeysym(unsigned long keysym);

// The flags of a modifier-change event with `held` down: every held key's device-dependent bit
// and the device-independent bits they imply, and AlphaShift when Caps Lock is locked (its lock
// state, not whether the key is down, as on macOS).
std::uint64_t modifierFlags(const HeldModifiers& held, bool capsLocked);

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
