#pragma once

#include <X11/Xlib.h>

#include <functional>
#include <optional>
#include <string>

#include "loop/main_loop.hpp"
#include "platform/x11/x11_connection.hpp"

namespace deskagent::platform::x11 {

// A selection owner's answer: the property's type, format and bytes (format-32 items as 32-bit
// values, whatever size Xlib hands them in).
struct TargetData {
  Atom type = None;
  int format = 0;
  std::string bytes;
};

// Why a read gave nothing.
enum class TargetReadFailure {
  refused,    // the owner said it has no such target
  timedOut,   // it did not answer, or stopped sending, in time
  tooLarge,   // past the bytes the read may take
  malformed,  // it answered, but not as the protocol has it (no property where it said)
  failed,     // the display went away, or memory ran out
};

struct TargetReadLimits {
  std::size_t maxBytes = 0;
  Duration firstAnswer{};  // from the request to the owner's first answer (it may be encoding)
  Duration silence{};      // between the chunks of an incremental transfer
  TimePoint deadline{};    // for the whole read
};

using TargetReadDone =
    std::function<void(std::optional<TargetData> data, TargetReadFailure failure)>;

// Reads one target of a selection at a time into a property of the agent's window, driven by
// the events the session hands to handle() and by the loop's timers: it never waits for the
// owner, so keys and commands are served while a large or a slow owner sends. Incremental
// transfers (INCR) included; the bytes kept grow with what has arrived, never with what the
// owner announces.
class TargetRead {
 public:
  TargetRead(Connection& connection, MainLoop& loop, Atom selection)
      : connection_(connection), loop_(loop), selection_(selection) {}
  ~TargetRead() { cancel(); }
  TargetRead(const TargetRead&) = delete;
  TargetRead& operator=(const TargetRead&) = delete;

  // Starts reading `target`; `done` is called once, from a later event or timer (or at once when
  // the display is gone). A read still under way is cancelled first.
  void start(Atom target, const TargetReadLimits& limits, TargetReadDone done);
  // Drops the read under way, if any, without calling its `done`.
  void cancel();
  bool busy() const { return state_ != State::idle; }

  // The owner's SelectionNotify and the PropertyNotify of our property; false for anything else.
  bool handle(const XEvent& event);

 private:
  enum class State { idle, awaitingAnswer, receivingChunks };

  void answered(const XSelectionEvent& notify);
  void chunkArrived();
  // Appends the property's whole value to `into`; false with `failure_` set when it cannot.
  bool takeProperty(Atom property, TargetData& into);
  void armTimer(Duration wait);
  void finish(std::optional<TargetData> data, TargetReadFailure failure);

  Connection& connection_;
  MainLoop& loop_;
  Atom selection_;
  State state_ = State::idle;
  Atom target_ = None;
  TargetReadLimits limits_;
  TargetReadDone done_;
  TargetData data_;
  TargetReadFailure failure_ = TargetReadFailure::refused;
  LoopHandle timer_;
};

}  // namespace deskagent::platform::x11
