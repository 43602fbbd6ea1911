#pragma once

// The one seam between the agent's logic and the operating system. Each operation stands for a
// system call of the primary platform (named beside it); every backend gives the result or
// effect the logic relies on, and reports what happens by posting to the main loop, never by
// calling the logic from another thread.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/pasteboard.hpp"

namespace deskagent {
class MainLoop;
}

namespace deskagent::platform {

// IOHIDCheckAccess results.
inline constexpr std::int64_t kAccessGranted = 0;
inline constexpr std::int64_t kAccessDenied = 1;
inline constexpr std::int64_t kAccessUnknown = 2;

// NSPasteboard.accessBehavior (macOS 15.4 and later): whether the general pasteboard lets the
// agent read it. The first two ask the user on each programmatic read.
inline constexpr std::int64_t kPasteboardAccessDefault = 0;
inline constexpr std::int64_t kPasteboardAccessAsk = 1;
inline constexpr std::int64_t kPasteboardAccessAlwaysAllow = 2;
inline constexpr std::int64_t kPasteboardAccessAlwaysDeny = 3;

// Keyboard-event flag bits (CGEventFlags).
inline constexpr std::uint64_t kFlagAlphaShift = 0x10000;
inline constexpr std::uint64_t kFlagShift = 0x20000;
inline constexpr std::uint64_t kFlagControl = 0x40000;
inline constexpr std::uint64_t kFlagAlternate = 0x80000;
inline constexpr std::uint64_t kFlagCommand = 0x100000;
inline constexpr std::uint64_t kFlagSecondaryFn = 0x800000;

// macOS key codes of the shortcut letters the agent sends (kVK_ANSI_C, kVK_ANSI_V).
inline constexpr std::uint16_t kMacKeyC = 8;
inline constexpr std::uint16_t kMacKeyV = 9;

enum class TapLocation { hid = 0, session = 1 };  // kCGHIDEventTap, kCGSessionEventTap

// What a tap's callback is handed (kCGEventFlagsChanged and the two "disabled" notices).
enum class TapEventType { flagsChanged, disabledByTimeout, disabledByUserInput, other };

// A keyboard event as a tap sees it: CGEventGetIntegerValueField(kCGKeyboardEventKeycode) and
// CGEventGetFlags, device-dependent bits included.
struct KeyboardEvent {
  std::int64_t keyCode = 0;
  std::uint64_t flags = 0;
};

// Called on the main loop's thread for every event the tap sees. Taps are listen-only: the
// event always goes on to its destination unchanged, whatever the callback does.
using TapCallback = std::function<void(TapEventType, const KeyboardEvent&)>;

// A listen-only event tap on modifier changes (a CFMachPort). Dropping it releases it.
class EventTap {
 public:
  virtual ~EventTap() = default;
  virtual void enable(bool on) = 0;  // CGEventTapEnable
  virtual void invalidate() = 0;     // CFMachPortInvalidate: finished for good
  // CFMachPortIsValid. False while the system cannot deliver the tap's events at all (on X11:
  // while the display is gone), so the logic can treat the tap as refused and retry.
  virtual bool isValid() const { return true; }
};

// The tap's run-loop source (CFMachPortCreateRunLoopSource). While added, the tap's events reach
// the callback on the main loop.
class RunLoopSource {
 public:
  virtual ~RunLoopSource() = default;
  virtual void addToMainLoop() = 0;       // CFRunLoopAddSource, common modes
  virtual void removeFromMainLoop() = 0;  // CFRunLoopRemoveSource
};

// A source for synthetic events (CGEventSourceCreate, combined session state).
class EventSource {
 public:
  virtual ~EventSource() = default;
  // CGEventSourceSetLocalEventsFilterDuringSuppressionState(mask 3, suppression interval): the
  // user's own keyboard and mouse stay live while our events are posted.
  virtual void permitLocalEventsDuringSuppression() = 0;
};

// A synthetic keyboard event (CGEventCreateKeyboardEvent), not yet posted.
class SyntheticKeyEvent {
 public:
  virtual ~SyntheticKeyEvent() = default;
  virtual void setFlags(std::uint64_t flags) = 0;  // CGEventSetFlags: replaces, never adds
  // CGEventPost at kCGAnnotatedSessionEventTap. The modifiers its flags name are typed as keys
  // of their own as well, as CGEvent.h asks: pressed before a key's press, released after its
  // release (modifierStrokesAround); the key's own event carries its flags unchanged.
  virtual void post() = 0;
};

// Called once, on the main loop, when another application first reads a text written with
// writePasteboardTextNotifyingRead. Where the platform can tell readers apart, only a read by the
// application the next synthetic chord goes to counts (not a clipboard manager's, for one).
using PasteboardReadCallback = std::function<void()>;

// Who made the clipboard's current content, against the application the last synthetic chord
// went to: that application, someone else (the user in another application, a clipboard
// manager, the agent itself), or not known.
enum class PasteboardWriter { chordTarget, other, unknown };

// What writePasteboardTextNotifyingRead did. `failed` only where nothing was written: the
// clipboard is exactly as it was (held by another program past the agent's patience, the display
// gone).
enum class PasteboardTextWrite { failed, written, writtenNotifyingRead };

class Platform {
 public:
  virtual ~Platform() = default;

  // --- Permissions ---
  // AXIsProcessTrustedWithOptions; with `prompt` the system asks the user when not trusted.
  virtual bool isProcessTrusted(bool prompt) = 0;
  // IOHIDCheckAccess(kIOHIDRequestTypeListenEvent): kAccessGranted, kAccessDenied, ...
  virtual std::int64_t checkListenEventAccess() = 0;
  // IOHIDRequestAccess(kIOHIDRequestTypeListenEvent), which may not return until the user has
  // answered the system's dialog: a backend where it can block calls it off the main loop, and
  // posts `answered` to the main loop once it has returned. Where there is no prompt to show,
  // nothing happens and `answered` is never called.
  virtual void requestListenEventAccess(std::function<void()> answered) = 0;
  // Whether Accessibility trust alone lets a tap hear keys, as Input Monitoring access does
  // (CGEvent.h: taps receive key events when the process is trusted). Elsewhere the trust stands
  // for synthetic input only.
  virtual bool trustLetsTapsHear() const { return false; }
  // AVCaptureDevice authorizationStatusForMediaType:AVMediaTypeAudio, raw (0..3, others unknown).
  virtual std::int64_t microphoneAuthorizationStatus() = 0;

  // --- Event taps ---
  // CGEventTapCreate: listen-only, head insert, modifier changes only. Null when refused.
  virtual std::unique_ptr<EventTap> createEventTap(TapLocation location, TapCallback callback) = 0;
  virtual std::unique_ptr<RunLoopSource> createRunLoopSource(EventTap& tap) = 0;
  // CGEventSourceFlagsState(kCGEventSourceStateHIDSystemState): the keyboard's flags right now.
  virtual std::uint64_t currentModifierFlags() = 0;

  // --- Synthetic keyboard events ---
  virtual std::unique_ptr<EventSource> createEventSource() = 0;  // null when none can be had
  // Null when the event cannot be created. `source` may be null.
  virtual std::unique_ptr<SyntheticKeyEvent> createKeyboardEvent(EventSource* source,
                                                                 std::uint16_t keyCode,
                                                                 bool keyDown) = 0;
  // The key code that types `letter` ('v', 'c') in the current layout, or `ansiFallback` where
  // the layout has no such letter and the system maps shortcuts to the ANSI positions.
  virtual std::uint16_t keyCodeForShortcutLetter(char letter, std::uint16_t ansiFallback) {
    (void)letter;
    return ansiFallback;
  }

  // --- The general pasteboard ---
  virtual std::int64_t pasteboardChangeCount() = 0;  // changeCount
  // accessBehavior, raw (kPasteboardAccess...; others unknown); AlwaysAllow where the system has
  // no such setting.
  virtual std::int64_t pasteboardAccessBehavior() { return kPasteboardAccessAlwaysAllow; }
  // What the clipboard offers: each item's types in its owner's order. `done` is called once,
  // on the main loop, never before this returns.
  virtual void listPasteboardTypes(PasteboardListingCallback done) = 0;
  // Reads one type of one item of the listing just made, within `limits`, without holding up the
  // main loop: as the owner's answer arrives, or on a thread of its own where the platform's
  // call can only block. `done` is called once, on the main loop, never before this returns;
  // a read that was cancelled calls nothing.
  virtual void readPasteboardType(std::size_t item, const std::string& type,
                                  const PasteboardReadLimits& limits,
                                  PasteboardTypeCallback done) = 0;
  // Drops the reads still under way: their `done` is never called.
  virtual void cancelPasteboardReads() {}
  // The types this backend's clipboard may offer that are not plain content, as data.
  virtual const std::vector<PasteboardTypeRule>& pasteboardTypeRules() const {
    static const std::vector<PasteboardTypeRule> none;
    return none;
  }
  // The plain text (stringForType:), nothing when there is none or it cannot be read; called
  // once, on the main loop, never before this returns.
  virtual void readPasteboardText(PasteboardTextCallback done) = 0;
  // Replaces the content with `contents` (clearContents + writeObjects:); no items: empty.
  virtual void writePasteboardContents(const PasteboardContents& contents) = 0;
  // Writes `text` as the plain-text content, with kTransferMarkerType beside it, offered so that
  // the platform learns when a reader asks for it where it safely can; marked transient for
  // clipboard managers where the platform has a convention. `written` where the platform cannot
  // tell (then `onRead` is never called, the text is on the clipboard already, and the restore
  // comes at the fixed delay).
  virtual PasteboardTextWrite writePasteboardTextNotifyingRead(const std::string& text,
                                                               PasteboardReadCallback onRead) = 0;
  // The paste whose text was written last is over: its text is no longer on offer through us,
  // whether the user's content was put back or something newer had replaced it.
  virtual void pasteFinished() {}

  // Who made the clipboard's current content, where the platform can tell.
  virtual PasteboardWriter pasteboardWriter() { return PasteboardWriter::unknown; }

  // Reads the frontmost application's selected text where the platform can read it without the
  // copy shortcut, and must: an X11 terminal keeps its selection in PRIMARY, and its copy
  // shortcut would interrupt the program inside. False where the copy shortcut is the way
  // (macOS: always); otherwise `done` gets the text (nothing, or an empty string, when nothing is
  // selected there), once, on the main loop, never before this returns.
  virtual bool readSelectedTextWithoutCopying(PasteboardTextCallback done) {
    (void)done;
    return false;
  }

  // Called once the main loop has finished its work, before the process exits.
  virtual void shutdown() {}
};

}  // namespace deskagent::platform
