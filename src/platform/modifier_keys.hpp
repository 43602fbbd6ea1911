#pragma once

// The watchable modifier keys as the host names them (macOS virtual key codes, on every system),
// and the flag word of a modifier-change event, built from which of them are held.

#include <cstdint>

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

}  // namespace deskagent::platform
