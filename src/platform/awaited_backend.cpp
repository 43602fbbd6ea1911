#include "platform/awaited_backend.hpp"

#include "platform/null/null_platform.hpp"

namespace deskagent::platform {
namespace {

// Every operation goes to the backend of the moment. Nothing the headless one hands out (taps,
// sources, events) can outlive the switch: it hands out none.
class AwaitedBackend final : public Platform {
 public:
  AwaitedBackend(MainLoop& loop, Duration interval, BackendConnector connect)
      : connect_(std::move(connect)), current_(connectNullPlatform()) {
    retry_ = loop.startRepeating(interval, [this] {
      if (auto backend = connect_()) {
        current_ = std::move(backend);
        retry_.reset();
      }
    });
  }

  bool isProcessTrusted(bool prompt) override { return current_->isProcessTrusted(prompt); }
  std::int64_t checkListenEventAccess() override { return current_->checkListenEventAccess(); }
  void requestListenEventAccess() override { current_->requestListenEventAccess(); }
  std::int64_t microphoneAuthorizationStatus() override {
    return current_->microphoneAuthorizationStatus();
  }

  std::unique_ptr<EventTap> createEventTap(TapLocation location, TapCallback callback) override {
    return current_->createEventTap(location, std::move(callback));
  }
  std::unique_ptr<RunLoopSource> createRunLoopSource(EventTap& tap) override {
    return current_->createRunLoopSource(tap);
  }
  std::uint64_t currentModifierFlags() override { return current_->currentModifierFlags(); }

  std::unique_ptr<EventSource> createEventSource() override {
    return current_->createEventSource();
  }
  std::unique_ptr<SyntheticKeyEvent> createKeyboardEvent(EventSource* source, std::uint16_t keyCode,
                                                         bool keyDown) override {
    return current_->createKeyboardEvent(source, keyCode, keyDown);
  }
  std::uint16_t keyCodeForShortcutLetter(char letter, std::uint16_t ansiFallback) override {
    return current_->keyCodeForShortcutLetter(letter, ansiFallback);
  }

  std::int64_t pasteboardChangeCount() override { return current_->pasteboardChangeCount(); }
  std::optional<std::string> pasteboardString() override { return current_->pasteboardString(); }
  void clearPasteboard() override { current_->clearPasteboard(); }
  void setPasteboardString(const std::string& text) override {
    current_->setPasteboardString(text);
  }
  PasteboardContents readPasteboardContents() override {
    return current_->readPasteboardContents();
  }
  void readPasteboardContentsInTurns(PasteboardContentsCallback done) override {
    current_->readPasteboardContentsInTurns(std::move(done));
  }
  void writePasteboardContents(const PasteboardContents& contents) override {
    current_->writePasteboardContents(contents);
  }
  PasteboardTextWrite writePasteboardTextNotifyingRead(const std::string& text,
                                                       PasteboardReadCallback onRead) override {
    return current_->writePasteboardTextNotifyingRead(text, std::move(onRead));
  }
  PasteboardWriter pasteboardWriter() override { return current_->pasteboardWriter(); }
  std::optional<std::string> selectedTextWithoutCopying() override {
    return current_->selectedTextWithoutCopying();
  }

  void shutdown() override {
    retry_.reset();
    current_->shutdown();
  }

 private:
  BackendConnector connect_;
  std::unique_ptr<Platform> current_;
  LoopHandle retry_;
};

}  // namespace

std::unique_ptr<Platform> awaitBackend(MainLoop& loop, Duration interval,
                                       BackendConnector connect) {
  return std::make_unique<AwaitedBackend>(loop, interval, std::move(connect));
}

}  // namespace deskagent::platform
