#include "platform/x11/x11_target_read.hpp"

#include <X11/Xatom.h>
#include <xcb/xcbext.h>  // xcb_poll_for_reply: a reply taken without waiting for it

#include <algorithm>
#include <cstdint>
#include <cstdlib>
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
  if (std::exchange(ownerMayWrite_, false)) moveToNextProperty();
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

void TargetRead::moveToNextProperty() {
  propertyIndex_ = (propertyIndex_ + 1) % properties_.size();
  Atom& next = properties_[propertyIndex_];
  if (next == None) {
    next = connection_.intern(connection_.atomName(properties_[0]) + "_" +
                              std::to_string(propertyIndex_));
  }
  property_ = next;
}

void TargetRead::stop() {
  ownerMayWrite_ = state_ != State::idle;
  *stepsLive_ = false;
  timer_.reset();
  if (state_ != State::idle && !connection_.lost()) {
    // An answer still to come lands on a property nobody reads; deleting it stops an INCR owner.
    XDeleteProperty(connection_.display(), connection_.window(), property_);
  }
  state_ = State::idle;
  if (request_ && !connection_.lost()) xcb_discard_reply(connection_.xcb(), *request_);
  request_.reset();
  reply_.reset();
  replyFailed_ = false;
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
    if (notify.property != None && notify.property != property_ &&
        std::find(properties_.begin(), properties_.end(), notify.property) != properties_.end()) {
      return true;
    }
    if (notify.property == None) {
      finish(PasteboardReadError::refused);
      return true;
    }
    timer_.reset();  // the owner has answered: the rest is ours to read
    answeredIn_ = notify.property;
    state_ = State::readingProperty;
    requestPiece();
    return true;
  }
  if (event.type == PropertyNotify && event.xproperty.window == window &&
      event.xproperty.atom == property_) {
    if (state_ == State::awaitingChunk && event.xproperty.state == PropertyNewValue) {
      timer_.reset();
      answeredIn_ = property_;
      offset_ = 0;
      state_ = State::readingProperty;
      requestPiece();
    }
    return true;
  }
  return false;
}

void TargetRead::requestPiece() {
  xcb_connection_t* xcb = connection_.xcb();
  request_ = xcb_get_property(xcb, 0, connection_.window(), answeredIn_, XCB_GET_PROPERTY_TYPE_ANY,
                              static_cast<std::uint32_t>(offset_), kPieceUnits)
                 .sequence;
  xcb_flush(xcb);
}

bool TargetRead::replyArrived() {
  if (reply_ || replyFailed_) return true;
  if (!request_ || connection_.lost()) return false;
  void* reply = nullptr;
  xcb_generic_error_t* error = nullptr;
  if (xcb_poll_for_reply(connection_.xcb(), *request_, &reply, &error) == 0) {
    replyFailed_ = connection_.serverGone();
    return replyFailed_;
  }
  request_.reset();
  std::free(error);
  reply_.reset(static_cast<xcb_get_property_reply_t*>(reply));
  replyFailed_ = reply_ == nullptr;
  return true;
}

void TargetRead::takeReply() {
  if (!replyArrived()) return;
  auto reply = std::move(reply_);
  if (std::exchange(replyFailed_, false) || reply == nullptr) {
    finish(PasteboardReadError::failed);
    return;
  }
  pieceArrived(reply.get());
}

void TargetRead::pieceArrived(xcb_get_property_reply_t* reply) {
  Display* display = connection_.display();
  Window window = connection_.window();
  Atom type = reply->type;
  int format = reply->format;
  std::size_t bytes = static_cast<std::size_t>(xcb_get_property_value_length(reply));
  std::size_t after = reply->bytes_after;
  const char* items = static_cast<const char*>(xcb_get_property_value(reply));
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
  if (size_ + bytes + after > limits_.maxBytes) {
    finish(PasteboardReadError::overBudget);
    return;
  }
  if (bytes > 0) {
    try {
      pieces_.emplace_back(items, bytes);  // format-32 items come as 32-bit values here
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
    requestPiece();
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
  // Read to its end, or refused: the owner has nothing more to write.
  if (!error || *error == PasteboardReadError::refused) ownerMayWrite_ = false;
  if (!done) return;
  // Answered from the loop, never from inside another call into the platform; a cancel()
  // before it runs still silences it.
  loop_.post([live = live_, done = std::move(done), data = std::move(data), error]() mutable {
    if (*live) done(std::move(data), error);
  });
}

}  // namespace deskagent::platform::x11
