// What the end-to-end tests ask of the Windows desktop, through Win32, from a program of its own:
//
//   win_probe focus CLASS        waits (20 s at most) for a window of CLASS, brings it to the
//                                foreground and prints "ready" once it is there
//   win_probe text CLASS CHILD   prints the text of the first CHILD control of the window of
//                                CLASS (WM_GETTEXT), in hex
//   win_probe select CLASS CHILD selects all the text of that control (EM_SETSEL), as the user
//                                would before a read of the selection
//   win_probe keys CLASS KEY...  brings the window of CLASS to the foreground and types KEY... in
//                                one SendInput: +VK presses and -VK releases a virtual key (hex)
//   win_probe close CLASS        asks the window of CLASS to close (WM_CLOSE)
//
// Exit status 1 when there is no such window.

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/windows/win_text.hpp"
#include "x11/clients/hex.hpp"

namespace {

using deskagent::platform::windows::toUtf8;
using deskagent::platform::windows::toWide;

bool focus(HWND window) {
  // Without a window manager X gives the keys to the window under the pointer.
  RECT rect{};
  if (GetWindowRect(window, &rect))
    SetCursorPos((rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2);
  for (int tries = 0; tries < 200; ++tries) {
    if (GetForegroundWindow() == window) return true;
    SetForegroundWindow(window);
    Sleep(100);
  }
  return false;
}

// "+VK" or "-VK", the virtual key in hex; the navigation keys as the extended keys they are.
INPUT key(const char* step) {
  INPUT input{};
  input.type = INPUT_KEYBOARD;
  input.ki.wVk = static_cast<WORD>(std::strtoul(step + 1, nullptr, 16));
  input.ki.wScan = static_cast<WORD>(MapVirtualKeyW(input.ki.wVk, MAPVK_VK_TO_VSC));
  input.ki.dwFlags = step[0] == '-' ? KEYEVENTF_KEYUP : 0;
  if (input.ki.wVk >= VK_PRIOR && input.ki.wVk <= VK_DOWN)
    input.ki.dwFlags |= KEYEVENTF_EXTENDEDKEY;
  return input;
}

std::string text(HWND window) {
  auto length = SendMessageW(window, WM_GETTEXTLENGTH, 0, 0);
  std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
  auto copied =
      SendMessageW(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()));
  text.resize(static_cast<std::size_t>(copied));
  return toUtf8(text);
}

}  // namespace

int main(int argc, char** argv) {
  _setmode(_fileno(stdout), _O_BINARY);
  if (argc < 3) return 2;
  const std::string command = argv[1];
  const std::wstring windowClass = toWide(argv[2]);
  HWND window = FindWindowW(windowClass.c_str(), nullptr);
  for (int tries = 0; window == nullptr && command == "focus" && tries < 200; ++tries) {
    Sleep(100);
    window = FindWindowW(windowClass.c_str(), nullptr);
  }
  if (window == nullptr) return 1;
  if (command == "focus") {
    if (!focus(window)) return 1;
    std::puts("ready");
  } else if ((command == "text" || command == "select") && argc > 3) {
    HWND child = FindWindowExW(window, nullptr, toWide(argv[3]).c_str(), nullptr);
    if (child == nullptr) return 1;
    if (command == "text") std::puts(x11_test::hex(text(child)).c_str());
    if (command == "select") SendMessageW(child, EM_SETSEL, 0, -1);
  } else if (command == "keys") {
    if (!focus(window)) return 1;
    std::vector<INPUT> inputs;
    for (int i = 3; i < argc; ++i) inputs.push_back(key(argv[i]));
    SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
  } else if (command == "close") {
    PostMessageW(window, WM_CLOSE, 0, 0);
  } else {
    return 2;
  }
  return 0;
}
