#pragma once

#include <X11/Xlib.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "loop/main_loop.hpp"
#include "platform/platform.hpp"
#include "platform/x11/x11_chord.hpp"
#include "platform/x11/x11_connection.hpp"
#include "platform/x11/x11_selection_owner.hpp"
#include "platform/x11/x11_target_read.hpp"

namespace deskagent::platform::x11 {

// The targets an X11 owner lists that are not plain content.
const std::vector<PasteboardTypeRule>& x11TypeRules();

// A selection (CLIPBOARD; PRIMARY works the same) as the pasteboard operations see it: a change
// count that moves on every change of owner (XFixes, the agent's own included), reads from the
// owner that proceed as its answers arrive, and writes that make the agent the owner. Who owns
// it is told against the window the last chord went to.
class Clipboard {
 public:
  // `changeCount` outlives connections, so the count never goes back after a reconnection.
  Clipboard(Connection& connection, MainLoop& loop, Atom selection, std::int64_t& changeCount,
            const ChordTarget& chordTarget);

  // XFixes notices, the owner's answers to our reads and the requests of those reading ours;
  // false for anything else.
  bool handle(const XEvent& event);

  // Reads what has arrived first, so a change the server has already told us of is counted.
  std::int64_t changeCount();

  // Each answered once, on the loop, never before it returns; while the agent owns the
  // selection, from its own content (shared, not copied).
  // The owner's targets, in its order.
  void list(PasteboardListingCallback done);
  // One target, within `limits`.
  void read(const std::string& type, const PasteboardReadLimits& limits,
            PasteboardTypeCallback done);
  // The text, in the first of its encodings the owner has.
  void readText(PasteboardTextCallback done);
  // Drops the reads under way: their answers never come.
  void cancelReads();
  // The answer to a read's request to the server, arrived and taken in (TargetRead).
  bool replyArrived() { return reads_.replyArrived(); }
  void takeReply() { reads_.takeReply(); }

  // Whether the current owner is the chord target's application.
  PasteboardWriter writer();

  // Offers `contents` (shared, with the text's other encodings made when asked for); no items:
  // the selection is left without an owner.
  void setContents(const PasteboardContents& contents);
  // The text of a paste: marked for clipboard managers as not to be kept, and `onRead` posted
  // when the application of the next chord first asks for it (no one else's read counts).
  void setTextNotifyingRead(const std::string& text, PasteboardReadCallback onRead);

  // At exit: a clipboard manager keeps what we own, so the user's clipboard outlives us.
  void handOverToManager();

  // Whether the selection's owner is a window of the application that made `window`.
  bool ownedByClientOf(Window window);
  // Makes `other` offer what this selection holds while the agent owns it, a read there counting
  // as a read here; false when the agent owns nothing here.
  bool lendContentTo(Clipboard& other);

 private:
  void take(OfferedContent content, PasteboardReadCallback onRead = nullptr,
            ReaderFilter readerCounts = nullptr);
  void clear();
  // Our own owner change has been announced by the time this returns: it counts once, now.
  void settleOwnChange();
  // Whether someone else owns the selection now (what has arrived handled first).
  bool ownedByOthers();
  // Posts `answer` to the loop, unless cancelReads() comes first.
  void answerLater(std::function<void()> answer);
  void readTextAs(std::size_t encoding, PasteboardTextCallback done);
  std::vector<std::string> namesOf(std::vector<Atom>& atoms);
  OfferedContent textContent(const std::string& text, bool transient);
  OfferedContent snapshotContent(const PasteboardContents& contents);

  Connection& connection_;
  MainLoop& loop_;
  Atom selection_;
  TargetRead reads_;
  SelectionOwner owner_;
  std::int64_t& changeCount_;
  const ChordTarget& chordTarget_;
  Window lastSeenOwner_ = None;  // without XFixes, owner changes are seen by asking
  std::shared_ptr<bool> answersLive_ = std::make_shared<bool>(true);
  // Outlived by answers already posted: one that finds it gone reports a failure.
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace deskagent::platform::x11
