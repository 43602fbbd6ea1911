#include "platform/sim/sim_desktop.hpp"

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

const std::string* plainTextOf(const PasteboardContents& contents) {
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
  pendingReadNotice_ = nullptr;  // the lazily offered text is gone unread
}

std::optional<std::string> SimDesktop::readPlainText() {
  if (ownerSilent_) return std::nullopt;
  const std::string* text = plainTextOf(clipboard_);
  if (text && pendingReadNotice_) loop_.post(std::exchange(pendingReadNotice_, nullptr));
  return text ? std::optional<std::string>(*text) : std::nullopt;
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
  if (appReadsPaste) pasted.push_back(readPlainText());
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

std::optional<std::string> SimDesktop::pasteboardString() {
  ++agentClipboardCalls;
  return readPlainText();
}

void SimDesktop::clearPasteboard() {
  ++agentClipboardCalls;
  replace({});
}

void SimDesktop::setPasteboardString(const std::string& text) {
  ++agentClipboardCalls;
  PasteboardContents contents = clipboard_;
  if (contents.items.empty()) contents.items.emplace_back();
  auto& representations = contents.items.front().representations;
  std::erase_if(representations, [](const auto& r) { return r.type == kSimPlainTextType; });
  representations.push_back({kSimPlainTextType, text});
  replace(std::move(contents));
}

PasteboardContents SimDesktop::readPasteboardContents() {
  ++agentClipboardCalls;
  if (ownerSilent_) return PasteboardContents{{}, /*complete=*/false};
  if (plainTextOf(clipboard_)) readPlainText();  // reading every type reads the text too
  return clipboard_;
}

void SimDesktop::readPasteboardContentsInTurns(PasteboardContentsCallback done) {
  PasteboardContents contents = readPasteboardContents();
  if (snapshotTime == Duration::zero()) {
    done(std::move(contents));
    return;
  }
  loop_.postDelayed(snapshotTime,
                    [done = std::move(done), contents = std::move(contents)] { done(contents); });
}

void SimDesktop::writePasteboardContents(const PasteboardContents& contents) {
  ++agentClipboardCalls;
  replace(contents);
}

PasteboardTextWrite SimDesktop::writePasteboardTextNotifyingRead(const std::string& text,
                                                                 PasteboardReadCallback onRead) {
  ++agentClipboardCalls;
  if (textWriteFails) return PasteboardTextWrite::failed;
  replace(simPlainText(text));
  if (!notifiesPasteRead) return PasteboardTextWrite::written;
  pendingReadNotice_ = std::move(onRead);
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
std::optional<std::string> SimPlatform::pasteboardString() {
  return desktop_.pasteboardString();
}
void SimPlatform::clearPasteboard() {
  desktop_.clearPasteboard();
}
void SimPlatform::setPasteboardString(const std::string& text) {
  desktop_.setPasteboardString(text);
}
PasteboardContents SimPlatform::readPasteboardContents() {
  return desktop_.readPasteboardContents();
}
void SimPlatform::readPasteboardContentsInTurns(PasteboardContentsCallback done) {
  desktop_.readPasteboardContentsInTurns(std::move(done));
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
