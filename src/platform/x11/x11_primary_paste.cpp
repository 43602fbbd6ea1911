#include "platform/x11/x11_primary_paste.hpp"

namespace deskagent::platform::x11 {

bool PrimaryPaste::begin() {
  // A paste whose PRIMARY is still out keeps what was saved before it: that is the user's.
  PasteboardContents previous = pending_ ? std::move(saved_) : primary_.snapshot();
  bool lent = clipboard_.lendContentTo(primary_);
  if (!lent) {
    if (pending_) saved_ = std::move(previous);
    return false;
  }
  saved_ = std::move(previous);
  pending_ = true;
  takenCount_ = primary_.changeCount();
  return true;
}

void PrimaryPaste::end() {
  if (!pending_) return;
  pending_ = false;
  if (primary_.changeCount() == takenCount_) primary_.setContents(saved_);
  saved_ = {};
}

}  // namespace deskagent::platform::x11
