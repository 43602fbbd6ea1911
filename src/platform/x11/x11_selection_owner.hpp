#pragma once

#include <X11/Xlib.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "loop/main_loop.hpp"
#include "platform/platform.hpp"
#include "platform/x11/x11_connection.hpp"

namespace deskagent::platform::x11 {

// One target the agent answers while it owns CLIPBOARD.
struct Offer {
  Atom target = None;
  Atom type = None;
  Bytes bytes;          // shared with the saved content and INCR transfers still running
  bool isText = false;  // a reader asking for it is reading the text we put there
  bool saved = true;    // part of the content (false: encodings we derive, markers for managers)
  // An encoding derived from another target's bytes, made when first asked for rather than on
  // every restore, and then kept in `bytes`.
  std::function<Bytes()> derive;

  const Bytes& value() {
    if (derive) {
      bytes = derive();
      derive = nullptr;
    }
    return bytes;
  }
};

struct OfferedContent {
  std::vector<Offer> offers;
  bool transient = false;  // the dictated text of a paste: never handed to a clipboard manager
};

// Which requestors' reads count (by their requestor window).
using ReaderFilter = std::function<bool(Window requestor)>;

// Owns a selection (CLIPBOARD, PRIMARY) for the agent through its hidden window: answers
// TARGETS, TIMESTAMP, MULTIPLE and every offered target, sends large answers with INCR, and on
// shutdown hands CLIPBOARD's content to a clipboard manager (SAVE_TARGETS).
class SelectionOwner {
 public:
  SelectionOwner(Connection& connection, MainLoop& loop, Atom selection);
  ~SelectionOwner();
  SelectionOwner(const SelectionOwner&) = delete;
  SelectionOwner& operator=(const SelectionOwner&) = delete;

  bool owns() const { return owned_; }
  const OfferedContent& content() const { return content_; }
  OfferedContent& content() { return content_; }  // its derived encodings made when asked

  // Becomes the owner with `content` at server time `time`; false if the server gave the
  // selection to someone else.
  bool take(OfferedContent content, Time time);
  // Leaves the selection without an owner (ours or anyone's).
  void clear(Time time);
  // Posted to the loop, once, when a reader that `counts` first asks for a text target of the
  // current content.
  void setReadCallback(PasteboardReadCallback onRead, ReaderFilter counts = nullptr) {
    onRead_ = std::move(onRead);
    readerCounts_ = std::move(counts);
  }
  // The callback and filter, moved to another owner whose reads count instead.
  std::pair<PasteboardReadCallback, ReaderFilter> takeReadCallback() {
    return {std::exchange(onRead_, nullptr), std::exchange(readerCounts_, nullptr)};
  }

  // SelectionRequest and SelectionClear of this selection, and the PropertyNotify of its INCR
  // transfers; false for any other event.
  bool handle(const XEvent& event);

  // Asks a running clipboard manager to keep a copy of what we own, serving its requests while
  // it answers: a manager that goes silent is given up on soon, one still reading is waited for.
  void handOver();

 private:
  struct IncrTransfer {
    Window requestor;
    Atom property;
    Atom type;
    Bytes bytes;
    std::size_t offset;
    SteadyTime lastActivity;
  };

  void serve(const XSelectionRequestEvent& request);
  bool convertInto(Window requestor, Atom property, Atom target);
  bool serveMultiple(Window requestor, Atom property);
  void sendChunk(IncrTransfer& transfer);
  bool continueTransfer(const XPropertyEvent& event);
  void sweepTransfers();
  void forgetRequestor(Window requestor);
  void noteTextRead(Window requestor);

  Connection& connection_;
  MainLoop& loop_;
  Atom selection_;
  bool owned_ = false;
  Time ownedSince_ = CurrentTime;
  OfferedContent content_;
  PasteboardReadCallback onRead_;
  ReaderFilter readerCounts_;
  std::size_t chunkBytes_;
  std::vector<IncrTransfer> transfers_;
  LoopHandle sweepTimer_;
  std::uint64_t requestsServed_ = 0;  // requests and INCR chunks: a reader's signs of life
};

}  // namespace deskagent::platform::x11
