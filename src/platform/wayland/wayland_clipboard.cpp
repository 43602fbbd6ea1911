#include "platform/wayland/wayland_clipboard.hpp"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>

namespace deskagent::platform::wayland {

namespace {

// The copied text a selection read answers with is at most this long.
constexpr std::size_t kMaxTextBytes = std::size_t{64} << 20;
// An owner that has not given the text whole by then has stopped answering.
constexpr auto kTextTimeout = std::chrono::seconds(1);
// A reader that takes no more of our data by then has stopped reading.
constexpr auto kSendTimeout = std::chrono::seconds(2);

// Plain text, in the order a reader prefers it.
constexpr std::array<const char*, 5> kTextTypes = {"text/plain;charset=utf-8", "UTF8_STRING",
                                                   "text/plain", "TEXT", "STRING"};
// Clipboard managers that honour it keep the text out of their history.
constexpr const char* kSecretHintType = "x-kde-passwordManagerHint";

bool isTextType(const std::string& type) {
  return std::find(kTextTypes.begin(), kTextTypes.end(), type) != kTextTypes.end();
}

PasteboardContents textContents(const std::string& text) {
  PasteboardItem item;
  Bytes shared = text;
  for (const char* type : kTextTypes) item.representations.push_back({type, shared});
  return PasteboardContents{{item}};
}

int remainingMs(std::chrono::steady_clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
      deadline - std::chrono::steady_clock::now());
  return static_cast<int>(std::max<std::int64_t>(0, left.count()));
}

// Writes all of `data` to a reader's pipe, giving up on one that stops reading.
void writeWhole(int fd, const std::string& data) {
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
  auto deadline = std::chrono::steady_clock::now() + kSendTimeout;
  std::size_t at = 0;
  while (at < data.size()) {
    ssize_t n = ::write(fd, data.data() + at, data.size() - at);
    if (n > 0) {
      at += static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN) return;  // the reader closed its end
    pollfd p{fd, POLLOUT, 0};
    if (::poll(&p, 1, remainingMs(deadline)) <= 0) return;
  }
}

}  // namespace

Clipboard::Clipboard(Connection& connection, MainLoop& loop, const std::uint64_t& chords)
    : connection_(connection), loop_(loop), chords_(chords) {
  static const zwlr_data_control_device_v1_listener listener = {
      &Clipboard::onDataOffer, &Clipboard::onSelection, &Clipboard::onFinished,
      &Clipboard::onPrimarySelection};
  device_ =
      zwlr_data_control_manager_v1_get_data_device(connection_.dataControl(), connection_.seat());
  zwlr_data_control_device_v1_add_listener(device_, &listener, this);
  connection_.roundtrip();  // the current selection
}

Clipboard::~Clipboard() {
  for (auto& [offer, types] : pending_) zwlr_data_control_offer_v1_destroy(offer);
  if (selection_) zwlr_data_control_offer_v1_destroy(selection_->offer);
  if (source_ != nullptr) zwlr_data_control_source_v1_destroy(source_);
  if (device_ != nullptr) zwlr_data_control_device_v1_destroy(device_);
  connection_.flush();
}

void Clipboard::onDataOffer(void* data, zwlr_data_control_device_v1*,
                            zwlr_data_control_offer_v1* offer) {
  static const zwlr_data_control_offer_v1_listener listener = {&Clipboard::onOfferType};
  auto* self = static_cast<Clipboard*>(data);
  self->pending_[offer];
  zwlr_data_control_offer_v1_add_listener(offer, &listener, self);
}

void Clipboard::onOfferType(void* data, zwlr_data_control_offer_v1* offer, const char* type) {
  auto* self = static_cast<Clipboard*>(data);
  if (auto it = self->pending_.find(offer); it != self->pending_.end()) {
    it->second.emplace_back(type);
  }
}

void Clipboard::onSelection(void* data, zwlr_data_control_device_v1*,
                            zwlr_data_control_offer_v1* offer) {
  auto* self = static_cast<Clipboard*>(data);
  if (self->selection_) zwlr_data_control_offer_v1_destroy(self->selection_->offer);
  self->selection_.reset();
  if (offer != nullptr) {
    auto it = self->pending_.find(offer);
    self->selection_ =
        Offer{offer, it != self->pending_.end() ? it->second : std::vector<std::string>{}};
    if (it != self->pending_.end()) self->pending_.erase(it);
  }
  // Our own write was counted when it was made; this is its echo.
  const bool ourClear = offer == nullptr && self->clearing_;
  self->clearing_ = false;
  if (self->source_ == nullptr && !ourClear) ++self->changeCount_;
}

void Clipboard::onPrimarySelection(void* data, zwlr_data_control_device_v1*,
                                   zwlr_data_control_offer_v1* offer) {
  if (offer != nullptr) static_cast<Clipboard*>(data)->forgetOffer(offer);
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

std::optional<std::string> Clipboard::receive(const std::string& type, std::size_t limit,
                                              std::chrono::steady_clock::time_point until,
                                              bool* tooLarge) {
  int fds[2];
  // Only our end is ours to make non-blocking: an owner handed a non-blocking end may write once
  // and stop at the pipe's size (Qt does).
  if (!selection_ || ::pipe2(fds, O_CLOEXEC) != 0) return std::nullopt;
  ::fcntl(fds[0], F_SETFL, ::fcntl(fds[0], F_GETFL) | O_NONBLOCK);
  zwlr_data_control_offer_v1_receive(selection_->offer, type.c_str(), fds[1]);
  ::close(fds[1]);
  connection_.flush();
  auto deadline = until;
  std::string data;
  char buffer[65536];
  while (true) {
    ssize_t n = ::read(fds[0], buffer, sizeof(buffer));
    if (n == 0) break;  // the owner has written it all
    if (n > 0) {
      data.append(buffer, static_cast<std::size_t>(n));
      if (data.size() > limit) break;
      continue;
    }
    if (errno == EINTR) continue;
    pollfd p{fds[0], POLLIN, 0};
    if (errno != EAGAIN || ::poll(&p, 1, remainingMs(deadline)) <= 0) {
      ::close(fds[0]);
      return std::nullopt;
    }
  }
  ::close(fds[0]);
  if (data.size() > limit) {
    if (tooLarge != nullptr) *tooLarge = true;
    return std::nullopt;
  }
  return data;
}

std::optional<std::string> Clipboard::text() {
  connection_.roundtrip();  // a copy made just now is announced by then
  if (source_ != nullptr) {
    for (const auto& item : owned_.items) {
      for (const auto& rep : item.representations) {
        if (isTextType(rep.type)) return rep.data.str();
      }
    }
    return std::nullopt;
  }
  if (!selection_) return std::nullopt;
  for (const char* type : kTextTypes) {
    const auto& types = selection_->types;
    if (std::find(types.begin(), types.end(), type) != types.end()) {
      return receive(type, kMaxTextBytes, std::chrono::steady_clock::now() + kTextTimeout);
    }
  }
  return std::nullopt;
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
  return PasteboardListing{{selection_->types}, {}};
}

PasteboardTypeRead Clipboard::readType(const std::string& type,
                                       const PasteboardReadLimits& limits) {
  if (source_ != nullptr) {
    // Our own content: handed over as it is held, not copied.
    for (const auto& item : owned_.items) {
      for (const auto& rep : item.representations) {
        if (rep.type == type) return PasteboardTypeRead{rep.data, {}};
      }
    }
    return PasteboardTypeRead{{}, PasteboardReadError::refused};
  }
  bool tooLarge = false;
  auto until = std::chrono::steady_clock::now() +
               std::chrono::duration_cast<std::chrono::steady_clock::duration>(limits.firstAnswer);
  auto data = receive(type, limits.maxBytes, until, &tooLarge);
  if (!data) {
    return PasteboardTypeRead{
        {}, tooLarge ? PasteboardReadError::overBudget : PasteboardReadError::timedOut};
  }
  return PasteboardTypeRead{std::move(*data), {}};
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
    zwlr_data_control_device_v1_set_selection(device_, nullptr);
    connection_.flush();
    return;
  }
  static const zwlr_data_control_source_v1_listener listener = {&Clipboard::onSend,
                                                                &Clipboard::onCancelled};
  source_ = zwlr_data_control_manager_v1_create_data_source(connection_.dataControl());
  zwlr_data_control_source_v1_add_listener(source_, &listener, this);
  for (const auto& rep : owned_.items.front().representations) {
    zwlr_data_control_source_v1_offer(source_, rep.type.c_str());
  }
  zwlr_data_control_device_v1_set_selection(device_, source_);
  connection_.flush();
}

void Clipboard::onSend(void* data, zwlr_data_control_source_v1* source, const char* type,
                       std::int32_t fd) {
  auto* self = static_cast<Clipboard*>(data);
  const std::string asked = type;
  if (source == self->source_ && !self->owned_.items.empty()) {
    for (const auto& rep : self->owned_.items.front().representations) {
      if (rep.type == asked) {
        writeWhole(fd, rep.data.str());
        break;
      }
    }
    // A read of the text after our chord is the paste's; a clipboard manager's copy before it,
    // or its look at the hint, is not.
    if (self->onRead_ && isTextType(asked) && self->chords_ != self->chordsAtWrite_) {
      self->loop_.post(std::exchange(self->onRead_, {}));
    }
  }
  ::close(fd);
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

bool Clipboard::setTextNotifyingRead(const std::string& text, PasteboardReadCallback onRead) {
  if (device_ == nullptr) return false;
  PasteboardContents contents = textContents(text);
  contents.items.front().representations.push_back({kSecretHintType, "secret"});
  // Another agent finding this waits for our restore instead of saving our text as the user's.
  contents.items.front().representations.push_back({kTransferMarkerType, "1"});
  own(std::move(contents), std::move(onRead));
  return true;
}

}  // namespace deskagent::platform::wayland
