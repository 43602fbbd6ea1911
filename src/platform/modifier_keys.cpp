#include "platform/modifier_keys.hpp"

namespace deskagent::platform {
namespace {

constexpr std::int64_t kFirstModifier = kMacRightCommand;
constexpr std::int64_t kLastModifier = kMacFn;

// The keys a synthetic shortcut's modifiers are pressed with, in the order they go down.
constexpr std::array<std::int64_t, 4> kShortcutModifierKeys{kMacLeftControl, kMacLeftOption,
                                                            kMacLeftShift, kMacLeftCommand};

const ModifierKey* findModifier(std::int64_t macKeyCode) {
  for (const auto& key : kModifierKeys) {
    if (key.macKeyCode == macKeyCode) return &key;
  }
  return nullptr;
}

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
  const ModifierKey* key = findModifier(macKeyCode);
  return key != nullptr ? key->independentFlag : 0;
}

std::uint64_t downFlagOf(std::int64_t macKeyCode) {
  if (macKeyCode == kMacCapsLock) return kFlagAlphaShift;
  const ModifierKey* key = findModifier(macKeyCode);
  if (key == nullptr) return 0;
  return key->deviceBit != 0 ? key->deviceBit : key->independentFlag;
}

ModifierStrokes modifierStrokesAround(bool keyDown, std::uint64_t flags) {
  std::vector<std::int64_t> modifiers;
  for (std::int64_t key : kShortcutModifierKeys) {
    if (flags & kindFlagOf(key)) modifiers.push_back(key);
  }
  ModifierStrokes strokes;
  HeldModifiers held;
  if (keyDown) {
    for (std::int64_t key : modifiers) {
      held.set(key, true);
      strokes.before.push_back({key, true, modifierFlags(held, false)});
    }
  } else {
    for (std::int64_t key : modifiers) held.set(key, true);
    for (auto key = modifiers.rbegin(); key != modifiers.rend(); ++key) {
      held.set(*key, false);
      strokes.after.push_back({*key, false, modifierFlags(held, false)});
    }
  }
  return strokes;
}

}  // namespace deskagent::platform
