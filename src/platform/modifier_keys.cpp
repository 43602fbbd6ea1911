#include "platform/modifier_keys.hpp"

#include <array>

#include "platform/platform.hpp"

namespace deskagent::platform {
namespace {

constexpr std::int64_t kFirstModifier = kMacRightCommand;
constexpr std::int64_t kLastModifier = kMacFn;

struct ModifierKey {
  std::int64_t macKeyCode;
  std::uint64_t deviceBit;        // NX_DEVICE* bit of this very key; 0 where macOS has none
  std::uint64_t independentFlag;  // the flag any key of its kind sets while held
};

// The device-dependent bits are those of macOS's IOLLEvent.h; the host matches them per key.
constexpr std::array<ModifierKey, 10> kModifierKeys{{
    {kMacLeftControl, 0x1, kFlagControl},
    {kMacLeftShift, 0x2, kFlagShift},
    {kMacRightShift, 0x4, kFlagShift},
    {kMacLeftCommand, 0x8, kFlagCommand},
    {kMacRightCommand, 0x10, kFlagCommand},
    {kMacLeftOption, 0x20, kFlagAlternate},
    {kMacRightOption, 0x40, kFlagAlternate},
    {kMacRightControl, 0x2000, kFlagControl},
    {kMacFn, 0, kFlagSecondaryFn},
    {kMacCapsLock, 0, 0},  // reported through its lock state instead
}};

}  // namespace

void HeldModifiers::set(std::int64_t macKeyCode, bool held) {
  if (macKeyCode < kFirstModifier || macKeyCode > kLastModifier) return;
  auto bit = static_cast<std::uint16_t>(1u << (macKeyCode - kFirstModifier));
  bits_ = held ? static_cast<std::uint16_t>(bits_ | bit) : static_cast<std::uint16_t>(bits_ & ~bit);
}

bool HeldModifiers::has(std::int64_t macKeyCode) const {
  if (macKeyCode < kFirstModifier || macKeyCode > kLastModifier) return false;
  return (bits_ >> (macKeyCode - kFirstModifier)) & 1u;
}

std::uint64_t modifierFlags(const HeldModifiers& held, bool capsLocked) {
  std::uint64_t flags = capsLocked ? kFlagAlphaShift : 0;
  for (const auto& key : kModifierKeys) {
    if (held.has(key.macKeyCode)) flags |= key.deviceBit | key.independentFlag;
  }
  return flags;
}

std::uint64_t kindFlagOf(std::int64_t macKeyCode) {
  for (const auto& key : kModifierKeys) {
    if (key.macKeyCode == macKeyCode) return key.independentFlag;
  }
  return 0;
}

}  // namespace deskagent::platform
