#pragma once

#include <X11/Xlib.h>

#include <chrono>
#include <deque>

namespace deskagent::platform::x11 {

// The key events the agent itself sends through XTEST, until the key watch sees them come back.
// They are the agent's doing, not the user's: a watched key the chord lifts and puts back, or the
// chord's own Control, must not read as the user letting go or pressing.
class SyntheticKeys {
 public:
  void sent(unsigned keycode, bool down) {
    sent_.push_back({keycode, down, std::chrono::steady_clock::now()});
  }

  // True, and forgotten, when a raw key event is one the agent sent. The server reports them in
  // the order they were sent; one it never reports (the release of a key let go meanwhile) is
  // passed over by a later match, or forgotten after a second.
  bool takeIfSent(unsigned keycode, bool down) {
    auto now = std::chrono::steady_clock::now();
    while (!sent_.empty() && now - sent_.front().at > std::chrono::seconds(1)) sent_.pop_front();
    for (auto it = sent_.begin(); it != sent_.end(); ++it) {
      if (it->keycode == keycode && it->down == down) {
        sent_.erase(sent_.begin(), it + 1);
        return true;
      }
    }
    return false;
  }

  void clear() { sent_.clear(); }

 private:
  struct Sent {
    unsigned keycode;
    bool down;
    std::chrono::steady_clock::time_point at;
  };
  std::deque<Sent> sent_;
};

}  // namespace deskagent::platform::x11
