#pragma once

#include <windows.h>

#include <functional>
#include <optional>

#include "platform/modifier_keys.hpp"
#include "platform/platform.hpp"

namespace deskagent::platform::windows {

// Marks the agent's own synthetic input (SendInput's dwExtraInfo), so the hook passes over it.
inline constexpr ULONG_PTR kOwnInputTag = 0x64736B61;

// A listen-only WH_KEYBOARD_LL hook on the thread that installs it (the main loop's, whose
// message pump calls it). It always hands the key on with CallNextHookEx, unchanged, and only
// records modifier changes: each becomes a KeyboardEvent for `onChange`, called from inside the
// hook, so it must only post. The agent's own chord is passed over. Caps Lock's lock state is
// read from this thread's key state at the key's release, when it holds the press for certain,
// and followed from press to press after that.
class KeyHook {
 public:
  explicit KeyHook(std::function<void(const KeyboardEvent&)> onChange);
  ~KeyHook();
  KeyHook(const KeyHook&) = delete;
  KeyHook& operator=(const KeyHook&) = delete;

  // False when the system refuses the hook.
  bool installed() const { return hook_ != nullptr; }

  // Whether a hook can be had right now (one is installed and let go again).
  static bool canInstall();

 private:
  static LRESULT CALLBACK hookProc(int code, WPARAM message, LPARAM data);
  void see(WPARAM message, const KBDLLHOOKSTRUCT& key);

  std::function<void(const KeyboardEvent&)> onChange_;
  HHOOK hook_ = nullptr;
  HeldModifiers held_;
  bool capsHeld_ = false;
  // Unknown until the first release of Caps Lock: a new thread's own key state can read the lock
  // off while it is on (Wine), and only after a press of the key does it say for certain.
  std::optional<bool> capsLocked_;
  static KeyHook* active_;  // the hook procedure has no context of its own
};

// The flags of the keyboard as it is now (GetAsyncKeyState; Caps Lock's lock state).
std::uint64_t currentKeyboardFlags();

}  // namespace deskagent::platform::windows
