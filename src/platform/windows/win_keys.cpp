#include "platform/windows/win_keys.hpp"

#include <windows.h>

#include <array>

#include "platform/modifier_keys.hpp"

namespace deskagent::platform::windows {
namespace {

// Set in the hook's scan code of the Control key that AltGr layouts send before Right Alt.
constexpr std::uint32_t kAltGrControlScanFlag = 0x200;
constexpr std::uint32_t kRightShiftScanCode = 0x36;

struct VirtualKeyRow {
  std::uint32_t vk;
  std::int64_t macKeyCode;
};

constexpr std::array<VirtualKeyRow, 9> kVirtualKeys{{
    {VK_LSHIFT, kMacLeftShift},
    {VK_RSHIFT, kMacRightShift},
    {VK_LCONTROL, kMacLeftControl},
    {VK_RCONTROL, kMacRightControl},
    {VK_LMENU, kMacLeftOption},
    {VK_RMENU, kMacRightOption},
    {VK_LWIN, kMacLeftCommand},
    {VK_RWIN, kMacRightCommand},
    {VK_CAPITAL, kMacCapsLock},
}};

std::uint32_t sidedVirtualKey(const HookedKey& key) {
  switch (key.vk) {
    case VK_SHIFT:
      return (key.scanCode & 0xFF) == kRightShiftScanCode ? VK_RSHIFT : VK_LSHIFT;
    case VK_CONTROL:
      return key.extended ? VK_RCONTROL : VK_LCONTROL;
    case VK_MENU:
      return key.extended ? VK_RMENU : VK_LMENU;
    default:
      return key.vk;
  }
}

}  // namespace

std::optional<std::int64_t> macKeyCodeForVirtualKey(const HookedKey& key) {
  std::uint32_t vk = sidedVirtualKey(key);
  if (vk == VK_LCONTROL && (key.scanCode & kAltGrControlScanFlag)) return std::nullopt;
  for (const auto& row : kVirtualKeys) {
    if (row.vk == vk) return row.macKeyCode;
  }
  return std::nullopt;
}

std::uint32_t virtualKeyForMacKeyCode(std::int64_t macKeyCode) {
  for (const auto& row : kVirtualKeys) {
    if (row.macKeyCode == macKeyCode) return row.vk;
  }
  return 0;
}

}  // namespace deskagent::platform::windows
