#include "platform/x11/x11_selection_owner.hpp"

#include <X11/Xatom.h>

#include <algorithm>
#include <chrono>
#include <new>

namespace deskagent::platform::x11 {
namespace {

// A requestor that stops taking INCR chunks for this long has gone away.
constexpr auto kTransferIdle = std::chrono::seconds(5);
constexpr auto kSweepInterval = std::chrono::seconds(1);
constexpr std::size_t kMaxChunkBytes = 256 * 1024;
// At exit, a clipboard manager that has neither answered nor asked us for anything for this long
// is taken not to answer at all; one that keeps reading what we own gets up to the ceiling.
constexpr auto kHandOverSilence = std::chrono::milliseconds(250);
constexpr auto kHandOverCeiling = std::chrono::seconds(3);

}  // namespace

SelectionOwner::SelectionOwner(Connection& connection, MainLoop& loop, Atom selection)
    : connection_(connection), loop_(loop), selection_(selection) {
  // Answers above one request's size go by INCR (ICCCM 2.7.2).
  auto requestBytes = static_cast<std::size_t>(XMaxRequestSize(connection_.display())) * 4;
  chunkBytes_ = std::min(kMaxChunkBytes, requestBytes > 1024 ? requestBytes - 1024 : 1024);
}

SelectionOwner::~SelectionOwner() {
  if (connection_.lost()) return;
  for (const auto& transfer : transfers_)
    XSelectInput(connection_.display(), transfer.requestor, 0);
}

bool SelectionOwner::take(OfferedContent content, Time time) {
  if (connection_.lost()) return false;
  Display* display = connection_.display();
  // The content is in place before the first request for it can arrive.
  content_ = std::move(content);
  XSetSelectionOwner(display, selection_, connection_.window(), time);
  owned_ = XGetSelectionOwner(display, selection_) == connection_.window();
  if (!owned_) content_ = {};
  ownedSince_ = time;
  return owned_;
}

void SelectionOwner::clear(Time time) {
  if (connection_.lost()) return;
  XSetSelectionOwner(connection_.display(), selection_, None, time);
  XGetSelectionOwner(connection_.display(), selection_);
  owned_ = false;
  content_ = {};
}

void SelectionOwner::noteTextRead(Window requestor) {
  if (!onRead_ || (readerCounts_ && !readerCounts_(requestor))) return;
  readerCounts_ = nullptr;
  loop_.post(std::exchange(onRead_, nullptr));
}

bool SelectionOwner::convertInto(Window requestor, Atom property, Atom target) {
  Display* display = connection_.display();
  const Atoms& atoms = connection_.atoms();
  if (target == atoms.targets) {
    std::vector<unsigned long> list{atoms.targets, atoms.timestamp, atoms.multiple};
    for (const auto& offer : content_.offers) list.push_back(offer.target);
    XChangeProperty(display, requestor, property, XA_ATOM, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(list.data()),
                    static_cast<int>(list.size()));
    return true;
  }
  if (target == atoms.timestamp) {
    unsigned long time = ownedSince_;
    XChangeProperty(display, requestor, property, XA_INTEGER, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(&time), 1);
    return true;
  }
  auto offer = std::find_if(content_.offers.begin(), content_.offers.end(),
                            [&](const Offer& o) { return o.target == target; });
  if (offer == content_.offers.end()) return false;
  const std::string& bytes = offer->value().str();
  if (bytes.size() > chunkBytes_) {
    // INCR: announce a lower bound of the size; chunks follow each time the requestor deletes
    // the property.
    XSelectInput(display, requestor, PropertyChangeMask);
    unsigned long size = bytes.size();
    XChangeProperty(display, requestor, property, atoms.incr, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(&size), 1);
    transfers_.push_back(
        {requestor, property, offer->type, offer->bytes, 0, std::chrono::steady_clock::now()});
    if (!sweepTimer_)
      sweepTimer_ = loop_.startRepeating(kSweepInterval, [this] { sweepTransfers(); });
  } else {
    XChangeProperty(display, requestor, property, offer->type, 8, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(bytes.data()),
                    static_cast<int>(bytes.size()));
  }
  if (offer->isText) noteTextRead(requestor);
  return true;
}

bool SelectionOwner::serveMultiple(Window requestor, Atom property) {
  Display* display = connection_.display();
  Atom type = None;
  int format = 0;
  unsigned long count = 0, after = 0;
  unsigned char* data = nullptr;
  if (XGetWindowProperty(display, requestor, property, 0, 1 << 16, False, AnyPropertyType, &type,
                         &format, &count, &after, &data) != Success ||
      data == nullptr || format != 32) {
    if (data != nullptr) XFree(data);
    return false;
  }
  std::vector<unsigned long> pairs(reinterpret_cast<unsigned long*>(data),
                                   reinterpret_cast<unsigned long*>(data) + count);
  XFree(data);
  for (std::size_t i = 0; i + 1 < pairs.size(); i += 2) {
    Atom pairTarget = pairs[i];
    Atom pairProperty = pairs[i + 1];
    if (pairProperty == None || pairTarget == connection_.atoms().multiple ||
        !convertInto(requestor, pairProperty, pairTarget)) {
      pairs[i + 1] = None;  // ICCCM: a pair that failed gets its property replaced by None
    }
  }
  XChangeProperty(display, requestor, property, type, 32, PropModeReplace,
                  reinterpret_cast<const unsigned char*>(pairs.data()),
                  static_cast<int>(pairs.size()));
  return true;
}

void SelectionOwner::serve(const XSelectionRequestEvent& request) {
  ++requestsServed_;
  const Atoms& atoms = connection_.atoms();
  XSelectionEvent reply{};
  reply.type = SelectionNotify;
  reply.display = request.display;
  reply.requestor = request.requestor;
  reply.selection = request.selection;
  reply.target = request.target;
  reply.time = request.time;
  reply.property = None;
  // Obsolete clients name no property: the target's name is the property then.
  Atom property = request.property != None ? request.property : request.target;
  bool current =
      request.time == CurrentTime || ownedSince_ == CurrentTime || request.time >= ownedSince_;
  if (owned_ && current) {
    try {
      bool served = request.target == atoms.multiple
                        ? request.property != None && serveMultiple(request.requestor, property)
                        : convertInto(request.requestor, property, request.target);
      if (served) reply.property = property;
    } catch (const std::bad_alloc&) {
      // No memory to derive the encoding asked for: refused, and the content stays as it is.
    }
  }
  XEvent event{};
  event.xselection = reply;
  XSendEvent(connection_.display(), request.requestor, False, NoEventMask, &event);
  XFlush(connection_.display());
}

void SelectionOwner::sendChunk(IncrTransfer& transfer) {
  std::size_t left = transfer.bytes.size() - transfer.offset;
  std::size_t length = std::min(left, chunkBytes_);
  XChangeProperty(connection_.display(), transfer.requestor, transfer.property, transfer.type, 8,
                  PropModeReplace,
                  reinterpret_cast<const unsigned char*>(transfer.bytes.data() + transfer.offset),
                  static_cast<int>(length));
  transfer.offset += length;
  transfer.lastActivity = std::chrono::steady_clock::now();
}

bool SelectionOwner::continueTransfer(const XPropertyEvent& event) {
  auto it = std::find_if(transfers_.begin(), transfers_.end(), [&](const IncrTransfer& t) {
    return t.requestor == event.window && t.property == event.atom;
  });
  if (it == transfers_.end()) return false;
  ++requestsServed_;
  // Once every byte has gone, this deletion asks for the closing zero-length chunk.
  bool closing = it->offset == it->bytes.size();
  sendChunk(*it);
  if (closing) {
    Window requestor = it->requestor;
    transfers_.erase(it);
    forgetRequestor(requestor);
  }
  XFlush(connection_.display());
  return true;
}

void SelectionOwner::forgetRequestor(Window requestor) {
  bool stillUsed = std::any_of(transfers_.begin(), transfers_.end(),
                               [&](const IncrTransfer& t) { return t.requestor == requestor; });
  if (!stillUsed && !connection_.lost()) XSelectInput(connection_.display(), requestor, 0);
  if (transfers_.empty()) sweepTimer_.reset();
}

void SelectionOwner::sweepTransfers() {
  auto now = std::chrono::steady_clock::now();
  std::vector<Window> abandoned;
  std::erase_if(transfers_, [&](const IncrTransfer& t) {
    if (now - t.lastActivity < kTransferIdle) return false;
    abandoned.push_back(t.requestor);
    return true;
  });
  for (Window requestor : abandoned) forgetRequestor(requestor);
  if (transfers_.empty()) sweepTimer_.reset();
}

bool SelectionOwner::handle(const XEvent& event) {
  switch (event.type) {
    case SelectionRequest:
      if (event.xselectionrequest.selection != selection_) return false;
      serve(event.xselectionrequest);
      return true;
    case SelectionClear:
      if (event.xselectionclear.selection != selection_) return false;
      // A clear still queued from before we took it back says nothing: ask who owns it now.
      if (owned_ && XGetSelectionOwner(connection_.display(), selection_) != connection_.window()) {
        owned_ = false;
        content_ = {};
      }
      return true;
    case PropertyNotify:
      return event.xproperty.state == PropertyDelete &&
             event.xproperty.window != connection_.window() && continueTransfer(event.xproperty);
    default:
      return false;
  }
}

void SelectionOwner::handOver() {
  if (connection_.lost() || !owned_ || content_.transient || content_.offers.empty() ||
      selection_ != connection_.atoms().clipboard) {
    return;
  }
  Display* display = connection_.display();
  const Atoms& atoms = connection_.atoms();
  if (XGetSelectionOwner(display, atoms.clipboardManager) == None) return;
  std::vector<unsigned long> keep;
  for (const auto& offer : content_.offers) keep.push_back(offer.target);
  XChangeProperty(display, connection_.window(), atoms.saveTargetsProperty, XA_ATOM, 32,
                  PropModeReplace, reinterpret_cast<const unsigned char*>(keep.data()),
                  static_cast<int>(keep.size()));
  XConvertSelection(display, atoms.clipboardManager, atoms.saveTargets, atoms.saveTargetsProperty,
                    connection_.window(), CurrentTime);
  auto ceiling = std::chrono::steady_clock::now() + kHandOverCeiling;
  for (;;) {
    std::uint64_t served = requestsServed_;
    auto until = std::min(std::chrono::steady_clock::now() + kHandOverSilence, ceiling);
    auto answer = connection_.waitForEvent(
        [&](const XEvent& e) {
          return e.type == SelectionNotify && e.xselection.selection == atoms.clipboardManager &&
                 e.xselection.requestor == connection_.window();
        },
        until);
    // Answered, silent for a while, or out of time.
    if (answer || requestsServed_ == served || until >= ceiling) return;
  }
}

}  // namespace deskagent::platform::x11
