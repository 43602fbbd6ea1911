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

  std::int64_t pasteboardChangeCount() override { return 0; }
  std::optional<std::string> pasteboardString() override { return std::nullopt; }
  void clearPasteboard() override {}
  void setPasteboardString(const std::string&) override {}
  PasteboardContents readPasteboardContents() override { return {}; }
  void writePasteboardContents(const PasteboardContents&) override {}
};

}  // namespace

std::unique_ptr<Platform> connectNullPlatform() {
  return std::make_unique<NullPlatform>();
}

}  // namespace deskagent::platform
