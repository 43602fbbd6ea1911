#include "platform/windows/win_chord.hpp"

#include <array>

#include "platform/platform.hpp"
#include "platform/windows/win_consoles.hpp"
#include "platform/windows/win_key_hook.hpp"

namespace deskagent::platform::windows {
namespace {

// An unassigned virtual key: pressed while Alt or Windows is down, it makes their release a
// chord rather than a lone tap.
constexpr WORD kMaskKey = 0xE8;

constexpr std::array<WORD, 8> kChordDisturbingKeys{VK_LSHIFT, VK_RSHIFT, VK_LCONTROL, VK_RCONTROL,
                                                   VK_LMENU,  VK_RMENU,  VK_LWIN,     VK_RWIN};

bool isExtended(WORD vk) {
  return vk == VK_RCONTROL || vk == VK_RMENU || vk == VK_LWIN || vk == VK_RWIN || vk == VK_INSERT;
}

bool opensMenuAlone(WORD vk) {
  return vk == VK_LMENU || vk == VK_RMENU || vk == VK_LWIN || vk == VK_RWIN;
}

void add(std::vector<INPUT>& inputs, WORD vk, bool down) {
  INPUT input{};
  input.type = INPUT_KEYBOARD;
  input.ki.wVk = vk;
  input.ki.wScan = static_cast<WORD>(MapVirtualKeyW(vk, MAPVK_VK_TO_VSC));
  input.ki.dwFlags = (down ? 0 : KEYEVENTF_KEYUP) | (isExtended(vk) ? KEYEVENTF_EXTENDEDKEY : 0);
  input.ki.dwExtraInfo = kOwnInputTag;
  inputs.push_back(input);
}

void addMaskTap(std::vector<INPUT>& inputs) {
  add(inputs, kMaskKey, true);
  add(inputs, kMaskKey, false);
}

void send(std::vector<INPUT>& inputs) {
  if (!inputs.empty()) SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
}

std::optional<wchar_t> letterForMacKeyCode(std::uint16_t macKeyCode) {
  if (macKeyCode == kMacKeyV) return L'v';
  if (macKeyCode == kMacKeyC) return L'c';
  return std::nullopt;
}

// The virtual key that types `letter` in the foreground window's layout; the letter's own key
// (VK 'V', 'C': the US positions) where that layout has none.
WORD virtualKeyForLetter(wchar_t letter) {
  DWORD thread = GetWindowThreadProcessId(GetForegroundWindow(), nullptr);
  SHORT scan = VkKeyScanExW(letter, GetKeyboardLayout(thread));
  if (scan != -1 && (scan & 0xFF) != 0xFF) return static_cast<WORD>(scan & 0xFF);
  return static_cast<WORD>(letter - L'a' + 'A');
}

}  // namespace

void ChordPoster::press(WORD vk, std::uint64_t flags) {
  std::vector<INPUT> inputs;
  releasedUserKeys_.clear();
  bool mask = false;
  for (WORD held : kChordDisturbingKeys) {
    if ((GetAsyncKeyState(held) & 0x8000) != 0) {
      releasedUserKeys_.push_back(held);
      mask = mask || opensMenuAlone(held);
    }
  }
  if (mask) addMaskTap(inputs);
  for (WORD held : releasedUserKeys_) add(inputs, held, false);
  if (flags & (kFlagCommand | kFlagControl)) pressedModifiers_.push_back(VK_LCONTROL);
  if (flags & kFlagAlternate) pressedModifiers_.push_back(VK_LMENU);
  if (flags & kFlagShift) pressedModifiers_.push_back(VK_LSHIFT);
  for (WORD modifier : pressedModifiers_) add(inputs, modifier, true);
  add(inputs, vk, true);
  pressedKey_ = vk;
  send(inputs);
}

void ChordPoster::release(WORD vk) {
  std::vector<INPUT> inputs;
  add(inputs, vk, false);
  for (auto it = pressedModifiers_.rbegin(); it != pressedModifiers_.rend(); ++it) {
    add(inputs, *it, false);
  }
  bool mask = false;
  for (WORD held : releasedUserKeys_) {
    add(inputs, held, true);
    mask = mask || opensMenuAlone(held);
  }
  // The user's own release of Alt or Windows comes later, after this press: not a lone tap.
  if (mask) addMaskTap(inputs);
  send(inputs);
  pressedKey_.reset();
  pressedModifiers_.clear();
  releasedUserKeys_.clear();
}

void ChordPoster::post(std::uint16_t macKeyCode, bool down, std::uint64_t flags) {
  auto letter = letterForMacKeyCode(macKeyCode);
  if (!letter) return;
  if (!down) {
    if (pressedKey_) release(*pressedKey_);
    return;
  }
  if (pressedKey_) release(*pressedKey_);  // a chord whose release never came
  HWND target = GetForegroundWindow();
  const ConsoleWindow* console = (flags & kFlagCommand) ? consoleWindowOf(target) : nullptr;
  if (console == nullptr) {
    press(virtualKeyForLetter(*letter), flags);
  } else if (*letter == L'v') {
    pasteInto(*console, target);
  }
  // A console is never sent the copy chord: it would interrupt the program inside.
}

void ChordPoster::pasteInto(const ConsoleWindow& console, HWND window) {
  switch (console.paste) {
    case ConsolePaste::menuCommand:
      PostMessageW(window, console.message, console.command, 0);
      break;
    case ConsolePaste::controlShiftV:
      press(virtualKeyForLetter(L'v'), kFlagControl | kFlagShift);
      break;
    case ConsolePaste::shiftInsert:
      press(VK_INSERT, kFlagShift);
      break;
  }
}

}  // namespace deskagent::platform::windows
