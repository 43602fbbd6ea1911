#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <variant>

#include "loop/main_loop.hpp"
#include "platform/platform.hpp"

namespace deskagent::platform::windows {

struct ReaderState;
class AwaitedAnswers;
using ReaderAnswer =
    std::variant<PasteboardListing, PasteboardTypeRead, std::optional<std::string>>;

// Reads other programs' clipboard content on a thread of its own. GetClipboardData waits for as
// long as an owner takes to render what it promised (one that stopped serving its messages: for
// as long as it is stuck), and OpenClipboard may have to be asked again while another program
// holds the clipboard: neither holds up the main loop, the keyboard hook or the exit. Every answer
// comes on the main loop, once: the thread's, or past its patience "timed out" (what the thread
// brings later is dropped). A thread stuck in an owner is left to it, and to the process's end.
class ClipboardReader {
 public:
  explicit ClipboardReader(MainLoop& loop);
  ~ClipboardReader();
  ClipboardReader(const ClipboardReader&) = delete;
  ClipboardReader& operator=(const ClipboardReader&) = delete;

  // Every format, in the owner's order.
  void list(PasteboardListingCallback done);
  // One format's bytes: `refused` when the owner has none, `overBudget` past `maxBytes`.
  void read(UINT format, std::size_t maxBytes, Duration patience, PasteboardTypeCallback done);
  // The Unicode text, up to its terminating null, as UTF-8.
  void readText(Duration patience, PasteboardTextCallback done);
  // The answers still to come are dropped.
  void cancel();

  // How far the reads have moved the clipboard's sequence number: an owner rendering what it
  // promised counts as a change, though the content is the same.
  std::int64_t renderedChanges() const;

 private:
  // `work` runs on the thread; `deliver` gets its answer, or `timedOut` past `patience`.
  void ask(Duration patience, ReaderAnswer timedOut, std::function<ReaderAnswer(ReaderState&)> work,
           std::function<void(ReaderAnswer)> deliver);

  MainLoop& loop_;
  std::shared_ptr<ReaderState> state_;
  std::shared_ptr<AwaitedAnswers> awaited_;
  HANDLE thread_ = nullptr;
};

}  // namespace deskagent::platform::windows
