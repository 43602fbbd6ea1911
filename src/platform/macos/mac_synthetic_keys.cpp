// Synthetic keyboard events: the event source, the events and posting them, each with its
// modifiers typed as keys of their own.

#include <ApplicationServices/ApplicationServices.h>

#include <memory>
#include <type_traits>
#include <vector>

#include "platform/macos/mac_platform.hpp"
#include "platform/modifier_keys.hpp"

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

// CF objects released when the holder goes.
struct CFReleaser {
  void operator()(CFTypeRef object) const { CFRelease(object); }
};
using OwnedEvent = std::unique_ptr<std::remove_pointer_t<CGEventRef>, CFReleaser>;

class MacKeyEvent final : public SyntheticKeyEvent {
 public:
  MacKeyEvent(CGEventSourceRef source, CGEventRef event, bool keyDown)
      : source_(source), event_(event), keyDown_(keyDown) {
    if (source_ != nullptr) CFRetain(source_);
  }
  ~MacKeyEvent() override {
    CFRelease(event_);
    if (source_ != nullptr) CFRelease(source_);
  }
  MacKeyEvent(const MacKeyEvent&) = delete;
  MacKeyEvent& operator=(const MacKeyEvent&) = delete;

  void setFlags(std::uint64_t flags) override {
    flags_ = flags;
    CGEventSetFlags(event_, flags);
  }

  // The modifiers' own events are made before anything is posted. A press whose modifiers
  // cannot all be had is not posted at all (without them it would type the letter); a release
  // always is, with those of its modifiers that could be had, so no key is left down.
  void post() override {
    ModifierStrokes strokes = modifierStrokesAround(keyDown_, flags_);
    std::vector<OwnedEvent> before = eventsFor(strokes.before);
    std::vector<OwnedEvent> after = eventsFor(strokes.after);
    if (keyDown_ && before.size() < strokes.before.size()) return;
    for (const auto& event : before) CGEventPost(kCGAnnotatedSessionEventTap, event.get());
    CGEventPost(kCGAnnotatedSessionEventTap, event_);
    for (const auto& event : after) CGEventPost(kCGAnnotatedSessionEventTap, event.get());
  }

 private:
  std::vector<OwnedEvent> eventsFor(const std::vector<KeyStroke>& strokes) const {
    std::vector<OwnedEvent> events;
    for (const KeyStroke& stroke : strokes) {
      CGEventRef event = CGEventCreateKeyboardEvent(
          source_, static_cast<CGKeyCode>(stroke.macKeyCode), stroke.down);
      if (event == nullptr) continue;
      CGEventSetFlags(event, stroke.flags);
      events.emplace_back(event);
    }
    return events;
  }

  CGEventSourceRef source_;
  CGEventRef event_;
  bool keyDown_;
  std::uint64_t flags_ = 0;
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
  return std::make_unique<MacKeyEvent>(from, event, keyDown);
}

}  // namespace deskagent::platform
