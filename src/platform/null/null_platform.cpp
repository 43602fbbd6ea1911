#include "platform/null/null_platform.hpp"

namespace deskagent::platform {
namespace {

class NullPlatform final : public Platform {
 public:
  bool isProcessTrusted(bool) override { return false; }
  std::int64_t checkListenEventAccess() override { return kAccessDenied; }
  void requestListenEventAccess(std::function<void()>) override {}
  std::int64_t microphoneAuthorizationStatus() override { return -1; }

  std::unique_ptr<EventTap> createEventTap(TapLocation, TapCallback) override { return nullptr; }
  std::unique_ptr<RunLoopSource> createRunLoopSource(EventTap&) override { return nullptr; }
  std::uint64_t currentModifierFlags() override { return 0; }

  std::unique_ptr<EventSource> createEventSource() override { return nullptr; }
  std::unique_ptr<SyntheticKeyEvent> createKeyboardEvent(EventSource*, std::uint16_t,
                                                         bool) override {
    return nullptr;
  }

  // Nothing is ever trusted here, so no transfer gets this far; answered all the same.
  std::int64_t pasteboardChangeCount() override { return 0; }
  void listPasteboardTypes(PasteboardListingCallback done) override {
    done(PasteboardListing{{}, PasteboardReadError::failed});
  }
  void readPasteboardType(std::size_t, const std::string&, const PasteboardReadLimits&,
                          PasteboardTypeCallback done) override {
    done(PasteboardTypeRead{{}, PasteboardReadError::failed});
  }
  void readPasteboardText(PasteboardTextCallback done) override { done(std::nullopt); }
  void writePasteboardContents(const PasteboardContents&) override {}
  PasteboardTextWrite writePasteboardTextNotifyingRead(const std::string&,
                                                       PasteboardReadCallback) override {
    return PasteboardTextWrite::failed;
  }
};

}  // namespace

std::unique_ptr<Platform> connectNullPlatform() {
  return std::make_unique<NullPlatform>();
}

}  // namespace deskagent::platform
