#include "platform/x11/x11_primary_paste.hpp"

#include <chrono>

namespace deskagent::platform::x11 {
namespace {

// The paste's own restore puts CLIPBOARD back within 2 s of the chord and PRIMARY with it. Where
// it leaves CLIPBOARD alone (the user copied something meanwhile), PRIMARY comes back here.
constexpr auto kLatestRestore = std::chrono::milliseconds(2500);

}  // namespace

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
  latest_ = LoopHandle(&loop_, loop_.postDelayed(kLatestRestore, [this] { end(); }));
  return true;
}

void PrimaryPaste::end() {
  if (!pending_) return;
  pending_ = false;
  latest_.reset();
  if (primary_.changeCount() == takenCount_) primary_.setContents(saved_);
  saved_ = {};
}

}  // namespace deskagent::platform::x11
