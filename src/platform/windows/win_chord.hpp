#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>
#include <vector>

namespace deskagent::platform::windows {

struct ConsoleWindow;

// Types the shortcut chords with SendInput. The Command flag means the platform's shortcut
// modifier, Control; the letter key is looked up in the layout of the foreground window
// (VkKeyScanEx). Modifiers the user holds are released around the chord and pressed again after
// it, so the chord carries exactly its own; a held Alt or Windows key gets a mask key first, so
// its release opens neither the menu bar nor the Start menu. Consoles and terminals get their own
// paste (win_consoles.cpp) and never the copy chord.
class ChordPoster {
 public:
  // One half of a chord: the key's press (with Control) or its release (and Control's).
  void post(std::uint16_t macKeyCode, bool down, std::uint64_t flags);

 private:
  void press(WORD vk, std::uint64_t flags);
  void release(WORD vk);
  void pasteInto(const ConsoleWindow& console, HWND window);

  std::optional<WORD> pressedKey_;
  std::vector<WORD> pressedModifiers_;
  std::vector<WORD> releasedUserKeys_;
};

}  // namespace deskagent::platform::windows
