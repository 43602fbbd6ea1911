#include "platform/x11/x11_target_read.hpp"

#include <X11/Xatom.h>

#include <algorithm>
#include <cstdint>
#include <new>
#include <utility>

namespace deskagent::platform::x11 {
namespace {

// What one step reads of a property, in 32-bit units, and moves into the answer.
constexpr long kPieceUnits = 1 << 16;  // 256 KiB
constexpr std::size_t kJoinBytesPerStep = 256u << 10;

}  // namespace

TargetRead::~TargetRead() {
  // A session that ends (its server gone) ends its read: whoever waits hears of it.
  if (done_) {
    loop_.post([done = std::move(done_)] { done({}, PasteboardReadError::failed); });
  }
  stop();
}

void TargetRead::start(Atom target, const PasteboardReadLimits& limits, TargetReadDone done,
                       std::optional<TimePoint> deadline) {
  if (done_) finish(PasteboardReadError::failed);  // its answer still comes
  target_ = target;
  limits_ = limits;
  deadline_ = deadline;
  done_ = std::move(done);
  live_ = std::make_shared<bool>(true);
  stepsLive_ = std::make_shared<bool>(true);
  if (connection_.lost()) {
    finish(PasteboardReadError::failed);
    return;
  }
  Display* display = connection_.display();
  XDeleteProperty(display, connection_.window(), property_);
  XConvertSelection(display, selection_, target, property_, connection_.window(), CurrentTime);
  XFlush(display);
  state_ = State::awaitingAnswer;
  armTimer(limits_.firstAnswer);
}

void TargetRead::cancel() {
  *live_ = false;
  done_ = nullptr;
  stop();
}

void TargetRead::stop() {
  *stepsLive_ = false;
  timer_.reset();
  if (state_ != State::idle && !connection_.lost()) {
    // An answer still to come lands on a property nobody reads; deleting it stops an INCR owner.
    XDeleteProperty(connection_.display(), connection_.window(), property_);
  }
  state_ = State::idle;
  offset_ = 0;
  incremental_ = false;
  type_ = None;
  format_ = 0;
  pieces_ = {};
  size_ = joined_ = 0;
  whole_ = {};
}

bool TargetRead::handle(const XEvent& event) {
  Window window = connection_.window();
  if (event.type == SelectionNotify) {
    const XSelectionEvent& notify = event.xselection;
    if (notify.requestor != window || notify.selection != selection_) return false;
    // A late answer to a read given up on says nothing about this one.
    if (state_ != State::awaitingAnswer || notify.target != target_) return true;
    if (notify.property == None) {
      finish(PasteboardReadError::refused);
      return true;
    }
    timer_.reset();  // the owner has answered: the rest is ours to read
    answeredIn_ = notify.property;
    state_ = State::readingProperty;
    post(&TargetRead::readPiece);
    return true;
  }
  if (event.type == PropertyNotify && event.xproperty.window == window &&
      event.xproperty.atom == property_) {
    if (state_ == State::awaitingChunk && event.xproperty.state == PropertyNewValue) {
      timer_.reset();
      answeredIn_ = property_;
      offset_ = 0;
      state_ = State::readingProperty;
      post(&TargetRead::readPiece);
    }
    return true;
  }
  return false;
}

void TargetRead::readPiece() {
  Display* display = connection_.display();
  Window window = connection_.window();
  Atom type = None;
  int format = 0;
  unsigned long count = 0, after = 0;
  unsigned char* items = nullptr;
  if (connection_.serverGone() ||
      XGetWindowProperty(display, window, answeredIn_, offset_, kPieceUnits, False, AnyPropertyType,
                         &type, &format, &count, &after, &items) != Success) {
    if (items != nullptr) XFree(items);
    finish(PasteboardReadError::failed);
    return;
  }
  std::unique_ptr<unsigned char, int (*)(void*)> held(items, XFree);
  if (type == None) {
    // The owner said it wrote here and did not (on another window, or not at all).
    finish(PasteboardReadError::malformed);
    return;
  }
  if (!incremental_ && offset_ == 0 && type == connection_.atoms().incr) {
    // The size it announces is its word only: nothing is set aside for it. Deleting the
    // property asks for the first chunk.
    incremental_ = true;
    XDeleteProperty(display, window, answeredIn_);
    XFlush(display);
    state_ = State::awaitingChunk;
    armTimer(limits_.silence);
    return;
  }
  std::size_t bytes = count * (format == 32 ? 4 : static_cast<std::size_t>(format / 8));
  if (size_ + bytes + after > limits_.maxBytes) {
    finish(PasteboardReadError::overBudget);
    return;
  }
  if (bytes > 0) {
    try {
      std::string& piece = pieces_.emplace_back();
      piece.reserve(bytes);
      if (format == 32) {
        // Xlib widens format-32 items to long.
        const auto* longs = reinterpret_cast<const unsigned long*>(items);
        for (unsigned long i = 0; i < count; ++i) {
          auto value = static_cast<std::uint32_t>(longs[i]);
          piece.append(reinterpret_cast<const char*>(&value), 4);
        }
      } else {
        piece.append(reinterpret_cast<const char*>(items), bytes);
      }
    } catch (const std::bad_alloc&) {
      finish(PasteboardReadError::failed);
      return;
    }
    size_ += bytes;
    type_ = type;
    format_ = format;
  } else if (type_ == None) {
    type_ = type;  // an empty answer has its type all the same
    format_ = format;
  }
  if (after > 0 && bytes > 0) {
    offset_ += static_cast<long>(bytes / 4);
    post(&TargetRead::readPiece);
    return;
  }
  propertyRead(offset_ == 0 && bytes == 0);
}

void TargetRead::propertyRead(bool empty) {
  // Deleting it is what tells an INCR owner to send the next chunk.
  XDeleteProperty(connection_.display(), connection_.window(), answeredIn_);
  XFlush(connection_.display());
  offset_ = 0;
  if (incremental_ && !empty) {  // the zero-length chunk ends an incremental transfer
    state_ = State::awaitingChunk;
    armTimer(limits_.silence);
    return;
  }
  if (pieces_.size() <= 1) {
    finish(std::nullopt, pieces_.empty() ? std::string() : std::move(pieces_.front()));
    return;
  }
  try {
    whole_.reserve(size_);
  } catch (const std::bad_alloc&) {
    finish(PasteboardReadError::failed);
    return;
  }
  state_ = State::joining;
  joinPieces();
}

void TargetRead::joinPieces() {
  // A piece at a time, each let go once moved: the whole and one piece at most are held twice.
  std::size_t moved = 0;
  while (joined_ < pieces_.size() && moved < kJoinBytesPerStep) {
    std::string& piece = pieces_[joined_++];
    whole_ += piece;
    moved += piece.size();
    std::string().swap(piece);
  }
  if (joined_ < pieces_.size()) {
    post(&TargetRead::joinPieces);
    return;
  }
  finish(std::nullopt, std::move(whole_));
}

void TargetRead::post(void (TargetRead::*step)()) {
  loop_.post([this, live = stepsLive_, step] {
    if (*live) (this->*step)();
  });
}

void TargetRead::armTimer(Duration wait) {
  if (deadline_) wait = std::min(wait, std::max(Duration{}, *deadline_ - loop_.now()));
  timer_ = LoopHandle(&loop_,
                      loop_.postDelayed(wait, [this] { finish(PasteboardReadError::timedOut); }));
}

void TargetRead::finish(std::optional<PasteboardReadError> error, std::string bytes) {
  TargetReadDone done = std::exchange(done_, nullptr);
  TargetData data{error ? None : type_, error ? 0 : format_, std::move(bytes)};
  stop();
  if (!done) return;
  // Answered from the loop, never from inside another call into the platform; a cancel()
  // before it runs still silences it.
  loop_.post([live = live_, done = std::move(done), data = std::move(data), error]() mutable {
    if (*live) done(std::move(data), error);
  });
}

}  // namespace deskagent::platform::x11
