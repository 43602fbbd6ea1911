#include "platform/sim/sim_desktop.hpp"

#include <new>
#include <utility>

#include "platform/sim/sim_platform.hpp"

namespace deskagent::platform {

namespace {

class SimEventSource final : public EventSource {
 public:
  void permitLocalEventsDuringSuppression() override { localEventsPermitted = true; }
  bool localEventsPermitted = false;
};

class SimKeyEvent final : public SyntheticKeyEvent {
 public:
  SimKeyEvent(SimDesktop& desktop, SimDesktop::PostedKey key) : desktop_(desktop), key_(key) {}
  void setFlags(std::uint64_t flags) override { key_.flags = flags; }
  void post() override { desktop_.keyPosted(key_); }

 private:
  SimDesktop& desktop_;
  SimDesktop::PostedKey key_;
};

// The modifiers an application looks at when it matches a shortcut.
constexpr std::uint64_t kShortcutModifiers =
    kFlagShift | kFlagControl | kFlagAlternate | kFlagCommand;

const Bytes* plainTextOf(const PasteboardContents& contents) {
  // Like stringForType:, only the first item counts.
  if (contents.items.empty()) return nullptr;
  for (const auto& representation : contents.items.front().representations) {
    if (representation.type == kSimPlainTextType) return &representation.data;
  }
  return nullptr;
}

}  // namespace

PasteboardContents simPlainText(const std::string& text) {
  return PasteboardContents{{PasteboardItem{{PasteboardRepresentation{kSimPlainTextType, text}}}}};
}

PasteboardContents simDictatedText(const std::string& text) {
  PasteboardContents contents = simPlainText(text);
  contents.items.front().representations.push_back({kTransferMarkerType, "1"});
  return contents;
}

void SimDesktop::userCopies(PasteboardContents contents) {
  replace(std::move(contents));
  usersCopy_ = clipboard_;
  usersCopyCount_ = changeCount_;
}

void SimDesktop::replace(PasteboardContents contents, PasteboardWriter writer) {
  clipboard_ = std::move(contents);
  ++changeCount_;
  writer_ = writer;
  ownerSilent_ = false;
  readNotice_ = nullptr;  // the lazily offered text is gone
}

std::optional<std::string> SimDesktop::readPlainText() {
  if (ownerSilent_) return std::nullopt;
  const Bytes* text = plainTextOf(clipboard_);
  if (text && readNotice_) loop_.post(readNotice_);
  return text ? std::optional<std::string>(text->str()) : std::nullopt;
}

// --- Synthetic keyboard events ---

std::unique_ptr<EventSource> SimDesktop::createEventSource() {
  if (!eventSourceAvailable) return nullptr;
  ++eventSourcesCreated;
  return std::make_unique<SimEventSource>();
}

std::unique_ptr<SyntheticKeyEvent> SimDesktop::createKeyboardEvent(EventSource* source,
                                                                   std::uint16_t keyCode,
                                                                   bool keyDown) {
  if (keyDown ? !keyDownCreatable : !keyUpCreatable) return nullptr;
  ++keyboardEventsCreated;
  auto* simSource = static_cast<SimEventSource*>(source);
  PostedKey key{keyCode, keyDown, heldModifiers, source != nullptr,
                simSource != nullptr && simSource->localEventsPermitted};
  return std::make_unique<SimKeyEvent>(*this, key);
}

void SimDesktop::keyPosted(const PostedKey& key) {
  postedKeys.push_back(key);
  if (!key.keyDown || (key.flags & kShortcutModifiers) != kFlagCommand) return;
  if (key.keyCode == kSimKeyV) {
    loop_.postDelayed(appLatency, [this] { appPastes(); });
  } else if (key.keyCode == kSimKeyC) {
    loop_.postDelayed(appLatency, [this] { appCopies(); });
  }
}

// --- The frontmost application ---

void SimDesktop::appPastes() {
  if (!appReadsPaste) return;
  if (!appReadsAgain) {
    pasted.push_back(readPlainText());
    return;
  }
  readPlainText();
  loop_.postDelayed(*appReadsAgain, [this] { pasted.push_back(readPlainText()); });
}

void SimDesktop::appCopies() {
  switch (onCopy) {
    case OnCopy::copiesSelection:
      replace(simPlainText(selection), PasteboardWriter::chordTarget);
      break;
    case OnCopy::copiesImage:
      replace(PasteboardContents{{PasteboardItem{
                  {PasteboardRepresentation{kSimImageType, "copied image"}}}}},
              PasteboardWriter::chordTarget);
      break;
    case OnCopy::ignores:
      break;
  }
}

// --- The clipboard as the agent sees it ---

std::int64_t SimDesktop::pasteboardChangeCount() {
  ++agentClipboardCalls;
  return changeCount_;
}

void SimDesktop::clearPasteboard() {
  ++agentClipboardCalls;
  replace({});
}

void SimDesktop::setPasteboardString(const std::string& text) {
  ++agentClipboardCalls;
  replace(simPlainText(text));
}

void SimDesktop::listPasteboardTypes(PasteboardListingCallback done) {
  ++agentClipboardCalls;
  PasteboardListing listing;
  if (accessBehavior == kPasteboardAccessAlwaysDeny) {
    loop_.post([done = std::move(done)] { done({}); });
    return;
  }
  for (const auto& item : clipboard_.items) {
    auto& types = listing.items.emplace_back();
    for (const auto& representation : item.representations) types.push_back(representation.type);
  }
  loop_.post([done = std::move(done), listing = std::move(listing)] { done(listing); });
}

void SimDesktop::readPasteboardType(std::size_t item, const std::string& type,
                                    const PasteboardReadLimits& limits,
                                    PasteboardTypeCallback done) {
  ++agentClipboardCalls;
  PasteboardTypeRead read;
  Duration takes = typeReadTime;
  const PasteboardRepresentation* found = nullptr;
  if (item < clipboard_.items.size()) {
    for (const auto& r : clipboard_.items[item].representations) {
      if (r.type == type) found = &r;
    }
  }
  if (ownerSilent_) {
    read.error = PasteboardReadError::timedOut;
    takes = limits.firstAnswer;
  } else if (auto failing = failingTypes.find(type); failing != failingTypes.end()) {
    read.error = failing->second;
  } else if (found == nullptr) {
    read.error = PasteboardReadError::refused;
  } else if (found->data.size() > limits.maxBytes) {
    read.error = PasteboardReadError::overBudget;
  } else {
    read.bytes = found->data;
    // Reading the text is reading the text, whoever does it.
    if (type == kSimPlainTextType) readPlainText();
  }
  auto id = std::make_shared<TimerId>();
  *id = loop_.postDelayed(takes, [this, id, done = std::move(done), read] {
    std::erase(readsUnderWay_, *id);
    done(read);
  });
  readsUnderWay_.push_back(*id);
}

void SimDesktop::cancelPasteboardReads() {
  for (TimerId id : readsUnderWay_) loop_.cancel(id);
  readsUnderWay_.clear();
}

void SimDesktop::readPasteboardText(PasteboardTextCallback done) {
  ++agentClipboardCalls;
  loop_.post([done = std::move(done), text = readPlainText()] { done(text); });
}

void SimDesktop::writePasteboardContents(const PasteboardContents& contents) {
  ++agentClipboardCalls;
  if (restoresOutOfMemory > 0) {
    --restoresOutOfMemory;
    throw std::bad_alloc();
  }
  replace(contents);
  managerTakesOver();
}

void SimDesktop::managerTakesOver() {
  if (!managerRecopies) return;
  const std::int64_t written = changeCount_;
  loop_.postDelayed(*managerRecopies, [this, written] {
    if (changeCount_ != written) return;
    auto text = readPlainText();
    if (!text) return;
    if (managerLands == Duration{}) {
      replace(simPlainText(*text), PasteboardWriter::other);
      return;
    }
    // Whatever the clipboard holds by then, unless the manager was stopped.
    loop_.postDelayed(managerLands, [this, text = std::move(*text)] {
      if (managerRecopies) replace(simPlainText(text), PasteboardWriter::other);
    });
  });
}

PasteboardTextWrite SimDesktop::writePasteboardTextNotifyingRead(const std::string& text,
                                                                 PasteboardReadCallback onRead) {
  ++agentClipboardCalls;
  if (textWriteFails) return PasteboardTextWrite::failed;
  replace(simDictatedText(text));
  if (std::exchange(textWriteOutOfMemory, false)) throw std::bad_alloc();
  managerTakesOver();
  if (!notifiesPasteRead) return PasteboardTextWrite::written;
  readNotice_ = std::move(onRead);
  return PasteboardTextWrite::writtenNotifyingRead;
}

PasteboardWriter SimDesktop::pasteboardWriter() const {
  return tellsWriter ? writer_ : PasteboardWriter::unknown;
}

// --- SimPlatform ---

std::unique_ptr<EventSource> SimPlatform::createEventSource() {
  return desktop_.createEventSource();
}

std::unique_ptr<SyntheticKeyEvent> SimPlatform::createKeyboardEvent(EventSource* source,
                                                                    std::uint16_t keyCode,
                                                                    bool keyDown) {
  return desktop_.createKeyboardEvent(source, keyCode, keyDown);
}

std::int64_t SimPlatform::pasteboardChangeCount() {
  return desktop_.pasteboardChangeCount();
}
void SimPlatform::listPasteboardTypes(PasteboardListingCallback done) {
  desktop_.listPasteboardTypes(std::move(done));
}
void SimPlatform::readPasteboardType(std::size_t item, const std::string& type,
                                     const PasteboardReadLimits& limits,
                                     PasteboardTypeCallback done) {
  desktop_.readPasteboardType(item, type, limits, std::move(done));
}
void SimPlatform::cancelPasteboardReads() {
  desktop_.cancelPasteboardReads();
}
const std::vector<PasteboardTypeRule>& SimPlatform::pasteboardTypeRules() const {
  return desktop_.typeRules;
}
void SimPlatform::readPasteboardText(PasteboardTextCallback done) {
  desktop_.readPasteboardText(std::move(done));
}
void SimPlatform::writePasteboardContents(const PasteboardContents& contents) {
  desktop_.writePasteboardContents(contents);
}
PasteboardWriter SimPlatform::pasteboardWriter() {
  return desktop_.pasteboardWriter();
}
PasteboardTextWrite SimPlatform::writePasteboardTextNotifyingRead(const std::string& text,
                                                                  PasteboardReadCallback onRead) {
  return desktop_.writePasteboardTextNotifyingRead(text, std::move(onRead));
}

}  // namespace deskagent::platform
