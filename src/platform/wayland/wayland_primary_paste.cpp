#include "platform/wayland/wayland_primary_paste.hpp"

namespace deskagent::platform::wayland {

void PrimaryPaste::begin(const std::string& text, PasteboardReadCallback onRead) {
  // A paste whose primary selection is still out keeps what was saved before it: the user's.
  if (!pending_) saved_ = primary_.text();
  pending_ = true;
  primary_.setTextNotifyingRead(text, std::move(onRead));
  takenCount_ = primary_.changeCount();
}

void PrimaryPaste::end() {
  if (!pending_) return;
  pending_ = false;
  if (primary_.changeCount() == takenCount_) primary_.setText(saved_);
  saved_.reset();
}

}  // namespace deskagent::platform::wayland
