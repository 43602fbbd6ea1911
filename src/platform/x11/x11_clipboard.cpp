#include "platform/x11/x11_clipboard.hpp"

#include <X11/Xatom.h>
#include <X11/extensions/Xfixes.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <string_view>
#include <utility>

#include "platform/x11/x11_text.hpp"

namespace deskagent::platform::x11 {
namespace {

using std::chrono::milliseconds;

// An owner that keeps answering (INCR chunks included) gets this long for a whole read; one
// that falls silent is cut off by the reader much sooner.
constexpr auto kReadCeiling = std::chrono::seconds(5);
constexpr std::size_t kMaxTextBytes = 64u << 20;
// Room for real content, a raw 8K image (128 MiB) among it; held only while a transfer runs.
constexpr std::size_t kMaxSnapshotBytes = 192u << 20;

SteadyTime after(std::chrono::steady_clock::duration d) {
  return std::chrono::steady_clock::now() + d;
}

PasteboardTypeRead failedWith(PasteboardReadError error) {
  return PasteboardTypeRead{{}, error};
}

PasteboardReadError readErrorOf(ConvertFailure failure) {
  switch (failure) {
    case ConvertFailure::refused:
      return PasteboardReadError::refused;
    case ConvertFailure::tooLarge:
      return PasteboardReadError::overBudget;
    case ConvertFailure::timedOut:
      break;
  }
  return PasteboardReadError::timedOut;
}

}  // namespace

Clipboard::Clipboard(Connection& connection, MainLoop& loop, Atom selection,
                     std::int64_t& changeCount, const ChordTarget& chordTarget)
    : connection_(connection),
      selection_(selection),
      reader_(connection, selection),
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
  return owner_.handle(event);
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

std::optional<std::string> Clipboard::text() {
  connection_.dispatchPending();  // a SelectionClear already sent says we own nothing now
  if (connection_.lost()) return std::nullopt;
  const Atoms& atoms = connection_.atoms();
  if (owner_.owns()) {
    for (const auto& offer : owner_.content().offers) {
      if (offer.target == atoms.utf8String) return offer.bytes.str();
    }
    return std::nullopt;
  }
  if (XGetSelectionOwner(connection_.display(), selection_) == None) return std::nullopt;
  ConvertFailure failure = ConvertFailure::refused;
  return readText(after(kReadCeiling), &failure);
}

std::optional<std::string> Clipboard::readText(SteadyTime deadline, ConvertFailure* failure) {
  const Atoms& atoms = connection_.atoms();
  for (Atom target : {atoms.utf8String, atoms.textPlainUtf8, Atom{XA_STRING}}) {
    auto data = reader_.convert(target, deadline, kMaxTextBytes, failure);
    if (data && data->format == 8) {
      return data->type == XA_STRING ? latin1ToUtf8(data->bytes) : std::move(data->bytes);
    }
    if (data) *failure = ConvertFailure::refused;
    if (*failure != ConvertFailure::refused) break;  // a silent owner gets no second chance
  }
  return std::nullopt;
}

PasteboardListing Clipboard::listing() {
  connection_.dispatchPending();
  if (connection_.lost()) return PasteboardListing{{}, PasteboardReadError::failed};
  if (owner_.owns()) {
    std::vector<std::string> types;
    for (const auto& offer : owner_.content().offers) {
      if (offer.saved) types.push_back(connection_.atomName(offer.target));
    }
    return PasteboardListing{{types}, {}};
  }
  if (XGetSelectionOwner(connection_.display(), selection_) == None) return {};
  ConvertFailure failure = ConvertFailure::refused;
  auto targets = reader_.targets(after(kReadCeiling), &failure);
  if (!targets) {
    if (failure != ConvertFailure::refused) return PasteboardListing{{}, readErrorOf(failure)};
    // An owner that cannot list its targets may still give text.
    return PasteboardListing{{{"UTF8_STRING"}}, {}};
  }
  std::vector<std::string> names;
  for (std::string& name : namesOf(*targets)) {
    if (!name.empty()) names.push_back(std::move(name));
  }
  return PasteboardListing{{names}, {}};
}

PasteboardTypeRead Clipboard::readType(const std::string& type,
                                       const PasteboardReadLimits& limits) {
  connection_.dispatchPending();
  if (connection_.lost()) return failedWith(PasteboardReadError::failed);
  if (owner_.owns()) {
    // Our own content: handed over as it is held, not copied.
    for (const auto& offer : owner_.content().offers) {
      if (offer.saved && connection_.atomName(offer.target) == type) {
        return PasteboardTypeRead{offer.bytes, {}};
      }
    }
    return failedWith(PasteboardReadError::refused);
  }
  Atom target = connection_.intern(type);
  if (target == None) return failedWith(PasteboardReadError::refused);
  ConvertFailure why = ConvertFailure::refused;
  auto deadline = after(std::chrono::duration_cast<std::chrono::steady_clock::duration>(
      limits.firstAnswer + limits.silence));
  auto data = reader_.convert(target, deadline, limits.maxBytes, &why);
  if (!data) return failedWith(readErrorOf(why));
  // Atoms and window ids mean nothing once the owner is gone: no bytes to keep.
  if (data->format != 8) return failedWith(PasteboardReadError::refused);
  return PasteboardTypeRead{std::move(data->bytes), {}};
}

PasteboardContents Clipboard::snapshot() {
  PasteboardListing listing = this->listing();
  if (listing.error || listing.items.empty()) return {};
  PasteboardItem item;
  std::size_t total = 0;
  for (const std::string& type : listing.items.front()) {
    const PasteboardTypeRule* rule = nullptr;
    for (const auto& r : x11TypeRules()) {
      if (r.pattern == type) rule = &r;
    }
    if (rule != nullptr) continue;
    auto read = readType(type, {kMaxSnapshotBytes - total, kReadCeiling, kReadCeiling});
    if (read.error == PasteboardReadError::refused) continue;
    if (read.error) return {};
    total += read.bytes.size();
    item.representations.push_back({type, std::move(read.bytes)});
  }
  if (item.representations.empty()) return {};
  return PasteboardContents{{std::move(item)}};
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
  if (atoms.empty()) return result;
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
  content.offers.push_back({atoms.utf8String, atoms.utf8String, utf8, true, true});
  content.offers.push_back({atoms.textPlainUtf8, atoms.textPlainUtf8, utf8, true, false});
  content.offers.push_back({atoms.textPlain, atoms.textPlain, utf8, true, false});
  content.offers.push_back({XA_STRING, XA_STRING, Bytes(utf8ToLatin1(text)), true, false});
  content.offers.push_back({atoms.text, atoms.utf8String, utf8, true, false});
  if (transient) {
    // Another agent finding this waits for our restore instead of saving our text as the user's.
    content.offers.push_back(
        {atoms.transferMarker, atoms.transferMarker, Bytes("1"), false, false});
    // Dictated text passing through stays out of clipboard histories where the manager looks
    // for a marker: KDE's password-manager hint (Klipper, CopyQ from 8.0, and others that
    // follow KDE) and CopyQ's own hidden and secret formats.
    for (auto [marker, value] :
         {std::pair{atoms.passwordManagerHint, "secret"}, std::pair{atoms.copyqHidden, "1"},
          std::pair{atoms.copyqSecret, "1"}}) {
      content.offers.push_back({marker, marker, Bytes(value), false, false});
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
  std::optional<std::string> utf8;
  for (std::size_t i = 0; i < representations.size(); ++i) {
    if (targets[i] == None || representations[i].type.empty()) continue;
    Atom target = targets[i];
    bool isText = target == atoms.utf8String || target == atoms.textPlainUtf8 ||
                  target == atoms.textPlain || target == XA_STRING;
    content.offers.push_back({target, target, representations[i].data, isText, true});
    if (target == atoms.utf8String || (!utf8 && target == atoms.textPlainUtf8)) {
      utf8 = representations[i].data.str();
    } else if (!utf8 && target == XA_STRING) {
      utf8 = latin1ToUtf8(representations[i].data.str());
    }
  }
  if (utf8) {
    // The other encodings of the text, as the owner we saved from gave them.
    for (const Offer& derived : textContent(*utf8, false).offers) {
      bool present = std::any_of(content.offers.begin(), content.offers.end(),
                                 [&](const Offer& o) { return o.target == derived.target; });
      if (present) continue;
      Offer copy = derived;
      copy.saved = false;
      content.offers.push_back(copy);
    }
  }
  return content;
}

PasteboardContents Clipboard::contentsOf(const OfferedContent& content) {
  PasteboardItem item;
  for (const auto& offer : content.offers) {
    if (!offer.saved) continue;
    item.representations.push_back({connection_.atomName(offer.target), offer.bytes});
  }
  if (item.representations.empty()) return {};
  return PasteboardContents{{std::move(item)}};
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

void Clipboard::setText(const std::string& text) {
  take(textContent(text, false));
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
