// The Windows application the end-to-end tests paste into and copy from: a focused window with
// one EDIT control, driven over stdin and stdout, one line each way.
//
//   stdout: "ready" once focused; "paste MODS HEX" after each paste (MODS: the modifiers held
//           with V, letters of "CSAW" or "-"; HEX: the control's whole text); "copy MODS" after
//           each copy; "selected" after select-all
//   stdin:  "select-all HEX" sets the control's text to HEX and selects it all

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>
#include <iostream>
#include <string>
#include <thread>

#include "x11/clients/hex.hpp"

namespace {

constexpr UINT kSelectAll = WM_APP + 1;

HWND edit = nullptr;
WNDPROC editProc = nullptr;
std::string heldWithLetter = "-";

void say(const std::string& line) {
  std::fputs((line + "\n").c_str(), stdout);
  std::fflush(stdout);
}

std::string utf8(const std::wstring& wide) {
  if (wide.empty()) return {};
  int n = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0,
                              nullptr, nullptr);
  std::string out(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), out.data(), n,
                      nullptr, nullptr);
  return out;
}

std::wstring wide(const std::string& bytes) {
  if (bytes.empty()) return {};
  int n = MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
  std::wstring out(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), out.data(), n);
  return out;
}

std::string unhex(const std::string& text) {
  std::string bytes;
  for (std::size_t i = 0; i + 1 < text.size(); i += 2) {
    bytes.push_back(static_cast<char>(std::stoi(text.substr(i, 2), nullptr, 16)));
  }
  return bytes;
}

std::string editText() {
  int length = GetWindowTextLengthW(edit);
  std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
  length = static_cast<int>(
      SendMessageW(edit, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data())));
  text.resize(static_cast<std::size_t>(length));
  return utf8(text);
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
  LRESULT result = CallWindowProcW(editProc, window, message, wParam, lParam);
  if (message == WM_PASTE) say("paste " + heldWithLetter + " " + x11_test::hex(editText()));
  if (message == WM_COPY) say("copy " + heldWithLetter);
  return result;
}

LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case kSelectAll: {
      auto* text = reinterpret_cast<std::string*>(lParam);
      SetWindowTextW(edit, wide(*text).c_str());
      delete text;
      SendMessageW(edit, EM_SETSEL, 0, -1);
      SetFocus(edit);
      say("selected");
      return 0;
    }
    case WM_SETFOCUS:
      SetFocus(edit);
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    default:
      return DefWindowProcW(window, message, wParam, lParam);
  }
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

  DWORD mainThread = GetCurrentThreadId();
  std::thread([window, mainThread] {
    std::string line;
    while (std::getline(std::cin, line)) {
      if (line.rfind("select-all ", 0) == 0) {
        PostMessageW(window, kSelectAll, 0,
                     reinterpret_cast<LPARAM>(new std::string(unhex(line.substr(11)))));
      }
    }
    PostThreadMessageW(mainThread, WM_QUIT, 0, 0);
  }).detach();

  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return 0;
}
