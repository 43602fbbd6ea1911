#include "platform/windows/win_consoles.hpp"

#include <array>

namespace deskagent::platform::windows {
namespace {

// The one list of console and terminal windows, by window class, with the paste each is sent
// and where that default comes from.
constexpr std::array<ConsoleWindow, 5> kConsoles{{
    // conhost, the Windows console: its system menu's Edit > Paste, ID_CONSOLE_PASTE (0xFFF1 in
    // the console host's resource.h, served as WM_SYSCOMMAND by its window procedure). It pastes
    // whether or not the console's "Ctrl key shortcuts" are on; Control+V pastes only while they
    // are, and types ^V in the legacy console.
    {L"ConsoleWindowClass", ConsolePaste::menuCommand, WM_SYSCOMMAND, 0xFFF1},
    // Wine's console (programs/conhost/window.c): no paste key at all; its menu's Paste is
    // WM_COMMAND IDS_PASTE, 0x112 in programs/conhost/conhost.h.
    {L"WineConsoleClass", ConsolePaste::menuCommand, WM_COMMAND, 0x112},
    // Windows Terminal: its defaults.json binds ctrl+shift+v (and shift+insert) to paste; ctrl+v
    // is only in the settings file a new user starts with, which the user may change.
    {L"CASCADIA_HOSTING_WINDOW_CLASS", ConsolePaste::controlShiftV},
    // mintty (Git Bash, MSYS2, Cygwin, WSLtty): Shift+Insert under ClipShortcuts, on by default;
    // its Ctrl+Shift+letter shortcuts are off by default.
    {L"mintty", ConsolePaste::shiftInsert},
    // PuTTY: Shift+Insert pastes (its manual, "Copying and pasting text"); Control+V goes to the
    // remote host.
    {L"PuTTY", ConsolePaste::shiftInsert},
}};

}  // namespace

const ConsoleWindow* consoleWindowOfClass(std::wstring_view className) {
  for (const auto& console : kConsoles) {
    if (console.className == className) return &console;
  }
  return nullptr;
}

const ConsoleWindow* consoleWindowOf(HWND window) {
  if (window == nullptr) return nullptr;
  std::array<wchar_t, 256> name{};
  int length = GetClassNameW(window, name.data(), static_cast<int>(name.size()));
  if (length <= 0) return nullptr;
  return consoleWindowOfClass(std::wstring_view(name.data(), static_cast<std::size_t>(length)));
}

}  // namespace deskagent::platform::windows
