#include "platform/x11/x11_target_read.hpp"

#include <X11/Xatom.h>

#include <cstdint>
#include <new>
#include <utility>

namespace deskagent::platform::x11 {
namespace {

// What one XGetWindowProperty asks for, in 32-bit units.
constexpr long kReadChunkUnits = 1 << 18;  // 1 MiB

}  // namespace

void TargetRead::start(Atom target, const TargetReadLimits& limits, TargetReadDone done) {
  cancel();
  target_ = target;
  limits_ = limits;
  done_ = std::move(done);
  data_ = {};
  if (connection_.lost()) {
    finish(std::nullopt, TargetReadFailure::failed);
    return;
  }
  Display* display = connection_.display();
  Atom property = connection_.atoms().transferProperty;
  XDeleteProperty(display, connection_.window(), property);
  XConvertSelection(display, selection_, target, property, connection_.window(), CurrentTime);
  XFlush(display);
  state_ = State::awaitingAnswer;
  armTimer(limits_.firstAnswer);
}

void TargetRead::cancel() {
  timer_.reset();
  done_ = nullptr;
  data_ = {};
  if (state_ != State::idle && !connection_.lost()) {
    // An answer still to come lands on a property nobody reads; deleting it stops an INCR owner.
    XDeleteProperty(connection_.display(), connection_.window(),
                    connection_.atoms().transferProperty);
  }
  state_ = State::idle;
}

bool TargetRead::handle(const XEvent& event) {
  Window window = connection_.window();
  if (event.type == SelectionNotify) {
    const XSelectionEvent& notify = event.xselection;
    if (notify.requestor != window || notify.selection != selection_) return false;
    // A late answer to a read given up on says nothing about this one.
    if (state_ == State::awaitingAnswer && notify.target == target_) answered(notify);
    return true;
  }
  if (event.type == PropertyNotify && event.xproperty.window == window &&
      event.xproperty.atom == connection_.atoms().transferProperty) {
    if (state_ == State::receivingChunks && event.xproperty.state == PropertyNewValue) {
      chunkArrived();
    }
    return true;
  }
  return false;
}

void TargetRead::answered(const XSelectionEvent& notify) {
  if (notify.property == None) {
    finish(std::nullopt, TargetReadFailure::refused);
    return;
  }
  TargetData answer;
  if (!takeProperty(notify.property, answer)) {
    finish(std::nullopt, failure_);
    return;
  }
  if (answer.type != connection_.atoms().incr) {
    finish(std::move(answer), TargetReadFailure::refused);
    return;
  }
  // The announced size is the owner's word only: nothing is reserved for it. Deleting the
  // property (takeProperty did) asks for the first chunk.
  state_ = State::receivingChunks;
  armTimer(limits_.silence);
}

void TargetRead::chunkArrived() {
  TargetData chunk;
  if (!takeProperty(connection_.atoms().transferProperty, chunk)) {
    finish(std::nullopt, failure_);
    return;
  }
  if (chunk.bytes.empty()) {  // the zero-length chunk ends the transfer
    if (data_.type == None) {
      finish(std::nullopt, TargetReadFailure::malformed);
    } else {
      finish(std::move(data_), TargetReadFailure::refused);
    }
    return;
  }
  if (data_.bytes.size() + chunk.bytes.size() > limits_.maxBytes) {
    finish(std::nullopt, TargetReadFailure::tooLarge);
    return;
  }
  try {
    data_.bytes += chunk.bytes;
  } catch (const std::bad_alloc&) {
    finish(std::nullopt, TargetReadFailure::failed);
    return;
  }
  data_.type = chunk.type;
  data_.format = chunk.format;
  armTimer(limits_.silence);
}

bool TargetRead::takeProperty(Atom property, TargetData& into) {
  Display* display = connection_.display();
  Window window = connection_.window();
  long offset = 0;
  for (;;) {
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* items = nullptr;
    if (connection_.serverGone() ||
        XGetWindowProperty(display, window, property, offset, kReadChunkUnits, False,
                           AnyPropertyType, &type, &format, &count, &after, &items) != Success) {
      if (items != nullptr) XFree(items);
      failure_ = TargetReadFailure::failed;
      return false;
    }
    if (type == None) {
      // The owner said it wrote here and did not (on another window, or not at all).
      if (items != nullptr) XFree(items);
      failure_ = TargetReadFailure::malformed;
      return false;
    }
    std::size_t unit = format == 32 ? 4 : static_cast<std::size_t>(format / 8);
    std::size_t bytes = count * unit;
    if (into.bytes.size() + bytes > limits_.maxBytes) {
      XFree(items);
      XDeleteProperty(display, window, property);
      failure_ = TargetReadFailure::tooLarge;
      return false;
    }
    try {
      if (format == 32) {
        // Xlib widens format-32 items to long.
        const auto* longs = reinterpret_cast<const unsigned long*>(items);
        for (unsigned long i = 0; i < count; ++i) {
          auto value = static_cast<std::uint32_t>(longs[i]);
          into.bytes.append(reinterpret_cast<const char*>(&value), 4);
        }
      } else {
        into.bytes.append(reinterpret_cast<const char*>(items), bytes);
      }
    } catch (const std::bad_alloc&) {
      XFree(items);
      XDeleteProperty(display, window, property);
      failure_ = TargetReadFailure::failed;
      return false;
    }
    XFree(items);
    into.type = type;
    into.format = format;
    offset += static_cast<long>(bytes / 4);
    if (after == 0 || bytes == 0) break;
  }
  // Deleting it is what tells an INCR owner to send the next chunk.
  XDeleteProperty(display, window, property);
  XFlush(display);
  return true;
}

void TargetRead::armTimer(Duration wait) {
  TimePoint now = loop_.now();
  Duration left = limits_.deadline - now;
  if (wait > left) wait = left;
  timer_ = LoopHandle(&loop_, loop_.postDelayed(wait, [this] {
    finish(std::nullopt, TargetReadFailure::timedOut);
  }));
}

void TargetRead::finish(std::optional<TargetData> data, TargetReadFailure failure) {
  TargetReadDone done = std::exchange(done_, nullptr);
  cancel();
  if (done) done(std::move(data), failure);
}

}  // namespace deskagent::platform::x11
