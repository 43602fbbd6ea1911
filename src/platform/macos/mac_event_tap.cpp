// The listen-only event tap on modifier changes, its run-loop source and the keyboard's flags.

#include <ApplicationServices/ApplicationServices.h>

#include <vector>

#include "platform/macos/mac_platform.hpp"

namespace deskagent::platform {
namespace {

class MacEventTap;

// The taps alive now, oldest first. The system hands the C callback no pointer of ours (the user
// info stays NULL), so the callback serves the newest live tap: trial taps are released before
// the kept one is made, and the kept one is released before the next is built. Touched only on
// the main thread, where taps are made and their source delivers.
std::vector<MacEventTap*>& liveTaps() {
  static std::vector<MacEventTap*> taps;
  return taps;
}

class MacEventTap final : public EventTap {
 public:
  MacEventTap(CFMachPortRef port, TapCallback callback)
      : port_(port), callback_(std::move(callback)) {
    liveTaps().push_back(this);
  }
  ~MacEventTap() override {
    std::erase(liveTaps(), this);
    // Invalidating first also ends the port's run-loop source wherever it still is, so a dropped
    // tap can never deliver to the callback of another.
    CFMachPortInvalidate(port_);
    CFRelease(port_);
  }
  MacEventTap(const MacEventTap&) = delete;
  MacEventTap& operator=(const MacEventTap&) = delete;

  void enable(bool on) override { CGEventTapEnable(port_, on); }
  void invalidate() override { CFMachPortInvalidate(port_); }
  // False once the system has let the port go (the window server restarted, say): the watcher
  // then builds a new tap.
  bool isValid() const override { return CFMachPortIsValid(port_); }

  CFMachPortRef port() const { return port_; }
  const TapCallback& callback() const { return callback_; }

 private:
  CFMachPortRef port_;
  TapCallback callback_;
};

class MacRunLoopSource final : public RunLoopSource {
 public:
  explicit MacRunLoopSource(CFRunLoopSourceRef source) : source_(source) {}
  ~MacRunLoopSource() override { CFRelease(source_); }
  MacRunLoopSource(const MacRunLoopSource&) = delete;
  MacRunLoopSource& operator=(const MacRunLoopSource&) = delete;

  void addToMainLoop() override {
    CFRunLoopAddSource(CFRunLoopGetMain(), source_, kCFRunLoopCommonModes);
  }
  void removeFromMainLoop() override {
    CFRunLoopRemoveSource(CFRunLoopGetMain(), source_, kCFRunLoopCommonModes);
  }

 private:
  CFRunLoopSourceRef source_;
};

TapEventType tapEventType(CGEventType type) {
  switch (type) {
    case kCGEventFlagsChanged:
      return TapEventType::flagsChanged;
    case kCGEventTapDisabledByTimeout:
      return TapEventType::disabledByTimeout;
    case kCGEventTapDisabledByUserInput:
      return TapEventType::disabledByUserInput;
    default:
      return TapEventType::other;
  }
}

// Listen-only: whatever the handler does, the event goes on unchanged.
CGEventRef onTapEvent(CGEventTapProxy, CGEventType type, CGEventRef event, void*) {
  if (liveTaps().empty()) return event;
  TapEventType kind = tapEventType(type);
  KeyboardEvent keyboardEvent;
  if (kind == TapEventType::flagsChanged && event != nullptr) {
    keyboardEvent.keyCode = CGEventGetIntegerValueField(event, kCGKeyboardEventKeycode);
    keyboardEvent.flags = CGEventGetFlags(event);
  }
  TapCallback callback = liveTaps().back()->callback();  // a copy: the handler may drop the tap
  if (callback) callback(kind, keyboardEvent);
  return event;
}

}  // namespace

std::unique_ptr<EventTap> MacPlatform::createEventTap(TapLocation location, TapCallback callback) {
  CGEventTapLocation where = location == TapLocation::hid ? kCGHIDEventTap : kCGSessionEventTap;
  CFMachPortRef port = CGEventTapCreate(where, kCGHeadInsertEventTap, kCGEventTapOptionListenOnly,
                                        CGEventMaskBit(kCGEventFlagsChanged), onTapEvent, nullptr);
  if (port == nullptr) return nullptr;
  return std::make_unique<MacEventTap>(port, std::move(callback));
}

std::unique_ptr<RunLoopSource> MacPlatform::createRunLoopSource(EventTap& tap) {
  // Every EventTap handed out here is a MacEventTap.
  CFMachPortRef port = static_cast<MacEventTap&>(tap).port();
  CFRunLoopSourceRef source = CFMachPortCreateRunLoopSource(kCFAllocatorDefault, port, 0);
  if (source == nullptr) return nullptr;
  return std::make_unique<MacRunLoopSource>(source);
}

std::uint64_t MacPlatform::currentModifierFlags() {
  return CGEventSourceFlagsState(kCGEventSourceStateHIDSystemState);
}

}  // namespace deskagent::platform
