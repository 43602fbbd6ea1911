#include "platform/windows/win_clipboard.hpp"

#include <array>
#include <chrono>
#include <cstring>
#include <utility>

#include "platform/windows/win_text.hpp"

namespace deskagent::platform::windows {
namespace {

constexpr wchar_t kWindowClass[] = L"deskagent.clipboard";
// Another process (a clipboard manager, Wine's bridge to X11 while it fetches) may hold the
// clipboard open for a while; it is asked again this often, for at most this long.
constexpr DWORD kOpenRetryMs = 10;
constexpr DWORD kOpenPatienceMs = 1000;
// A restore that could not have the clipboard is tried again this often, this many times.
constexpr Duration kLaterRestoreInterval = std::chrono::milliseconds(250);
constexpr int kLaterRestoreAttempts = 8;

// Registered formats that keep a text out of the clipboard history (Win+V), the cloud clipboard
// and clipboard managers: the first by its presence, the other two by a DWORD 0.
constexpr std::array<const wchar_t*, 3> kExclusionFormats{
    L"ExcludeClipboardContentFromMonitorProcessing", L"CanIncludeInClipboardHistory",
    L"CanUploadToCloudClipboard"};

// Formats whose data is a GDI object or a private handle rather than global memory.
bool isMemoryFormat(UINT format) {
  switch (format) {
    case CF_BITMAP:
    case CF_METAFILEPICT:
    case CF_PALETTE:
    case CF_ENHMETAFILE:
    case CF_OWNERDISPLAY:
    case CF_DSPBITMAP:
    case CF_DSPMETAFILEPICT:
    case CF_DSPENHMETAFILE:
      return false;
    default:
      return !(format >= CF_PRIVATEFIRST && format <= CF_GDIOBJLAST);
  }
}

// Registered formats by name (their numbers differ between sessions), the others by number;
// those that hold a GDI object or a private handle rather than global memory say so.
std::string formatName(UINT format) {
  if (!isMemoryFormat(format)) {
    bool gdi = format >= CF_GDIOBJFIRST && format <= CF_GDIOBJLAST;
    return (gdi || format < CF_PRIVATEFIRST ? "#gdi:" : "#private:") + std::to_string(format);
  }
  if (format >= 0xC000) {
    std::array<wchar_t, 256> name{};
    int length = GetClipboardFormatNameW(format, name.data(), static_cast<int>(name.size()));
    if (length > 0) return toUtf8(std::wstring_view(name.data(), static_cast<std::size_t>(length)));
  }
  return "#" + std::to_string(format);
}

UINT formatNumber(const std::string& name) {
  if (name.size() > 1 && name[0] == '#') {
    try {
      return static_cast<UINT>(std::stoul(name.substr(1)));
    } catch (...) {
      return 0;
    }
  }
  return RegisterClipboardFormatW(toWide(name).c_str());
}

HGLOBAL globalCopy(const void* data, std::size_t size) {
  HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, size == 0 ? 1 : size);
  if (memory == nullptr) return nullptr;
  if (void* p = GlobalLock(memory)) {
    if (size > 0) std::memcpy(p, data, size);
    GlobalUnlock(memory);
    return memory;
  }
  GlobalFree(memory);
  return nullptr;
}

// Hands `memory` to the clipboard, which owns it from then on; freed when it is refused.
void put(UINT format, HGLOBAL memory) {
  if (memory != nullptr && SetClipboardData(format, memory) == nullptr) GlobalFree(memory);
}

void putText(const std::wstring& text) {
  put(CF_UNICODETEXT, globalCopy(text.c_str(), (text.size() + 1) * sizeof(wchar_t)));
}

void putExclusionMarks() {
  DWORD zero = 0;
  for (const wchar_t* name : kExclusionFormats) {
    put(RegisterClipboardFormatW(name), globalCopy(&zero, sizeof zero));
  }
}

// Waits `ms` while still serving the messages sent to this thread, the keyboard hook's calls
// among them: the user's typing must not stall while the agent waits for the clipboard.
void waitServingSentMessages(DWORD ms) {
  ULONGLONG end = GetTickCount64() + ms;
  for (ULONGLONG now = GetTickCount64(); now < end; now = GetTickCount64()) {
    MsgWaitForMultipleObjectsEx(0, nullptr, static_cast<DWORD>(end - now), QS_SENDMESSAGE, 0);
    MSG msg;
    PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
  }
}

}  // namespace

Clipboard::Clipboard(MainLoop& loop) : loop_(loop) {
  HINSTANCE instance = GetModuleHandleW(nullptr);
  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof windowClass;
  windowClass.lpfnWndProc = &Clipboard::windowProc;
  windowClass.hInstance = instance;
  windowClass.lpszClassName = kWindowClass;
  RegisterClassExW(&windowClass);  // fails harmlessly when already registered
  window_ = CreateWindowExW(0, kWindowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, instance,
                            nullptr);
  if (window_ == nullptr) return;
  SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
}

Clipboard::~Clipboard() {
  if (window_ == nullptr) return;
  renderAll();
  SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
  DestroyWindow(window_);
}

LRESULT CALLBACK Clipboard::windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* self = reinterpret_cast<Clipboard*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (self != nullptr) return self->handle(message, wParam, lParam);
  return DefWindowProcW(window, message, wParam, lParam);
}

LRESULT Clipboard::handle(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_RENDERFORMAT:
      // The reader has the clipboard open: only SetClipboardData, no OpenClipboard.
      if (wParam == CF_UNICODETEXT) renderPromised();
      return 0;
    case WM_RENDERALLFORMATS:
      renderAll();
      return 0;
    case WM_DESTROYCLIPBOARD:
      // Someone emptied the clipboard: our promise went with it.
      promised_.reset();
      onRead_ = nullptr;
      return 0;
    default:
      return DefWindowProcW(window_, message, wParam, lParam);
  }
}

bool Clipboard::open() {
  if (window_ == nullptr) return false;
  for (DWORD waited = 0;; waited += kOpenRetryMs) {
    if (OpenClipboard(window_)) return true;
    if (waited >= kOpenPatienceMs) return false;
    waitServingSentMessages(kOpenRetryMs);
  }
}

void Clipboard::renderPromised() {
  if (!promised_) return;
  DWORD before = GetClipboardSequenceNumber();
  putText(*promised_);
  ownRenderChanges_ += static_cast<DWORD>(GetClipboardSequenceNumber() - before);
  promised_.reset();
  if (onRead_) loop_.post(std::exchange(onRead_, nullptr));
}

void Clipboard::renderAll() {
  if (!promised_ || !OpenClipboard(window_)) return;
  // Between the notice and the opening another process may have taken the clipboard.
  if (GetClipboardOwner() == window_) renderPromised();
  CloseClipboard();
}

std::int64_t Clipboard::changeCount() const {
  return static_cast<std::int64_t>(GetClipboardSequenceNumber()) - ownRenderChanges_;
}

std::optional<std::string> Clipboard::text() {
  if (!open()) return std::nullopt;
  std::optional<std::string> text;
  if (HANDLE data = GetClipboardData(CF_UNICODETEXT)) {
    if (const auto* p = static_cast<const wchar_t*>(GlobalLock(data))) {
      std::size_t units = GlobalSize(data) / sizeof(wchar_t);
      std::size_t length = 0;
      while (length < units && p[length] != L'\0') ++length;
      text = toUtf8(std::wstring_view(p, length));
      GlobalUnlock(data);
    }
  }
  CloseClipboard();
  return text;
}

PasteboardListing Clipboard::listing() {
  // Held by another process past our patience: nothing can be read, so nothing may be written
  // over it (the transfer is refused with "clipboard").
  if (!open()) return PasteboardListing{{}, PasteboardReadError::failed};
  std::vector<std::string> types;
  for (UINT format = EnumClipboardFormats(0); format != 0; format = EnumClipboardFormats(format)) {
    types.push_back(formatName(format));
  }
  CloseClipboard();
  PasteboardListing listing;
  if (!types.empty()) listing.items.push_back(std::move(types));
  return listing;
}

PasteboardTypeRead Clipboard::readType(const std::string& type,
                                       const PasteboardReadLimits& limits) {
  UINT format = formatNumber(type);
  if (format == 0 || !isMemoryFormat(format)) return {{}, PasteboardReadError::refused};
  if (!open()) return {{}, PasteboardReadError::failed};
  PasteboardTypeRead read{{}, PasteboardReadError::refused};
  if (HANDLE data = GetClipboardData(format)) {
    std::size_t size = GlobalSize(data);
    if (size > limits.maxBytes) {
      read.error = PasteboardReadError::overBudget;
    } else if (const auto* p = static_cast<const char*>(GlobalLock(data))) {
      read = PasteboardTypeRead{std::string(p, size), {}};
      GlobalUnlock(data);
    } else {
      read.error = PasteboardReadError::failed;
    }
  }
  CloseClipboard();
  return read;
}

void Clipboard::setContents(const PasteboardContents& contents) {
  if (open()) {
    putContents(contents);
  } else {
    // The user's clipboard must come back: held longer, it is asked for again a while later.
    putContentsLater(contents, changeCount(), kLaterRestoreAttempts);
  }
}

void Clipboard::putContents(const PasteboardContents& contents) {
  EmptyClipboard();
  for (const auto& item : contents.items) {
    for (const auto& representation : item.representations) {
      UINT format = formatNumber(representation.type);
      if (format == 0 || !isMemoryFormat(format)) continue;
      put(format, globalCopy(representation.data.data(), representation.data.size()));
    }
  }
  CloseClipboard();
}

// A one-shot loop task, so an agent told to end waits for it. The clipboard outlives the loop's
// work: the platform is let go only after the loop has run every such task.
void Clipboard::putContentsLater(PasteboardContents contents, std::int64_t count, int attempts) {
  loop_.postDelayed(kLaterRestoreInterval,
                    [this, contents = std::move(contents), count, attempts]() mutable {
                      // A copy made in the meantime is newer than what was saved, and wins.
                      if (changeCount() != count) return;
                      if (OpenClipboard(window_)) {
                        putContents(contents);
                      } else if (attempts > 1) {
                        putContentsLater(std::move(contents), count, attempts - 1);
                      }
                    });
}

bool Clipboard::setTextNotifyingRead(const std::string& text, PasteboardReadCallback onRead) {
  if (!open()) return false;
  EmptyClipboard();  // sends our own window WM_DESTROYCLIPBOARD first if we held a promise
  promised_ = toWide(text);
  onRead_ = std::move(onRead);
  SetClipboardData(CF_UNICODETEXT, nullptr);
  putExclusionMarks();
  // Another agent finding this waits for our restore instead of saving our text as the user's.
  put(RegisterClipboardFormatW(toWide(kTransferMarkerType).c_str()), globalCopy("1", 1));
  CloseClipboard();
  return true;
}

}  // namespace deskagent::platform::windows
