#pragma once

#include <X11/Xlib.h>
#include <xcb/xcb.h>

#include <array>
#include <cstdlib>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "loop/main_loop.hpp"
#include "platform/platform.hpp"
#include "platform/x11/x11_connection.hpp"

namespace deskagent::platform::x11 {

// A selection owner's answer: the property's type, format and bytes (format-32 items as 32-bit
// values, whatever size Xlib hands them in).
struct TargetData {
  Atom type = None;
  int format = 0;
  std::string bytes;
};

// The answer, or why there is none.
using TargetReadDone = std::function<void(TargetData data, std::optional<PasteboardReadError>)>;

// Reads one target of a selection at a time into a property of the agent's window, driven by
// the events the session hands to handle(), the loop's timers and steps it posts to the loop: it
// never waits for the owner, and no step takes long (a piece of at most 256 KiB is read or moved
// per turn of the loop), so keys and commands are served while a large or a slow owner sends.
// Incremental transfers (INCR) included. What has arrived is kept in pieces and put together
// piece by piece at the end: memory grows with what has arrived, never with what the owner
// announces, and no large buffer is ever copied in one go.
class TargetRead {
 public:
  // `property`: where owners are asked to put their answers, one per selection.
  TargetRead(Connection& connection, MainLoop& loop, Atom selection, Atom property)
      : connection_(connection), loop_(loop), selection_(selection), property_(property) {
    properties_[0] = property;
  }
  ~TargetRead();
  TargetRead(const TargetRead&) = delete;
  TargetRead& operator=(const TargetRead&) = delete;

  // Starts reading `target` within `limits` and, where given, by `deadline` in all. `done` is
  // posted to the loop once; a read still under way is answered first, as failed.
  void start(Atom target, const PasteboardReadLimits& limits, TargetReadDone done,
             std::optional<TimePoint> deadline = std::nullopt);
  // Drops the read under way: its `done` is never called, even if already posted.
  void cancel();

  // The owner's SelectionNotify and our property's PropertyNotify; false for anything else.
  bool handle(const XEvent& event);
  // Whether the answer to our property request has arrived (the connection reads it while it
  // reads events), and taking it in: between turns of the loop, never in another call.
  bool replyArrived();
  void takeReply();

 private:
  enum class State { idle, awaitingAnswer, readingProperty, awaitingChunk, joining };

  // Asks the server for the next piece of the property the owner wrote; its answer is taken
  // when it arrives, and nothing waits for it meanwhile.
  void requestPiece();
  void pieceArrived(xcb_get_property_reply_t* reply);
  // The property has been read whole.
  void propertyRead(bool empty);
  // Moves the next pieces into the answer.
  void joinPieces();
  // Runs `step` on a later turn of the loop, unless the read ends first.
  void post(void (TargetRead::*step)());
  void armTimer(Duration wait);
  void finish(std::optional<PasteboardReadError> error, std::string bytes = {});
  // Back to idle, without a word to anyone.
  void stop();
  // The next property of the ring, for a read that follows one given up on.
  void moveToNextProperty();

  Connection& connection_;
  MainLoop& loop_;
  Atom selection_;
  Atom property_;
  // An owner whose answer was given up on may still write it, or the next piece of it, to the
  // property: the next read asks for its answer in another one, so the two are never mixed.
  std::array<Atom, 4> properties_{};
  std::size_t propertyIndex_ = 0;
  bool ownerMayWrite_ = false;
  State state_ = State::idle;
  Atom target_ = None;
  PasteboardReadLimits limits_;
  std::optional<TimePoint> deadline_;
  TargetReadDone done_;
  Atom answeredIn_ = None;           // the property the owner said it wrote
  long offset_ = 0;                  // into it, in 32-bit units
  std::optional<unsigned> request_;  // the piece asked for and not yet answered
  std::unique_ptr<xcb_get_property_reply_t, void (*)(void*)> reply_{nullptr, std::free};
  bool replyFailed_ = false;
  bool incremental_ = false;
  Atom type_ = None;
  int format_ = 0;
  std::vector<std::string> pieces_;
  std::size_t size_ = 0;
  std::size_t joined_ = 0;  // pieces moved into `whole_`
  std::string whole_;
  LoopHandle timer_;
  // Shared with the posted answer: a read cancelled after its answer was posted stays silent.
  std::shared_ptr<bool> live_ = std::make_shared<bool>(false);
  // Shared with posted steps: false once the read they belong to is over.
  std::shared_ptr<bool> stepsLive_ = std::make_shared<bool>(false);
};

}  // namespace deskagent::platform::x11
