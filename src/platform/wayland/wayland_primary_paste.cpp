#include "platform/wayland/wayland_primary_paste.hpp"

#include <chrono>

namespace deskagent::platform::wayland {
namespace {

// The paste's own restore puts the clipboard back within 2 s of the chord and the primary
// selection with it. Where it leaves the clipboard alone (the user copied something meanwhile),
// the primary selection comes back here.
constexpr auto kLatestRestore = std::chrono::milliseconds(2500);

}  // namespace

bool PrimaryPaste::begin(const std::string& text, PasteboardReadCallback onRead) {
  // A paste whose primary selection is still out keeps what was saved before it: the user's.
  PasteboardContents previous = pending_ ? std::move(saved_) : primary_.snapshot();
  if (!previous.complete) return false;
  saved_ = std::move(previous);
  pending_ = true;
  primary_.setTextNotifyingRead(text, std::move(onRead));
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

}  // namespace deskagent::platform::wayland
