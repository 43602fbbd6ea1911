#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>

#include "loop/main_loop.hpp"
#include "platform/platform.hpp"
#include "platform/windows/win_clipboard_reader.hpp"

namespace deskagent::platform::windows {

// The formats Windows clipboards hold that are not plain content.
const std::vector<PasteboardTypeRule>& windowsTypeRules();

// The clipboard as the pasteboard operations see it, through a message-only window of the agent
// on the main loop's thread. GetClipboardSequenceNumber is the change count, which the transfers
// look at while they wait for a copy (no clipboard listener is needed for that). A paste's text is
// promised (delayed rendering) and rendered when a reader asks: that request is the notice that
// the target has read it. Other programs' content is read by `reader`, off the main loop.
class Clipboard {
 public:
  explicit Clipboard(MainLoop& loop);
  ~Clipboard();
  Clipboard(const Clipboard&) = delete;
  Clipboard& operator=(const Clipboard&) = delete;

  bool ready() const { return window_ != nullptr; }

  std::int64_t changeCount() const;
  // What the agent itself put on the clipboard, while it is still there: read from memory, its
  // bytes handed on, never rendered or copied again.
  const PasteboardContents* ownContent() const;
  // The Unicode text of our own content, as UTF-8.
  std::optional<std::string> ownText() const;

  // Replaces the content; a clipboard that another program holds open is asked for again on the
  // loop for as long as it still holds what it held (the dictated text): a newer copy wins.
  void setContents(const PasteboardContents& contents);
  // The text of a paste: promised rather than written, marked so that clipboard history, the
  // cloud clipboard and clipboard managers leave it alone, and `onRead` posted when a reader
  // first asks for it. False when the clipboard could not be had.
  bool setTextNotifyingRead(const std::string& text, PasteboardReadCallback onRead);

  // At exit: a restore still waiting gets a last while, then what is still promised is rendered,
  // so it outlives the agent.
  void finish();

  ClipboardReader reader;

 private:
  static LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT handle(UINT message, WPARAM wParam, LPARAM lParam);
  // OpenClipboard for a write, tried again for a short while when another program holds it.
  bool open();
  void renderPromised();
  void renderAll();
  // Empties the open clipboard, writes `contents`, closes it and keeps them as our own.
  void putContents(const PasteboardContents& contents);
  void retryRestore();
  void dropRestore();

  MainLoop& loop_;
  HWND window_ = nullptr;
  std::optional<std::wstring> promised_;
  PasteboardReadCallback onRead_;
  // Rendering what was promised is no change of content, though the system may count it.
  std::int64_t ownRenderChanges_ = 0;
  std::optional<PasteboardContents> owned_;
  std::int64_t ownedCount_ = 0;
  std::optional<PasteboardContents> pendingRestore_;
  std::int64_t pendingCount_ = 0;
  LoopHandle restoreRetry_;
};

}  // namespace deskagent::platform::windows
