#pragma once

#include <cstdint>

#include "loop/main_loop.hpp"
#include "platform/platform.hpp"
#include "platform/wayland/wayland_clipboard.hpp"

namespace deskagent::platform::wayland {

// A paste through the primary selection, for the Shift+Insert chord: the primary selection
// offers the dictated text as the clipboard does, and what it held before comes back afterwards,
// as the clipboard's content does.
class PrimaryPaste {
 public:
  PrimaryPaste(Clipboard& primary, MainLoop& loop) : primary_(primary), loop_(loop) {}
  PrimaryPaste(const PrimaryPaste&) = delete;
  PrimaryPaste& operator=(const PrimaryPaste&) = delete;

  // Before the chord: saves the primary selection and offers `text` there; a read of it after
  // the chord calls `onRead`. False when the primary selection could not be saved whole: then
  // it is left alone.
  bool begin(const std::string& text, PasteboardReadCallback onRead);
  // Puts the saved content back unless something has been selected since. Called when the
  // clipboard is written again (its restore), and at the latest a while after begin().
  void end();

 private:
  Clipboard& primary_;
  MainLoop& loop_;
  bool pending_ = false;
  PasteboardContents saved_;
  std::int64_t takenCount_ = 0;  // the primary selection's change count once it was ours
  LoopHandle latest_;
};

}  // namespace deskagent::platform::wayland
