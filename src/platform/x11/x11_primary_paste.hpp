#pragma once

#include <cstdint>

#include "platform/platform.hpp"
#include "platform/x11/x11_clipboard.hpp"

namespace deskagent::platform::x11 {

// A paste into a terminal that binds no clipboard paste key goes through PRIMARY (and
// Shift+Insert): PRIMARY offers what the agent has put on CLIPBOARD, and what PRIMARY held
// before comes back afterwards, as CLIPBOARD's content does.
class PrimaryPaste {
 public:
  PrimaryPaste(Clipboard& clipboard, Clipboard& primary)
      : clipboard_(clipboard), primary_(primary) {}
  PrimaryPaste(const PrimaryPaste&) = delete;
  PrimaryPaste& operator=(const PrimaryPaste&) = delete;

  // Before the chord: saves PRIMARY and makes it offer CLIPBOARD's text; a read of it counts as
  // the read of the paste. False when the agent owns nothing on CLIPBOARD to offer.
  bool begin();
  // Puts PRIMARY's saved content back unless someone has selected something since. Called when
  // the agent writes CLIPBOARD again (its restore), and when the paste is over either way.
  void end();

 private:
  Clipboard& clipboard_;
  Clipboard& primary_;
  bool pending_ = false;
  PasteboardContents saved_;
  std::int64_t takenCount_ = 0;  // PRIMARY's change count once it was ours
};

}  // namespace deskagent::platform::x11
