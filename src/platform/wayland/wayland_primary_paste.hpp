#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/platform.hpp"
#include "platform/wayland/wayland_clipboard.hpp"

namespace deskagent::platform::wayland {

// A paste through the primary selection, for the Shift+Insert chord: the primary selection
// offers the dictated text as the clipboard does, and what it held before comes back afterwards,
// as the clipboard's content does.
class PrimaryPaste {
 public:
  explicit PrimaryPaste(Clipboard& primary) : primary_(primary) {}
  PrimaryPaste(const PrimaryPaste&) = delete;
  PrimaryPaste& operator=(const PrimaryPaste&) = delete;

  // Before the chord: saves the primary selection's text (what is selected is text) and offers
  // `text` there; a read of it after the chord calls `onRead`.
  void begin(const std::string& text, PasteboardReadCallback onRead);
  // Puts the saved text back unless something has been selected since. Called when the
  // clipboard is written again (its restore), and when the paste is over either way.
  void end();

 private:
  Clipboard& primary_;
  bool pending_ = false;
  std::optional<std::string> saved_;
  std::int64_t takenCount_ = 0;  // the primary selection's change count once it was ours
};

}  // namespace deskagent::platform::wayland
