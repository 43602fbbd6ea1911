#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>

#include "loop/main_loop.hpp"
#include "platform/platform.hpp"

namespace deskagent::platform::windows {

// The formats Windows clipboards hold that are not plain content.
const std::vector<PasteboardTypeRule>& windowsTypeRules();

// The clipboard as the pasteboard operations see it, through a message-only window of the agent
// on the main loop's thread. GetClipboardSequenceNumber is the change count, which the transfers
// look at while they wait for a copy (no clipboard listener is needed for that). A paste's text is
// promised (delayed rendering) and rendered when a reader asks: that request is the notice that
// the target has read it.
class Clipboard {
 public:
  explicit Clipboard(MainLoop& loop);
  ~Clipboard();
  Clipboard(const Clipboard&) = delete;
  Clipboard& operator=(const Clipboard&) = delete;

  bool ready() const { return window_ != nullptr; }

  std::int64_t changeCount() const;
  std::optional<std::string> text();
  // Every format on the clipboard, in its owner's order; those that hold no global memory are
  // named for what they are ("#gdi:N", "#private:N"), so that the rules can tell them.
  PasteboardListing listing();
  // One format's bytes, as it is held in global memory.
  PasteboardTypeRead readType(const std::string& type, const PasteboardReadLimits& limits);

  void setContents(const PasteboardContents& contents);
  // The text of a paste: promised rather than written, marked so that clipboard history, the
  // cloud clipboard and clipboard managers leave it alone, and `onRead` posted when a reader
  // first asks for it. False when the clipboard could not be had.
  bool setTextNotifyingRead(const std::string& text, PasteboardReadCallback onRead);

  // At exit: what is still promised is rendered, so it outlives the agent.
  void renderAll();

 private:
  static LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT handle(UINT message, WPARAM wParam, LPARAM lParam);
  // OpenClipboard, tried again for a short while when another process holds it.
  bool open();
  void renderPromised();
  // Empties the open clipboard, writes `contents` and closes it.
  void putContents(const PasteboardContents& contents);
  void putContentsLater(PasteboardContents contents, std::int64_t count, int attempts);

  MainLoop& loop_;
  HWND window_ = nullptr;
  std::optional<std::wstring> promised_;
  PasteboardReadCallback onRead_;
  // Rendering what was promised is no change of content, though the system may count it.
  std::int64_t ownRenderChanges_ = 0;
};

}  // namespace deskagent::platform::windows
