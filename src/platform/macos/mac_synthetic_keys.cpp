// Synthetic keyboard events: the event source, the events and posting them.

#include <ApplicationServices/ApplicationServices.h>

#include "platform/macos/mac_platform.hpp"

namespace deskagent::platform {
namespace {

class MacEventSource final : public EventSource {
 public:
  explicit MacEventSource(CGEventSourceRef source) : source_(source) {}
  ~MacEventSource() override { CFRelease(source_); }
  MacEventSource(const MacEventSource&) = delete;
  MacEventSource& operator=(const MacEventSource&) = delete;

  void permitLocalEventsDuringSuppression() override {
    CGEventSourceSetLocalEventsFilterDuringSuppressionState(
        source_,
        kCGEventFilterMaskPermitLocalMouseEvents | kCGEventFilterMaskPermitLocalKeyboardEvents,
        kCGEventSuppressionStateSuppressionInterval);
  }

  CGEventSourceRef source() const { return source_; }

 private:
  CGEventSourceRef source_;
};

class MacKeyEvent final : public SyntheticKeyEvent {
 public:
  explicit MacKeyEvent(CGEventRef event) : event_(event) {}
  ~MacKeyEvent() override { CFRelease(event_); }
  MacKeyEvent(const MacKeyEvent&) = delete;
  MacKeyEvent& operator=(const MacKeyEvent&) = delete;

  void setFlags(std::uint64_t flags) override { CGEventSetFlags(event_, flags); }
  void post() override { CGEventPost(kCGAnnotatedSessionEventTap, event_); }

 private:
  CGEventRef event_;
};

}  // namespace

std::unique_ptr<EventSource> MacPlatform::createEventSource() {
  CGEventSourceRef source = CGEventSourceCreate(kCGEventSourceStateCombinedSessionState);
  if (source == nullptr) return nullptr;
  return std::make_unique<MacEventSource>(source);
}

std::unique_ptr<SyntheticKeyEvent> MacPlatform::createKeyboardEvent(EventSource* source,
                                                                    std::uint16_t keyCode,
                                                                    bool keyDown) {
  // Every EventSource handed out here is a MacEventSource.
  CGEventSourceRef from =
      source != nullptr ? static_cast<MacEventSource*>(source)->source() : nullptr;
  CGEventRef event = CGEventCreateKeyboardEvent(from, keyCode, keyDown);
  if (event == nullptr) return nullptr;
  return std::make_unique<MacKeyEvent>(event);
}

}  // namespace deskagent::platform
