#pragma once

// The watchable modifier keys as the host names them (macOS virtual key codes, on every system),
// the flag word of a modifier-change event, built from which of them are held, and the events
// that press a synthetic key's modifiers as keys of their own.

#include <array>
#include <cstdint>
#include <vector>

#include "platform/platform.hpp"

namespace deskagent::platform {

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

struct ModifierKey {
  std::int64_t macKeyCode;
  std::uint64_t deviceBit;        // NX_DEVICE* bit of this very key (IOLLEvent.h); 0 where none
  std::uint64_t independentFlag;  // the flag any key of its kind sets while held
};

// Every watchable key. Caps Lock has neither bit: it shows through its lock state instead.
inline constexpr std::array<ModifierKey, 10> kModifierKeys{{
    {kMacLeftControl, 0x1, kFlagControl},
    {kMacLeftShift, 0x2, kFlagShift},
    {kMacRightShift, 0x4, kFlagShift},
    {kMacLeftCommand, 0x8, kFlagCommand},
    {kMacRightCommand, 0x10, kFlagCommand},
    {kMacLeftOption, 0x20, kFlagAlternate},
    {kMacRightOption, 0x40, kFlagAlternate},
    {kMacRightControl, 0x2000, kFlagControl},
    {kMacFn, 0, kFlagSecondaryFn},
    {kMacCapsLock, 0, 0},
}};

// A set of held modifier keys, one bit per macOS key code from 54 to 63.
class HeldModifiers {
 public:
  void set(std::int64_t macKeyCode, bool held);
  bool has(std::int64_t macKeyCode) const;
  bool operator==(const HeldModifiers&) const = default;

 private:
  std::uint16_t bits_ = 0;
};

// The flags of a modifier-change event with `held` down: every held key's device-dependent bit
// and the device-independent bits they imply, and AlphaShift when Caps Lock is locked (its lock
// state, not whether the key is down, as on macOS).
std::uint64_t modifierFlags(const HeldModifiers& held, bool capsLocked);

// The device-independent flag any key of this key's kind sets while held (Command for both
// Command keys, ...); 0 for Caps Lock and for codes that are no modifier.
std::uint64_t kindFlagOf(std::int64_t macKeyCode);

// The bit whose presence in a modifier-change event means this very key is down: its own device
// bit, the secondary-fn flag for Fn, AlphaShift (the lock) for Caps Lock; 0 for other codes.
std::uint64_t downFlagOf(std::int64_t macKeyCode);

// A modifier key's own synthetic event: the key going down or up, and the flags it carries.
struct KeyStroke {
  std::int64_t macKeyCode;
  bool down;
  std::uint64_t flags;
  bool operator==(const KeyStroke&) const = default;
};

// The modifier keys' own events around one half of a shortcut, typed as a keyboard types it:
// the left key of each modifier in `flags` (Control, Option, Shift, Command) goes down before
// the key's press, and comes up after the key's release, in reverse order. Each carries the
// modifiers down once it has happened; the key's own events keep exactly `flags`. A program
// that follows modifiers by their own key events (a remote-desktop or virtual-machine client)
// then sees the shortcut as it was meant.
struct ModifierStrokes {
  std::vector<KeyStroke> before;  // posted before the key's own event
  std::vector<KeyStroke> after;   // posted after it
};
ModifierStrokes modifierStrokesAround(bool keyDown, std::uint64_t flags);

}  // namespace deskagent::platform
