#include "platform/awaited_backend.hpp"

#include "platform/null/null_platform.hpp"

namespace deskagent::platform {
namespace {

// Every operation goes to the backend of the moment; a new operation of the seam must be
// forwarded here too. Nothing the headless one hands out (taps, sources, events, reads under
// way) can outlive the switch: it hands out none, and never trusted, no transfer starts on it.
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
  void requestListenEventAccess(std::function<void()> answered) override {
    current_->requestListenEventAccess(std::move(answered));
  }
  bool trustLetsTapsHear() const override { return current_->trustLetsTapsHear(); }
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
  std::int64_t pasteboardAccessBehavior() override { return current_->pasteboardAccessBehavior(); }
  void listPasteboardTypes(PasteboardListingCallback done) override {
    current_->listPasteboardTypes(std::move(done));
  }
  void readPasteboardType(std::size_t item, const std::string& type,
                          const PasteboardReadLimits& limits,
                          PasteboardTypeCallback done) override {
    current_->readPasteboardType(item, type, limits, std::move(done));
  }
  void cancelPasteboardReads() override { current_->cancelPasteboardReads(); }
  const std::vector<PasteboardTypeRule>& pasteboardTypeRules() const override {
    return current_->pasteboardTypeRules();
  }
  void readPasteboardText(PasteboardTextCallback done) override {
    current_->readPasteboardText(std::move(done));
  }
  void writePasteboardContents(const PasteboardContents& contents) override {
    current_->writePasteboardContents(contents);
  }
  PasteboardTextWrite writePasteboardTextNotifyingRead(const std::string& text,
                                                       PasteboardReadCallback onRead) override {
    return current_->writePasteboardTextNotifyingRead(text, std::move(onRead));
  }
  void pasteFinished() override { current_->pasteFinished(); }
  PasteboardWriter pasteboardWriter() override { return current_->pasteboardWriter(); }
  bool readSelectedTextWithoutCopying(PasteboardTextCallback done) override {
    return current_->readSelectedTextWithoutCopying(std::move(done));
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
