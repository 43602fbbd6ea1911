// The Windows application the end-to-end tests paste into when they need to see which keys
// arrived: a focused window with one EDIT control.
//
//   stdout: "ready" once focused; "paste MODS HEX" after each paste (MODS: the modifiers held
//           with V, letters of "CSAW" or "-"; HEX: the control's whole text); "caps on" or
//           "caps off" at each release of Caps Lock (the lock as this window's thread sees it)

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>
#include <string>

#include "platform/windows/win_text.hpp"
#include "x11/clients/hex.hpp"

namespace {

using deskagent::platform::windows::toUtf8;

HWND edit = nullptr;
WNDPROC editProc = nullptr;
std::string heldWithLetter = "-";

void say(const std::string& line) {
  std::fputs((line + "\n").c_str(), stdout);
  std::fflush(stdout);
}

std::string editText() {
  std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(edit)) + 1, L'\0');
  int length = GetWindowTextW(edit, text.data(), static_cast<int>(text.size()));
  text.resize(static_cast<std::size_t>(length));
  return toUtf8(text);
}

std::string heldModifiers() {
  std::string mods;
  if (GetKeyState(VK_CONTROL) & 0x8000) mods += 'C';
  if (GetKeyState(VK_SHIFT) & 0x8000) mods += 'S';
  if (GetKeyState(VK_MENU) & 0x8000) mods += 'A';
  if ((GetKeyState(VK_LWIN) | GetKeyState(VK_RWIN)) & 0x8000) mods += 'W';
  return mods.empty() ? "-" : mods;
}

LRESULT CALLBACK editHook(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_KEYDOWN || message == WM_SYSKEYDOWN) heldWithLetter = heldModifiers();
  if (message == WM_KEYUP && wParam == VK_CAPITAL) {
    say(GetKeyState(VK_CAPITAL) & 1 ? "caps on" : "caps off");
  }
  LRESULT result = CallWindowProcW(editProc, window, message, wParam, lParam);
  if (message == WM_PASTE) say("paste " + heldWithLetter + " " + x11_test::hex(editText()));
  return result;
}

// The control has the window's focus. The window is never closed: the tests end its process.
LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message != WM_SETFOCUS) return DefWindowProcW(window, message, wParam, lParam);
  SetFocus(edit);
  return 0;
}

}  // namespace

int main() {
  _setmode(_fileno(stdout), _O_BINARY);  // lines end in "\n" alone, as the tests split them
  HINSTANCE instance = GetModuleHandleW(nullptr);
  WNDCLASSW windowClass{};
  windowClass.lpfnWndProc = windowProc;
  windowClass.hInstance = instance;
  windowClass.lpszClassName = L"win_test_window";
  RegisterClassW(&windowClass);
  HWND window = CreateWindowExW(0, L"win_test_window", L"test window", WS_OVERLAPPEDWINDOW, 0, 0,
                                400, 200, nullptr, nullptr, instance, nullptr);
  edit = CreateWindowExW(0, L"EDIT", L"", WS_CHILD | WS_VISIBLE | ES_MULTILINE | ES_AUTOVSCROLL, 0,
                         0, 380, 160, window, nullptr, instance, nullptr);
  editProc = reinterpret_cast<WNDPROC>(
      SetWindowLongPtrW(edit, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(editHook)));
  ShowWindow(window, SW_SHOW);
  SetForegroundWindow(window);
  SetFocus(edit);
  say("ready");

  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return 0;
}
