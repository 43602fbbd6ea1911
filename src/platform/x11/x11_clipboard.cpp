#include "platform/x11/x11_clipboard.hpp"

#include <X11/Xatom.h>
#include <X11/extensions/Xfixes.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <utility>

#include "platform/x11/x11_text.hpp"

namespace deskagent::platform::x11 {
namespace {

using std::chrono::milliseconds;

// The reads the backend makes of its own accord (a list of targets, the text of a copy) are
// bounded here; a snapshot's reads by the agent's limits. An owner gets as long to start
// answering as a toolkit encoding a large image needs on a busy machine, a short while of
// silence between the chunks it sends, and a ceiling in all.
constexpr PasteboardReadLimits kTargetsLimits{1u << 20, milliseconds(4000), milliseconds(1000)};
constexpr PasteboardReadLimits kTextLimits{64u << 20, milliseconds(4000), milliseconds(1000)};
constexpr auto kOwnReadCeiling = milliseconds(6000);

// The atoms in a format-32 ATOM list.
std::vector<Atom> atomsIn(const TargetData& data) {
  std::vector<Atom> atoms;
  for (std::size_t i = 0; i + 4 <= data.bytes.size(); i += 4) {
    std::uint32_t value;
    std::memcpy(&value, data.bytes.data() + i, 4);
    atoms.push_back(value);
  }
  return atoms;
}

// Bytes converted from `source` when first asked for, once for every offer holding a copy.
std::function<Bytes()> convertedOnce(Bytes source, std::string (*convert)(std::string_view)) {
  auto made = std::make_shared<std::optional<Bytes>>();
  return [made, source = std::move(source), convert] {
    if (!*made) *made = Bytes(convert(source.str()));
    return **made;
  };
}

// The text's encodings a reader may ask for that `offers` lacks: those of UTF-8 sharing `utf8`,
// STRING (Latin-1) sharing `latin1`, and each made from the other when first asked for where
// only one was given.
void offerTextEncodings(std::vector<Offer>& offers, const Atoms& atoms,
                        const std::optional<Bytes>& utf8, const std::optional<Bytes>& latin1) {
  auto missing = [&](Atom target) {
    return std::none_of(offers.begin(), offers.end(),
                        [&](const Offer& o) { return o.target == target; });
  };
  std::function<Bytes()> toUtf8 = utf8 ? nullptr : convertedOnce(*latin1, latin1ToUtf8);
  std::function<Bytes()> toLatin1 = latin1 ? nullptr : convertedOnce(*utf8, utf8ToLatin1);
  for (auto [target, type] : {std::pair{atoms.utf8String, atoms.utf8String},
                              {atoms.textPlainUtf8, atoms.textPlainUtf8},
                              {atoms.textPlain, atoms.textPlain},
                              {atoms.text, atoms.utf8String}}) {
    if (missing(target))
      offers.push_back({target, type, utf8.value_or(Bytes()), true, false, toUtf8});
  }
  if (missing(XA_STRING)) {
    offers.push_back({XA_STRING, XA_STRING, latin1.value_or(Bytes()), true, false, toLatin1});
  }
}

PasteboardTypeRead failedWith(PasteboardReadError error) {
  return PasteboardTypeRead{{}, error};
}

}  // namespace

Clipboard::Clipboard(Connection& connection, MainLoop& loop, Atom selection,
                     std::int64_t& changeCount, const ChordTarget& chordTarget)
    : connection_(connection),
      loop_(loop),
      selection_(selection),
      reads_(connection, loop, selection,
             connection.intern("_DESKAGENT_" + connection.atomName(selection))),
      owner_(connection, loop, selection),
      changeCount_(changeCount),
      chordTarget_(chordTarget) {
  if (connection_.extensions().xfixes) {
    XFixesSelectSelectionInput(connection_.display(), connection_.window(), selection_,
                               XFixesSetSelectionOwnerNotifyMask |
                                   XFixesSelectionWindowDestroyNotifyMask |
                                   XFixesSelectionClientCloseNotifyMask);
  } else {
    lastSeenOwner_ = XGetSelectionOwner(connection_.display(), selection_);
  }
}

bool Clipboard::handle(const XEvent& event) {
  const Extensions& ext = connection_.extensions();
  if (ext.xfixes && event.type == ext.xfixesEventBase + XFixesSelectionNotify) {
    const auto& notify = reinterpret_cast<const XFixesSelectionNotifyEvent&>(event);
    if (notify.selection != selection_) return false;  // another selection's
    ++changeCount_;
    return true;
  }
  return reads_.handle(event) || owner_.handle(event);
}

std::int64_t Clipboard::changeCount() {
  connection_.dispatchPending();
  if (!connection_.extensions().xfixes && !connection_.lost()) {
    Window owner = XGetSelectionOwner(connection_.display(), selection_);
    if (owner != lastSeenOwner_) {
      lastSeenOwner_ = owner;
      ++changeCount_;
    }
  }
  return changeCount_;
}

void Clipboard::settleOwnChange() {
  if (connection_.lost()) return;
  if (connection_.extensions().xfixes) {
    // take() and clear() ended with a round trip, so our own notice is already queued.
    connection_.dispatchPending();
  } else {
    ++changeCount_;
    lastSeenOwner_ = XGetSelectionOwner(connection_.display(), selection_);
  }
}

bool Clipboard::ownedByOthers() {
  connection_.dispatchPending();  // a SelectionClear already sent says we own nothing now
  return !connection_.lost() && !owner_.owns() &&
         XGetSelectionOwner(connection_.display(), selection_) != None;
}

void Clipboard::answerLater(std::function<void()> answer) {
  loop_.post([live = answersLive_, answer = std::move(answer)] {
    if (*live) answer();
  });
}

void Clipboard::cancelReads() {
  reads_.cancel();
  *answersLive_ = false;
  answersLive_ = std::make_shared<bool>(true);
}

void Clipboard::list(PasteboardListingCallback done) {
  if (!ownedByOthers()) {
    PasteboardListing listing;
    if (connection_.lost()) {
      listing.error = PasteboardReadError::failed;
    } else if (owner_.owns()) {
      std::vector<std::string>& types = listing.items.emplace_back();
      for (const auto& offer : owner_.content().offers) {
        if (offer.saved) types.push_back(connection_.atomName(offer.target));
      }
    }
    answerLater([done = std::move(done), listing = std::move(listing)] { done(listing); });
    return;
  }
  auto answer = [this, alive = std::weak_ptr(alive_), done = std::move(done)](
                    TargetData data, std::optional<PasteboardReadError> error) {
    if (alive.expired()) {
      done({{}, PasteboardReadError::failed});
    } else if (error == PasteboardReadError::refused) {
      done({{{"UTF8_STRING"}}, {}});  // an owner that cannot list its targets may still give text
    } else if (error) {
      done({{}, error});
    } else if (data.format != 32) {
      done({{}, PasteboardReadError::malformed});  // a list of atoms is all TARGETS can be
    } else {
      std::vector<Atom> targets = atomsIn(data);
      std::vector<std::string> names;
      for (std::string& name : namesOf(targets)) {
        if (!name.empty()) names.push_back(std::move(name));
      }
      done({{std::move(names)}, {}});
    }
  };
  reads_.start(connection_.atoms().targets, kTargetsLimits, std::move(answer),
               loop_.now() + kOwnReadCeiling);
}

void Clipboard::read(const std::string& type, const PasteboardReadLimits& limits,
                     PasteboardTypeCallback done) {
  if (!ownedByOthers()) {
    // Our own content: handed over as it is held, not copied. Nothing at all: the content read
    // is gone.
    PasteboardTypeRead read = failedWith(PasteboardReadError::failed);
    if (owner_.owns()) {
      read.error = PasteboardReadError::refused;
      for (const auto& offer : owner_.content().offers) {
        if (offer.saved && connection_.atomName(offer.target) == type) read = {offer.bytes, {}};
      }
    }
    answerLater([done = std::move(done), read = std::move(read)] { done(read); });
    return;
  }
  Atom target = connection_.intern(type);
  reads_.start(target, limits,
               [done = std::move(done)](TargetData data, std::optional<PasteboardReadError> error) {
                 if (error) {
                   done(failedWith(*error));
                 } else if (data.format != 8) {
                   // Atoms and window ids mean nothing once the owner is gone: nothing to keep.
                   done(failedWith(PasteboardReadError::refused));
                 } else {
                   done({Bytes(std::move(data.bytes)), {}});
                 }
               });
}

void Clipboard::readText(PasteboardTextCallback done) {
  if (!ownedByOthers()) {
    std::optional<std::string> text;
    if (owner_.owns()) {
      for (auto& offer : owner_.content().offers) {
        if (offer.target == connection_.atoms().utf8String) text = offer.value().str();
      }
    }
    answerLater([done = std::move(done), text = std::move(text)] { done(text); });
    return;
  }
  readTextAs(0, std::move(done));
}

void Clipboard::readTextAs(std::size_t encoding, PasteboardTextCallback done) {
  const Atoms& atoms = connection_.atoms();
  const Atom encodings[] = {atoms.utf8String, atoms.textPlainUtf8, XA_STRING};
  auto answer = [this, alive = std::weak_ptr(alive_), encoding, done = std::move(done)](
                    TargetData data, std::optional<PasteboardReadError> error) mutable {
    if (alive.expired()) {
      done(std::nullopt);
    } else if (!error && data.format == 8) {
      done(data.type == XA_STRING ? latin1ToUtf8(data.bytes) : std::move(data.bytes));
    } else if ((!error || error == PasteboardReadError::refused) && encoding + 1 < 3) {
      readTextAs(encoding + 1, std::move(done));  // a silent owner gets no second chance
    } else {
      done(std::nullopt);
    }
  };
  reads_.start(encodings[encoding], kTextLimits, std::move(answer), loop_.now() + kOwnReadCeiling);
}

PasteboardWriter Clipboard::writer() {
  connection_.dispatchPending();
  if (connection_.lost() || chordTarget_.window == None) return PasteboardWriter::unknown;
  Window owner = XGetSelectionOwner(connection_.display(), selection_);
  if (owner == None) return PasteboardWriter::unknown;
  return connection_.sameClient(owner, chordTarget_.window) ? PasteboardWriter::chordTarget
                                                            : PasteboardWriter::other;
}

std::vector<std::string> Clipboard::namesOf(std::vector<Atom>& atoms) {
  std::vector<std::string> result;
  std::vector<char*> names(atoms.size(), nullptr);
  if (atoms.empty() || connection_.lost()) return result;
  if (XGetAtomNames(connection_.display(), atoms.data(), static_cast<int>(atoms.size()),
                    names.data())) {
    for (char* name : names) {
      result.emplace_back(name != nullptr ? name : "");
      if (name != nullptr) XFree(name);
    }
    return result;
  }
  // One atom the server does not know spoils the batch: ask one by one ("" for the bad ones).
  for (Atom atom : atoms) result.push_back(connection_.atomName(atom));
  return result;
}

OfferedContent Clipboard::textContent(const std::string& text, bool transient) {
  const Atoms& atoms = connection_.atoms();
  Bytes utf8 = text;
  OfferedContent content;
  content.transient = transient;
  content.offers.push_back({atoms.utf8String, atoms.utf8String, utf8, true, true, {}});
  offerTextEncodings(content.offers, atoms, utf8, std::nullopt);
  if (transient) {
    // Another agent finding this waits for our restore instead of saving our text as the user's.
    content.offers.push_back(
        {atoms.transferMarker, atoms.transferMarker, Bytes("1"), false, false, {}});
    // Dictated text passing through stays out of clipboard histories where the manager looks
    // for a marker: KDE's password-manager hint (Klipper, CopyQ from 8.0, and others that
    // follow KDE) and CopyQ's own hidden and secret formats.
    for (auto [marker, value] :
         {std::pair{atoms.passwordManagerHint, "secret"}, std::pair{atoms.copyqHidden, "1"},
          std::pair{atoms.copyqSecret, "1"}}) {
      content.offers.push_back({marker, marker, Bytes(value), false, false, {}});
    }
  }
  return content;
}

OfferedContent Clipboard::snapshotContent(const PasteboardContents& contents) {
  const Atoms& atoms = connection_.atoms();
  OfferedContent content;
  if (contents.items.empty()) return content;
  // X has one item per selection; further items cannot be offered.
  const auto& representations = contents.items.front().representations;
  std::vector<char*> names;
  for (const auto& r : representations) {
    // An empty name is no atom; "NULL" stands in and is then left out.
    names.push_back(const_cast<char*>(r.type.empty() ? "NULL" : r.type.c_str()));
  }
  std::vector<Atom> targets(names.size(), None);
  if (!names.empty()) {
    XInternAtoms(connection_.display(), names.data(), static_cast<int>(names.size()), False,
                 targets.data());
  }
  std::optional<Bytes> utf8, latin1;
  for (std::size_t i = 0; i < representations.size(); ++i) {
    if (targets[i] == None || representations[i].type.empty()) continue;
    Atom target = targets[i];
    const Bytes& bytes = representations[i].data;
    bool isText = target == atoms.utf8String || target == atoms.textPlainUtf8 ||
                  target == atoms.textPlain || target == XA_STRING;
    content.offers.push_back({target, target, bytes, isText, true, {}});
    if (target == atoms.utf8String || (!utf8 && target == atoms.textPlainUtf8)) utf8 = bytes;
    if (target == XA_STRING) latin1 = bytes;
  }
  // The other encodings of the text, as the owner we saved from gave them.
  if (utf8 || latin1) offerTextEncodings(content.offers, atoms, utf8, latin1);
  return content;
}

void Clipboard::take(OfferedContent content, PasteboardReadCallback onRead,
                     ReaderFilter readerCounts) {
  if (connection_.lost()) return;
  Time time = connection_.serverTime();
  // In place before ownership, since a reader may ask as soon as the server says we own it.
  owner_.setReadCallback(std::move(onRead), std::move(readerCounts));
  if (!owner_.take(std::move(content), time)) owner_.setReadCallback(nullptr);
  settleOwnChange();
}

void Clipboard::clear() {
  if (connection_.lost()) return;
  owner_.setReadCallback(nullptr);
  owner_.clear(connection_.serverTime());
  settleOwnChange();
}

void Clipboard::setContents(const PasteboardContents& contents) {
  OfferedContent content = snapshotContent(contents);
  if (content.offers.empty()) {
    clear();
    return;
  }
  take(std::move(content));
}

void Clipboard::setTextNotifyingRead(const std::string& text, PasteboardReadCallback onRead) {
  // Only the application the chord goes to: a clipboard manager reads every new clipboard at
  // once, and a reader from before the chord is not the paste's.
  std::uint64_t chordsBefore = chordTarget_.chords;
  take(textContent(text, true), std::move(onRead), [this, chordsBefore](Window requestor) {
    return chordTarget_.chords > chordsBefore &&
           connection_.sameClient(requestor, chordTarget_.window);
  });
}

void Clipboard::handOverToManager() {
  owner_.handOver();
}

bool Clipboard::ownedByClientOf(Window window) {
  if (connection_.lost()) return false;
  Window owner = XGetSelectionOwner(connection_.display(), selection_);
  return owner != None && connection_.sameClient(owner, window);
}

bool Clipboard::lendContentTo(Clipboard& other) {
  connection_.dispatchPending();
  if (!owner_.owns()) return false;
  auto [onRead, readerCounts] = owner_.takeReadCallback();
  other.take(owner_.content(), std::move(onRead), std::move(readerCounts));
  return true;
}

}  // namespace deskagent::platform::x11
