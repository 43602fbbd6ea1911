#pragma once

// Windows virtual keys as the host names them (macOS key codes). Pure functions: the keyboard
// itself is read elsewhere.

#include <cstdint>
#include <optional>

namespace deskagent::platform::windows {

// A key event as the low-level keyboard hook reports it.
struct HookedKey {
  std::uint32_t vk;
  std::uint32_t scanCode;
  bool extended;  // LLKHF_EXTENDED
};

// The macOS key code of the modifier key of `key` (VK_RSHIFT is 60, VK_RMENU 61, ...), or nothing
// for other keys. The generic VK_SHIFT, VK_CONTROL and VK_MENU are told left from right by scan
// code and the extended flag. The Control that some layouts send ahead of AltGr is no key of the
// user's and yields nothing. Windows never reports Fn.
std::optional<std::int64_t> macKeyCodeForVirtualKey(const HookedKey& key);

// The virtual key of a macOS modifier key code, for asking the keyboard's state; 0 for Fn and
// other keys.
std::uint32_t virtualKeyForMacKeyCode(std::int64_t macKeyCode);

}  // namespace deskagent::platform::windows
