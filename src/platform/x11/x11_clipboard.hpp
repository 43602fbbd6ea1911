#pragma once

#include <X11/Xlib.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "loop/main_loop.hpp"
#include "platform/platform.hpp"
#include "platform/x11/x11_chord.hpp"
#include "platform/x11/x11_connection.hpp"
#include "platform/x11/x11_selection_owner.hpp"
#include "platform/x11/x11_selection_reader.hpp"

namespace deskagent::platform::x11 {

// The targets an X11 owner lists that are not plain content.
const std::vector<PasteboardTypeRule>& x11TypeRules();

// A selection (CLIPBOARD; PRIMARY works the same) as the pasteboard operations see it: a change
// count that moves on every change of owner (XFixes, the agent's own included), reads from the
// owner with waits bounded by its progress, and writes that make the agent the owner. Who owns it
// is told against the window the last chord went to.
class Clipboard {
 public:
  // `changeCount` outlives connections, so the count never goes back after a reconnection.
  Clipboard(Connection& connection, MainLoop& loop, Atom selection, std::int64_t& changeCount,
            const ChordTarget& chordTarget);

  // XFixes notices and the owner's events of this selection; false for anything else.
  bool handle(const XEvent& event);

  // Reads what has arrived first, so a change the server has already told us of is counted.
  std::int64_t changeCount();
  std::optional<std::string> text();
  // The owner's targets, in its order; what the agent offers itself while it owns the selection.
  PasteboardListing listing();
  // One target, within `limits`; our own content's bytes while the agent owns the selection.
  PasteboardTypeRead readType(const std::string& type, const PasteboardReadLimits& limits);
  // Every target but those the rules name, read at once (PRIMARY, lent for a terminal's paste);
  // nothing when it cannot be read whole.
  PasteboardContents snapshot();
  // Whether the current owner is the chord target's client.
  PasteboardWriter writer();

  void clear();
  void setText(const std::string& text);
  void setContents(const PasteboardContents& contents);
  // The text of a paste: marked for clipboard managers as not to be kept, and `onRead` posted
  // when the application of the next chord first asks for it (no one else's read counts).
  void setTextNotifyingRead(const std::string& text, PasteboardReadCallback onRead);

  // At exit: a clipboard manager keeps what we own, so the user's clipboard outlives us.
  void handOverToManager();

  // Whether the selection's owner is a window of the client that made `window`.
  bool ownedByClientOf(Window window);
  // Makes `other` offer what this selection holds while the agent owns it, a read there counting
  // as a read here; false when the agent owns nothing here.
  bool lendContentTo(Clipboard& other);

 private:
  void take(OfferedContent content, PasteboardReadCallback onRead = nullptr,
            ReaderFilter readerCounts = nullptr);
  std::optional<std::string> readText(SteadyTime deadline, ConvertFailure* failure);
  // Our own owner change has been announced by the time this returns: it counts once, now.
  void settleOwnChange();
  std::vector<std::string> namesOf(std::vector<Atom>& atoms);
  OfferedContent textContent(const std::string& text, bool transient);
  OfferedContent snapshotContent(const PasteboardContents& contents);
  PasteboardContents contentsOf(const OfferedContent& content);

  Connection& connection_;
  Atom selection_;
  SelectionReader reader_;
  SelectionOwner owner_;
  std::int64_t& changeCount_;
  const ChordTarget& chordTarget_;
  Window lastSeenOwner_ = None;  // without XFixes, owner changes are seen by asking
};

}  // namespace deskagent::platform::x11
