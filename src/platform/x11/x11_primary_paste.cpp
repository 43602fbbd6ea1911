#include "platform/x11/x11_primary_paste.hpp"

namespace deskagent::platform::x11 {

bool PrimaryPaste::begin() {
  if (!clipboard_.lendContentTo(primary_)) return false;
  pending_ = true;
  takenCount_ = primary_.changeCount();
  return true;
}

void PrimaryPaste::end() {
  if (!pending_) return;
  pending_ = false;
  if (primary_.changeCount() == takenCount_) {
    PasteboardContents contents;
    if (kept_) contents.items.push_back({{{"UTF8_STRING", std::move(*kept_)}}});
    primary_.setContents(contents);
  }
  kept_.reset();
}

}  // namespace deskagent::platform::x11
