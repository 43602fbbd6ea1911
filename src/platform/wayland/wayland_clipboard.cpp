#include "platform/wayland/wayland_clipboard.hpp"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>

#include "platform/wayland/text_types.hpp"

namespace deskagent::platform::wayland {

namespace {

// The copied text a selection read answers with is at most this long.
constexpr std::size_t kMaxTextBytes = std::size_t{64} << 20;
// An owner that has not given the text whole by then has stopped answering.
constexpr auto kTextTimeout = std::chrono::seconds(1);
// Real owners offer a few dozen types; a clipboard of more than this many is not saved (nor are
// their names kept).
constexpr std::size_t kMaxTypes = 1000;

int remainingMs(std::chrono::steady_clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
      deadline - std::chrono::steady_clock::now());
  return static_cast<int>(std::max<std::int64_t>(0, left.count()));
}

}  // namespace

Clipboard::Clipboard(Connection& connection, MainLoop& loop, const std::uint64_t& chords,
                     std::int64_t& changeCount, Selection which)
    : connection_(connection),
      loop_(loop),
      chords_(chords),
      changeCount_(changeCount),
      which_(which) {
  static const zwlr_data_control_device_v1_listener listener = {
      &Clipboard::onDataOffer, &Clipboard::onSelection, &Clipboard::onFinished,
      &Clipboard::onPrimarySelection};
  device_ =
      zwlr_data_control_manager_v1_get_data_device(connection_.dataControl(), connection_.seat());
  zwlr_data_control_device_v1_add_listener(device_, &listener, this);
  connection_.roundtrip();  // the current selection
}

Clipboard::~Clipboard() {
  for (auto& [offer, pending] : pending_) zwlr_data_control_offer_v1_destroy(offer);
  if (selection_) zwlr_data_control_offer_v1_destroy(selection_->offer);
  if (source_ != nullptr) zwlr_data_control_source_v1_destroy(source_);
  if (device_ != nullptr) zwlr_data_control_device_v1_destroy(device_);
  connection_.flush();
}

void Clipboard::onDataOffer(void* data, zwlr_data_control_device_v1*,
                            zwlr_data_control_offer_v1* offer) {
  static const zwlr_data_control_offer_v1_listener listener = {&Clipboard::onOfferType};
  auto* self = static_cast<Clipboard*>(data);
  self->pending_[offer].offer = offer;
  zwlr_data_control_offer_v1_add_listener(offer, &listener, self);
}

void Clipboard::onOfferType(void* data, zwlr_data_control_offer_v1* offer, const char* type) {
  auto* self = static_cast<Clipboard*>(data);
  if (auto it = self->pending_.find(offer); it != self->pending_.end()) {
    Offer& pending = it->second;
    if (pending.types.size() < kMaxTypes) {
      pending.types.emplace_back(type);
    } else {
      pending.typesCut = true;
    }
  }
}

// Each device hears of both selections: a Clipboard keeps its own and forgets the other's offers.
void Clipboard::onSelection(void* data, zwlr_data_control_device_v1*,
                            zwlr_data_control_offer_v1* offer) {
  auto* self = static_cast<Clipboard*>(data);
  if (self->which_ == Selection::clipboard) {
    self->selectionChanged(offer);
  } else if (offer != nullptr) {
    self->forgetOffer(offer);
  }
}

void Clipboard::onPrimarySelection(void* data, zwlr_data_control_device_v1*,
                                   zwlr_data_control_offer_v1* offer) {
  auto* self = static_cast<Clipboard*>(data);
  if (self->which_ == Selection::primary) {
    self->selectionChanged(offer);
  } else if (offer != nullptr) {
    self->forgetOffer(offer);
  }
}

void Clipboard::selectionChanged(zwlr_data_control_offer_v1* offer) {
  if (selection_) zwlr_data_control_offer_v1_destroy(selection_->offer);
  selection_.reset();
  if (offer != nullptr) {
    auto it = pending_.find(offer);
    selection_ = it != pending_.end() ? std::move(it->second) : Offer{offer, {}, false};
    if (it != pending_.end()) pending_.erase(it);
  }
  // Our own write was counted when it was made; this is its echo.
  const bool ourClear = offer == nullptr && clearing_;
  clearing_ = false;
  if (source_ == nullptr && !ourClear) ++changeCount_;
}

void Clipboard::onFinished(void* data, zwlr_data_control_device_v1*) {
  auto* self = static_cast<Clipboard*>(data);
  zwlr_data_control_device_v1_destroy(self->device_);
  self->device_ = nullptr;
}

void Clipboard::forgetOffer(zwlr_data_control_offer_v1* offer) {
  pending_.erase(offer);
  zwlr_data_control_offer_v1_destroy(offer);
}

int Clipboard::requestType(const std::string& type) {
  int fds[2];
  // Only our end is ours to make non-blocking: an owner handed a non-blocking end may write once
  // and stop at the pipe's size (Qt does).
  if (!selection_ || ::pipe2(fds, O_CLOEXEC) != 0) return -1;
  zwlr_data_control_offer_v1_receive(selection_->offer, type.c_str(), fds[1]);
  ::close(fds[1]);
  connection_.flush();
  ::fcntl(fds[0], F_SETFL, ::fcntl(fds[0], F_GETFL) | O_NONBLOCK);
  return fds[0];
}

std::optional<std::string> Clipboard::receive(const std::string& type) {
  int fd = requestType(type);
  if (fd < 0) return std::nullopt;
  auto deadline = std::chrono::steady_clock::now() + kTextTimeout;
  std::string data;
  char buffer[65536];
  bool whole = false;
  while (data.size() <= kMaxTextBytes) {
    ssize_t n = ::read(fd, buffer, sizeof(buffer));
    if (n == 0) {
      whole = true;  // the owner has written it all
      break;
    }
    if (n > 0) {
      data.append(buffer, static_cast<std::size_t>(n));
      continue;
    }
    if (errno == EINTR) continue;
    pollfd p{fd, POLLIN, 0};
    if (errno != EAGAIN || ::poll(&p, 1, remainingMs(deadline)) <= 0) break;
  }
  ::close(fd);
  return whole ? std::optional(std::move(data)) : std::nullopt;
}

const Bytes* Clipboard::ownedType(const std::string& type, bool anyText) const {
  for (const auto& item : owned_.items) {
    for (const auto& rep : item.representations) {
      if (anyText ? isTextType(rep.type) : rep.type == type) return &rep.data;
    }
  }
  return nullptr;
}

std::optional<std::string> Clipboard::offeredTextType() const {
  if (!selection_) return std::nullopt;
  const auto& types = selection_->types;
  for (const char* type : kTextTypes) {
    if (std::find(types.begin(), types.end(), type) != types.end()) return type;
  }
  return std::nullopt;
}

std::optional<std::string> Clipboard::text() {
  connection_.roundtrip();  // a copy made just now is announced by then
  if (source_ != nullptr) {
    const Bytes* text = ownedType({}, /*anyText=*/true);
    return text != nullptr ? std::optional(text->str()) : std::nullopt;
  }
  auto type = offeredTextType();
  return type ? receive(*type) : std::nullopt;
}

void Clipboard::readText(PasteboardTextCallback done) {
  connection_.roundtrip();  // a copy made just now is announced by then
  std::optional<std::string> type = source_ == nullptr ? offeredTextType() : std::nullopt;
  int fd = type ? requestType(*type) : -1;
  if (fd < 0) {
    const Bytes* owned = source_ != nullptr ? ownedType({}, /*anyText=*/true) : nullptr;
    std::optional<std::string> text;
    if (owned != nullptr) text = owned->str();
    loop_.post([done = std::move(done), text = std::move(text)] { done(text); });
    return;
  }
  const PasteboardReadLimits limits{kMaxTextBytes, kTextTimeout, kTextTimeout};
  startRead(fd, limits, [done = std::move(done)](PasteboardTypeRead read) {
    done(read.error ? std::nullopt : std::optional(read.bytes.str()));
  });
}

PasteboardListing Clipboard::listing() {
  connection_.roundtrip();  // a copy made just now is announced by then
  if (source_ != nullptr) {
    PasteboardListing listing;
    for (const auto& item : owned_.items) {
      auto& types = listing.items.emplace_back();
      for (const auto& rep : item.representations) types.push_back(rep.type);
    }
    return listing;
  }
  if (!selection_) return {};
  // Past the bound, the content is not saved, and nothing is asked of its owner.
  if (selection_->typesCut) return PasteboardListing{{}, PasteboardReadError::overBudget};
  return PasteboardListing{{selection_->types}, {}};
}

void Clipboard::readType(const std::string& type, const PasteboardReadLimits& limits,
                         PasteboardTypeCallback done) {
  if (source_ != nullptr) {
    // Our own content: handed over as it is held, not copied.
    const Bytes* owned = ownedType(type);
    PasteboardTypeRead read{
        owned != nullptr ? *owned : Bytes(),
        owned != nullptr ? std::nullopt : std::optional(PasteboardReadError::refused)};
    loop_.post([done = std::move(done), read = std::move(read)] { done(read); });
    return;
  }
  int fd = requestType(type);
  if (fd < 0) {
    loop_.post([done = std::move(done)] { done({{}, PasteboardReadError::failed}); });
    return;
  }
  startRead(fd, limits, std::move(done));
}

void Clipboard::startRead(int fd, const PasteboardReadLimits& limits, PasteboardTypeCallback done) {
  std::erase_if(reads_, [](const auto& read) { return read->finished(); });
  reads_.push_back(std::make_unique<PipeRead>(loop_, fd, limits, std::move(done)));
}

void Clipboard::cancelReads() {
  reads_.clear();
}

void Clipboard::own(PasteboardContents contents, PasteboardReadCallback onRead) {
  ++changeCount_;
  clearing_ = false;
  if (source_ != nullptr) zwlr_data_control_source_v1_destroy(source_);
  source_ = nullptr;
  owned_ = std::move(contents);
  onRead_ = std::move(onRead);
  chordsAtWrite_ = chords_;
  if (device_ == nullptr) return;
  if (owned_.items.empty()) {
    clearing_ = true;
    setSelection(nullptr);
    return;
  }
  static const zwlr_data_control_source_v1_listener listener = {&Clipboard::onSend,
                                                                &Clipboard::onCancelled};
  source_ = zwlr_data_control_manager_v1_create_data_source(connection_.dataControl());
  zwlr_data_control_source_v1_add_listener(source_, &listener, this);
  for (const auto& rep : owned_.items.front().representations) {
    zwlr_data_control_source_v1_offer(source_, rep.type.c_str());
  }
  setSelection(source_);
}

void Clipboard::setSelection(zwlr_data_control_source_v1* source) {
  if (which_ == Selection::primary) {
    zwlr_data_control_device_v1_set_primary_selection(device_, source);
  } else {
    zwlr_data_control_device_v1_set_selection(device_, source);
  }
  connection_.flush();
}

void Clipboard::onSend(void* data, zwlr_data_control_source_v1* source, const char* type,
                       std::int32_t fd) {
  auto* self = static_cast<Clipboard*>(data);
  const std::string asked = type;
  if (source == self->source_ && !self->owned_.items.empty()) {
    for (const auto& rep : self->owned_.items.front().representations) {
      if (rep.type == asked) {
        std::erase_if(self->writes_, [](const auto& write) { return write->finished(); });
        self->writes_.push_back(std::make_unique<PipeWrite>(self->loop_, fd, rep.data));
        fd = -1;  // the write has it
        break;
      }
    }
    // Each read of the text after our chord is the paste's; a clipboard manager's copy before
    // it, or its look at the hint, is not.
    if (self->onRead_ && isTextType(asked) && self->chords_ != self->chordsAtWrite_) {
      self->loop_.post(self->onRead_);
    }
  }
  if (fd >= 0) ::close(fd);
}

void Clipboard::onCancelled(void* data, zwlr_data_control_source_v1* source) {
  auto* self = static_cast<Clipboard*>(data);
  zwlr_data_control_source_v1_destroy(source);
  if (source != self->source_) return;
  self->source_ = nullptr;
  self->owned_ = {};
  self->onRead_ = {};
}

void Clipboard::setContents(const PasteboardContents& contents) {
  // One selection holds one item: the first, as the other systems' readers see it.
  PasteboardContents first;
  if (!contents.items.empty()) first.items.push_back(contents.items.front());
  own(std::move(first));
}

void Clipboard::setText(const std::optional<std::string>& text) {
  own(text ? textContents(*text) : PasteboardContents{});
}

bool Clipboard::setTextNotifyingRead(const std::string& text, PasteboardReadCallback onRead) {
  if (device_ == nullptr) return false;
  own(dictatedContents(text), std::move(onRead));
  return true;
}

}  // namespace deskagent::platform::wayland
