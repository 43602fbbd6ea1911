#include "platform/windows/win_key_hook.hpp"

#include "platform/windows/win_keys.hpp"

namespace deskagent::platform::windows {

KeyHook* KeyHook::active_ = nullptr;

KeyHook::KeyHook(std::function<void(const KeyboardEvent&)> onChange)
    : onChange_(std::move(onChange)) {
  hook_ = SetWindowsHookExW(WH_KEYBOARD_LL, &KeyHook::hookProc, GetModuleHandleW(nullptr), 0);
  if (hook_ != nullptr) active_ = this;
}

KeyHook::~KeyHook() {
  if (hook_ != nullptr) UnhookWindowsHookEx(hook_);
  if (active_ == this) active_ = nullptr;
}

bool KeyHook::canInstall() {
  if (active_ != nullptr) return true;
  HHOOK trial = SetWindowsHookExW(WH_KEYBOARD_LL, &KeyHook::hookProc, GetModuleHandleW(nullptr), 0);
  if (trial == nullptr) return false;
  UnhookWindowsHookEx(trial);
  return true;
}

LRESULT CALLBACK KeyHook::hookProc(int code, WPARAM message, LPARAM data) {
  if (code == HC_ACTION && active_ != nullptr) {
    active_->see(message, *reinterpret_cast<const KBDLLHOOKSTRUCT*>(data));
  }
  // Always on to the next hook and the application, never held back or changed.
  return CallNextHookEx(nullptr, code, message, data);
}

void KeyHook::see(WPARAM message, const KBDLLHOOKSTRUCT& key) {
  if ((key.flags & LLKHF_INJECTED) != 0 && key.dwExtraInfo == kOwnInputTag) return;
  auto macKeyCode =
      macKeyCodeForVirtualKey({key.vkCode, key.scanCode, (key.flags & LLKHF_EXTENDED) != 0});
  if (!macKeyCode) return;
  bool down = message == WM_KEYDOWN || message == WM_SYSKEYDOWN;
  if (*macKeyCode == kMacCapsLock) {
    if (down == capsHeld_) return;  // auto-repeat
    capsHeld_ = down;
    if (down) {
      // The lock turns on a press; a press whose starting state is unknown waits for its release.
      if (!capsLocked_) return;
      capsLocked_ = !*capsLocked_;
    } else {
      // The system's key state has taken the press by now: it settles an unknown or missed one.
      bool locked = (GetKeyState(VK_CAPITAL) & 1) != 0;
      if (capsLocked_ == locked) return;
      capsLocked_ = locked;
    }
  } else {
    if (held_.has(*macKeyCode) == down) return;  // auto-repeat
    held_.set(*macKeyCode, down);
  }
  bool locked = capsLocked_.value_or((GetKeyState(VK_CAPITAL) & 1) != 0);
  onChange_(KeyboardEvent{*macKeyCode, modifierFlags(held_, locked)});
}

std::uint64_t currentKeyboardFlags() {
  HeldModifiers held;
  for (std::int64_t mac = kMacRightCommand; mac <= kMacRightControl; ++mac) {
    UINT vk = virtualKeyForMacKeyCode(mac);
    if (vk != 0 && mac != kMacCapsLock)
      held.set(mac, (GetAsyncKeyState(static_cast<int>(vk)) & 0x8000) != 0);
  }
  return modifierFlags(held, (GetKeyState(VK_CAPITAL) & 1) != 0);
}

}  // namespace deskagent::platform::windows
