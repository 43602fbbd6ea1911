#include "platform/windows/win_clipboard.hpp"

#include <array>
#include <chrono>
#include <cstring>
#include <utility>

#include "platform/windows/win_clipboard_formats.hpp"
#include "platform/windows/win_text.hpp"

namespace deskagent::platform::windows {
namespace {

constexpr wchar_t kWindowClass[] = L"deskagent.clipboard";
// Another program (a clipboard manager, Wine's bridge to X11 while it fetches) may hold the
// clipboard open for a while; a paste's write asks again this often, for at most this long. The
// save before it has just found the clipboard free on the reader's thread: this covers a hold
// that began since, and bounds how long the loop, and the keys' events on it, can wait.
constexpr DWORD kOpenRetryMs = 10;
constexpr DWORD kOpenPatienceMs = 100;
// A restore that found the clipboard held is tried again this often, until it is let go; at
// exit for this long more at most.
constexpr Duration kRestoreRetry = std::chrono::milliseconds(20);
constexpr DWORD kExitRestoreMs = 2000;

// Registered formats that keep a text out of the clipboard history (Win+V), the cloud clipboard
// and clipboard managers: the first by its presence, the other two by a DWORD 0.
constexpr std::array<const wchar_t*, 3> kExclusionFormats{
    L"ExcludeClipboardContentFromMonitorProcessing", L"CanIncludeInClipboardHistory",
    L"CanUploadToCloudClipboard"};

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
bool put(UINT format, HGLOBAL memory) {
  if (memory == nullptr) return false;
  if (SetClipboardData(format, memory) != nullptr) return true;
  GlobalFree(memory);
  return false;
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

Clipboard::Clipboard(MainLoop& loop) : reader(loop), loop_(loop) {
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
  return static_cast<std::int64_t>(GetClipboardSequenceNumber()) - ownRenderChanges_ -
         reader.renderedChanges();
}

const PasteboardContents* Clipboard::ownContent() const {
  if (!owned_ || GetClipboardOwner() != window_ || changeCount() != ownedCount_) return nullptr;
  return &*owned_;
}

std::optional<std::string> Clipboard::ownText() const {
  const PasteboardContents* own = ownContent();
  if (own == nullptr) return std::nullopt;
  for (const auto& item : own->items) {
    for (const auto& representation : item.representations) {
      if (formatNumber(representation.type) == CF_UNICODETEXT)
        return textOfUnicode(representation.data.str());
    }
  }
  return std::nullopt;
}

void Clipboard::setContents(const PasteboardContents& contents) {
  dropRestore();
  if (OpenClipboard(window_)) {
    putContents(contents);
    return;
  }
  // Held by another program. The user's clipboard must come back once it is let go; until then
  // the keys and commands are served between the tries.
  pendingRestore_ = contents;
  pendingCount_ = changeCount();
  restoreRetry_ = loop_.startRepeating(kRestoreRetry, [this] { retryRestore(); });
}

void Clipboard::retryRestore() {
  // A copy made in the meantime is newer than what was saved, and wins.
  if (!pendingRestore_ || changeCount() != pendingCount_) {
    dropRestore();
  } else if (OpenClipboard(window_)) {
    putContents(*pendingRestore_);
    dropRestore();
  }
}

void Clipboard::dropRestore() {
  restoreRetry_.reset();
  pendingRestore_.reset();
}

void Clipboard::putContents(const PasteboardContents& contents) {
  EmptyClipboard();
  bool whole = true;
  for (const auto& item : contents.items) {
    for (const auto& representation : item.representations) {
      UINT format = formatNumber(representation.type);
      const Bytes& data = representation.data;
      whole = format != 0 && put(format, globalCopy(data.data(), data.size())) && whole;
    }
  }
  CloseClipboard();
  // What could not be put back (no memory for it) is read from the clipboard as it is.
  owned_.reset();
  if (whole) owned_ = contents;
  ownedCount_ = changeCount();
}

bool Clipboard::setTextNotifyingRead(const std::string& text, PasteboardReadCallback onRead) {
  if (!open()) return false;
  dropRestore();
  EmptyClipboard();  // sends our own window WM_DESTROYCLIPBOARD first if we held a promise
  promised_ = toWide(text);
  onRead_ = std::move(onRead);
  SetClipboardData(CF_UNICODETEXT, nullptr);
  putExclusionMarks();
  // Another agent finding this waits for our restore instead of saving our text as the user's.
  UINT marker = RegisterClipboardFormatW(toWide(kTransferMarkerType).c_str());
  put(marker, globalCopy("1", 1));
  CloseClipboard();
  // What a snapshot finds while it is there, read without rendering the promise.
  PasteboardItem item;
  const auto* units = reinterpret_cast<const char*>(promised_->c_str());
  item.representations.push_back(
      {formatName(CF_UNICODETEXT), std::string(units, (promised_->size() + 1) * sizeof(wchar_t))});
  const DWORD zero = 0;
  for (const wchar_t* name : kExclusionFormats) {
    item.representations.push_back(
        {formatName(RegisterClipboardFormatW(name)),
         std::string(reinterpret_cast<const char*>(&zero), sizeof zero)});
  }
  item.representations.push_back({formatName(marker), "1"});
  owned_ = PasteboardContents{{std::move(item)}};
  ownedCount_ = changeCount();
  return true;
}

void Clipboard::finish() {
  for (DWORD waited = 0; pendingRestore_ && waited < kExitRestoreMs; waited += kOpenRetryMs) {
    if (changeCount() != pendingCount_) break;
    if (OpenClipboard(window_)) {
      putContents(*pendingRestore_);
      break;
    }
    Sleep(kOpenRetryMs);
  }
  dropRestore();
  renderAll();
}

}  // namespace deskagent::platform::windows
