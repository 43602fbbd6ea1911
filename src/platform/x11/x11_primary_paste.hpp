#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/platform.hpp"
#include "platform/x11/x11_clipboard.hpp"

namespace deskagent::platform::x11 {

// A paste into a terminal that binds no clipboard paste key goes through PRIMARY (and
// Shift+Insert): PRIMARY offers what the agent has put on CLIPBOARD, and the text PRIMARY held
// before comes back afterwards, as CLIPBOARD's content does.
class PrimaryPaste {
 public:
  PrimaryPaste(Clipboard& clipboard, Clipboard& primary)
      : clipboard_(clipboard), primary_(primary) {}
  PrimaryPaste(const PrimaryPaste&) = delete;
  PrimaryPaste& operator=(const PrimaryPaste&) = delete;

  // Whether PRIMARY is still lent to a paste: what was kept before it is the user's.
  bool lent() const { return pending_; }
  // PRIMARY's text, read while the paste saves the clipboard (nothing: PRIMARY held no text,
  // or none could be read, and it is left empty afterwards).
  void keep(std::optional<std::string> text) { kept_ = std::move(text); }
  // At the chord: makes PRIMARY offer CLIPBOARD's text; a read of it counts as the read of the
  // paste. False when the agent owns nothing on CLIPBOARD to offer.
  bool begin();
  // Puts PRIMARY's kept text back unless someone has selected something since. Called when the
  // agent writes CLIPBOARD again (its restore), and when the paste is over either way.
  void end();

 private:
  Clipboard& clipboard_;
  Clipboard& primary_;
  bool pending_ = false;
  std::optional<std::string> kept_;
  std::int64_t takenCount_ = 0;  // PRIMARY's change count once it was ours
};

}  // namespace deskagent::platform::x11
