#include "platform/x11/x11_scratch_keys.hpp"

#include <algorithm>
#include <chrono>

namespace deskagent::platform::x11 {
namespace {

// Past the paste's restore and the read's late-copy watch, with room for a busy application.
constexpr auto kLendFor = std::chrono::seconds(10);

}  // namespace

std::optional<KeyCode> ScratchKeys::keyFor(KeySym letter) {
  if (connection_.lost()) return std::nullopt;
  std::optional<KeyCode> key = keymap_.keycodeForKeysym(letter);
  bool lent = std::any_of(lent_.begin(), lent_.end(),
                          [&](const auto& l) { return l.first == letter && l.second == key; });
  if (key && !lent) return key;  // the layout's own
  if (!key) {
    key = keymap_.unusedKeycode();
    if (!key) return std::nullopt;
    XChangeKeyboardMapping(connection_.display(), *key, 1, &letter, 1);
    // The server tells every client of the change before any key that follows it.
    keymap_.invalidate();
    lent_.emplace_back(letter, *key);
  }
  // Repeating, which unlike a delayed task does not hold up the end of the loop; its first turn
  // ends it.
  putBackTimer_ = loop_.startRepeating(kLendFor, [this] { putBack(); });
  return key;
}

void ScratchKeys::putBack() {
  putBackTimer_.reset();
  if (!connection_.lost()) {
    for (auto [letter, key] : lent_) {
      if (keymap_.keycodeForKeysym(letter) != key) continue;  // a new map has replaced ours
      KeySym none = NoSymbol;
      XChangeKeyboardMapping(connection_.display(), key, 1, &none, 1);
      keymap_.invalidate();
    }
    XFlush(connection_.display());
  }
  lent_.clear();
}

}  // namespace deskagent::platform::x11
