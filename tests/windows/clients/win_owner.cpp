// A program of the user's that copies, standing for the clipboard owners the end-to-end tests
// cannot find among Wine's own programs:
//
//   win_owner hang MS          promises text (delayed rendering), says "ready", then serves no
//                              message for MS ms, says "awake" and renders "owner's text" if asked
//   win_owner copy KIND        copies KIND and says "ready": "cjk" (68 MB of CJK text, offered as
//                              Unicode text alone), "private" (70 MB of a registered format beside
//                              a short text), "big" (likewise, 210 MB) or "dib" (a 4200 x 4200
//                              32-bit DIB, 70.56 MB)
//   win_owner check KIND       says "same" when the clipboard holds exactly what `copy KIND` copied
//   win_owner hold MS          opens the clipboard, says "holding", keeps it open MS ms and says
//                              "released"
//   win_owner hold-read MS     when a paste's text appears (its clipboard-history mark), reads it
//                              holding the clipboard open, says "holding", keeps it MS ms more
//                              and says "released"
//
// It serves its messages until it is ended.

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

constexpr wchar_t kPrivateFormat[] = L"deskagent test private";
constexpr wchar_t kPasteMark[] = L"ExcludeClipboardContentFromMonitorProcessing";
constexpr LONG kDibSide = 4200;

DWORD holdMs = 0;
bool holding = false;

void say(const char* line) {
  std::printf("%s\n", line);
  std::fflush(stdout);
}

std::size_t sizeOf(const std::string& kind) {
  if (kind == "cjk") return 68'000'000;
  if (kind == "private") return 70'000'000;
  if (kind == "big") return 210'000'000;  // past what a snapshot holds
  if (kind == "dib") return sizeof(BITMAPINFOHEADER) + std::size_t{kDibSide} * kDibSide * 4;
  return 0;
}

// The content of `kind`, byte by byte, so that neither copying nor checking needs a second copy.
char byteAt(const std::string& kind, std::size_t i) {
  if (kind == "cjk") {
    std::size_t unit = i / 2;
    unsigned value = unit == 0 ? '0' : unit + 1 == sizeOf(kind) / 2 ? 0 : 0x4E00 + unit % 20000;
    return static_cast<char>(i % 2 == 0 ? value & 0xFF : value >> 8);
  }
  if (kind == "dib" && i < sizeof(BITMAPINFOHEADER)) {
    BITMAPINFOHEADER header{};
    header.biSize = sizeof header;
    header.biWidth = kDibSide;
    header.biHeight = kDibSide;
    header.biPlanes = 1;
    header.biBitCount = 32;
    header.biCompression = BI_RGB;
    return reinterpret_cast<const char*>(&header)[i];
  }
  return static_cast<char>(i * 31 + i / 4096);
}

UINT formatOf(const std::string& kind) {
  if (kind == "cjk") return CF_UNICODETEXT;
  if (kind == "dib") return CF_DIB;
  return RegisterClipboardFormatW(kPrivateFormat);
}

void put(UINT format, const void* data, std::size_t size) {
  HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, size);
  std::memcpy(GlobalLock(memory), data, size);
  GlobalUnlock(memory);
  SetClipboardData(format, memory);
}

bool copy(HWND window, const std::string& kind) {
  std::size_t size = sizeOf(kind);
  HGLOBAL memory = size != 0 ? GlobalAlloc(GMEM_MOVEABLE, size) : nullptr;
  if (memory == nullptr || !OpenClipboard(window)) return false;
  auto* bytes = static_cast<char*>(GlobalLock(memory));
  for (std::size_t i = 0; i < size; ++i) bytes[i] = byteAt(kind, i);
  GlobalUnlock(memory);
  EmptyClipboard();
  SetClipboardData(formatOf(kind), memory);
  if (kind == "private" || kind == "big") {
    const wchar_t text[] = L"owner's text";
    put(CF_UNICODETEXT, text, sizeof text);
  }
  CloseClipboard();
  return true;
}

bool check(const std::string& kind) {
  if (!OpenClipboard(nullptr)) return false;
  HANDLE data = GetClipboardData(formatOf(kind));
  std::size_t size = sizeOf(kind);
  bool same = data != nullptr && GlobalSize(data) >= size;
  if (same) {
    const auto* bytes = static_cast<const char*>(GlobalLock(data));
    for (std::size_t i = 0; same && i < size; ++i) same = bytes[i] == byteAt(kind, i);
    GlobalUnlock(data);
  }
  CloseClipboard();
  return same;
}

LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_RENDERFORMAT && wParam == CF_UNICODETEXT) {
    const wchar_t text[] = L"owner's text";
    put(CF_UNICODETEXT, text, sizeof text);
    return 0;
  }
  if (message == WM_CLIPBOARDUPDATE && holdMs != 0 && !holding &&
      IsClipboardFormatAvailable(RegisterClipboardFormatW(kPasteMark)) && OpenClipboard(window)) {
    holding = true;
    GetClipboardData(CF_UNICODETEXT);  // the paste's reader: its owner learns of the read now
    say("holding");
    Sleep(holdMs);
    CloseClipboard();
    say("released");
    return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace

int main(int argc, char** argv) {
  _setmode(_fileno(stdout), _O_BINARY);
  if (argc < 3) return 2;
  const std::string mode = argv[1];
  const std::string argument = argv[2];
  if (mode == "check") {
    say(check(argument) ? "same" : "differs");
    return 0;
  }
  WNDCLASSW windowClass{};
  windowClass.lpfnWndProc = windowProc;
  windowClass.hInstance = GetModuleHandleW(nullptr);
  windowClass.lpszClassName = L"win_owner";
  RegisterClassW(&windowClass);
  HWND window = CreateWindowExW(0, L"win_owner", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                windowClass.hInstance, nullptr);
  if (mode == "hang") {
    if (!OpenClipboard(window)) return 1;
    EmptyClipboard();
    SetClipboardData(CF_UNICODETEXT, nullptr);
    CloseClipboard();
    say("ready");
    Sleep(static_cast<DWORD>(std::atoi(argument.c_str())));
    say("awake");
  } else if (mode == "copy") {
    if (!copy(window, argument)) return 1;
    say("ready");
  } else if (mode == "hold") {
    if (!OpenClipboard(window)) return 1;
    say("holding");
    Sleep(static_cast<DWORD>(std::atoi(argument.c_str())));
    CloseClipboard();
    say("released");
  } else if (mode == "hold-read") {
    holdMs = static_cast<DWORD>(std::atoi(argument.c_str()));
    AddClipboardFormatListener(window);
    say("ready");
  } else {
    return 2;
  }
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) DispatchMessageW(&msg);
  return 0;
}
