#pragma once

#include <windows.h>

#include <string_view>

namespace deskagent::platform::windows {

// How a console or terminal window takes a paste. None of them is ever sent the copy chord:
// Control+C there is the interrupt of the program inside (a console raises CTRL_C_EVENT, and an
// idle cmd.exe under Wine exits), so a read of their selection answers "empty".
enum class ConsolePaste {
  menuCommand,    // the window's own Edit > Paste command, posted to it: `message`, `command`
  controlShiftV,  // the paste key of terminals that keep Control+V for the program inside
  shiftInsert,
};

struct ConsoleWindow {
  std::wstring_view className;
  ConsolePaste paste;
  UINT message = 0;
  WPARAM command = 0;
};

// The console or terminal that windows of this class are, or null for any other window.
const ConsoleWindow* consoleWindowOfClass(std::wstring_view className);
const ConsoleWindow* consoleWindowOf(HWND window);

}  // namespace deskagent::platform::windows
