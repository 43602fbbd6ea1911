#include "platform/windows/win_platform.hpp"

#include <chrono>
#include <vector>

#include "platform/shared_tap.hpp"
#include "platform/windows/win_chord.hpp"
#include "platform/windows/win_clipboard.hpp"
#include "platform/windows/win_clipboard_formats.hpp"
#include "platform/windows/win_consoles.hpp"
#include "platform/windows/win_key_hook.hpp"
#include "platform/windows/win_permissions.hpp"

namespace deskagent::platform::windows {
namespace {

using TapState = SharedTapState;

// The application that has just copied its selection gets as long to give its text as the X11
// backend gives it.
constexpr Duration kTextPatience = std::chrono::milliseconds(4000);

// The taps and the one hook they share: installed while some tap listens. Held in a shared_ptr
// so that posted tasks and taps that outlive the platform find it gone instead of dangling.
class Core : public std::enable_shared_from_this<Core> {
 public:
  explicit Core(MainLoop& loop) : clipboard(loop), loop_(loop) {}

  void registerTap(const std::shared_ptr<TapState>& tap) {
    std::erase_if(taps_, [](const std::weak_ptr<TapState>& t) { return t.expired(); });
    taps_.push_back(tap);
  }

  // A hook the system would not install (a desktop without input) hears nothing.
  bool tapCanHear(const TapState& tap) const { return !tap.listening() || hookInstalled(); }
  void postSyntheticKey(std::uint16_t keyCode, bool down, std::uint64_t flags) {
    chord.post(keyCode, down, flags);
  }

  void updateListening() {
    bool wanted = false;
    for (const auto& weak : taps_) {
      if (auto tap = weak.lock(); tap && tap->listening()) wanted = true;
    }
    if (!wanted) {
      hook_.reset();
    } else if (!hook_) {
      std::weak_ptr<Core> weak = weak_from_this();
      hook_ = std::make_unique<KeyHook>([weak](const KeyboardEvent& event) {
        if (auto core = weak.lock()) core->deliver(event);
      });
    }
  }

  bool hookInstalled() const { return hook_ && hook_->installed(); }

  // At the end: the hook goes first. The loop no longer turns, and a hook whose thread is busy
  // with the last restore would hold up every key the user presses meanwhile.
  void stopListening() {
    taps_.clear();
    hook_.reset();
  }

  Clipboard clipboard;
  MainLoop& loop() { return loop_; }
  ChordPoster chord;

 private:
  // Called from inside the hook: the taps hear of it on a later loop turn.
  void deliver(const KeyboardEvent& event) {
    postToListeningTaps(loop_, taps_, TapEventType::flagsChanged, event);
  }

  MainLoop& loop_;
  std::unique_ptr<KeyHook> hook_;
  std::vector<std::weak_ptr<TapState>> taps_;
};

using WinEventTap = SharedEventTap<Core>;

class WinPlatform final : public Platform {
 public:
  explicit WinPlatform(std::shared_ptr<Core> core) : core_(std::move(core)) {}

  // Windows asks nobody for synthetic input; it reaches windows of the same or a lower
  // integrity level on the desktop the user works on.
  bool isProcessTrusted(bool) override { return canSendInput(); }
  std::int64_t checkListenEventAccess() override {
    return core_->hookInstalled() || KeyHook::canInstall() ? kAccessGranted : kAccessDenied;
  }
  void requestListenEventAccess(std::function<void()>) override {}  // Windows has no prompt to show
  std::int64_t microphoneAuthorizationStatus() override {
    return microphoneStatus(readMicrophoneConsent());
  }

  // The session location has no Windows counterpart (the low-level hook is the one listen-only
  // source), so it is refused.
  std::unique_ptr<EventTap> createEventTap(TapLocation location, TapCallback callback) override {
    if (location != TapLocation::hid || !KeyHook::canInstall()) return nullptr;
    auto state = std::make_shared<TapState>(std::move(callback));
    core_->registerTap(state);
    return std::make_unique<WinEventTap>(core_, std::move(state));
  }
  std::unique_ptr<RunLoopSource> createRunLoopSource(EventTap& tap) override {
    return makeSharedRunLoopSource(core_, tap);
  }
  std::uint64_t currentModifierFlags() override { return currentKeyboardFlags(); }

  std::unique_ptr<EventSource> createEventSource() override {
    return std::make_unique<NoEventSource>();
  }
  std::unique_ptr<SyntheticKeyEvent> createKeyboardEvent(EventSource*, std::uint16_t keyCode,
                                                         bool keyDown) override {
    return std::make_unique<SharedKeyEvent<Core>>(core_, keyCode, keyDown);
  }

  std::int64_t pasteboardChangeCount() override { return core_->clipboard.changeCount(); }
  // The agent's own content is answered from memory; another program's is read off the loop.
  // Either way the list is taken on the reader's thread: that finds out, off the loop, whether
  // another program holds the clipboard open, which the paste's write that follows would
  // otherwise wait out with the keys held up behind it. (Answers never outlive the reader.)
  void listPasteboardTypes(PasteboardListingCallback done) override {
    Clipboard& clipboard = core_->clipboard;
    clipboard.reader.list([&clipboard, done = std::move(done)](PasteboardListing listing) {
      const PasteboardContents* own = listing.error ? nullptr : clipboard.ownContent();
      if (own != nullptr) {
        listing.items.clear();
        for (const auto& item : own->items) {
          auto& types = listing.items.emplace_back();
          for (const auto& representation : item.representations)
            types.push_back(representation.type);
        }
      }
      done(listing);
    });
  }
  void readPasteboardType(std::size_t item, const std::string& type,
                          const PasteboardReadLimits& limits,
                          PasteboardTypeCallback done) override {
    if (const PasteboardContents* own = core_->clipboard.ownContent()) {
      PasteboardTypeRead read{{}, PasteboardReadError::refused};
      if (item < own->items.size()) {
        for (const auto& representation : own->items[item].representations) {
          if (representation.type == type) read = {representation.data, {}};
        }
      }
      core_->loop().post([done = std::move(done), read = std::move(read)] { done(read); });
      return;
    }
    UINT format = formatNumber(type);
    if (format == 0) {
      core_->loop().post([done = std::move(done)] { done({{}, PasteboardReadError::refused}); });
      return;
    }
    // GetClipboardData hands the whole of a format at once: the owner's first answer is all.
    core_->clipboard.reader.read(format, limits.maxBytes, limits.firstAnswer, std::move(done));
  }
  void cancelPasteboardReads() override { core_->clipboard.reader.cancel(); }
  const std::vector<PasteboardTypeRule>& pasteboardTypeRules() const override {
    return windowsTypeRules();
  }
  void readPasteboardText(PasteboardTextCallback done) override {
    if (core_->clipboard.ownContent() != nullptr) {
      core_->loop().post(
          [done = std::move(done), text = core_->clipboard.ownText()] { done(text); });
      return;
    }
    core_->clipboard.reader.readText(kTextPatience, std::move(done));
  }
  void writePasteboardContents(const PasteboardContents& contents) override {
    core_->clipboard.setContents(contents);
  }
  PasteboardTextWrite writePasteboardTextNotifyingRead(const std::string& text,
                                                       PasteboardReadCallback onRead) override {
    // False when another program held the clipboard open past our patience: nothing written.
    return core_->clipboard.setTextNotifyingRead(text, std::move(onRead))
               ? PasteboardTextWrite::writtenNotifyingRead
               : PasteboardTextWrite::failed;
  }

  // A console's copy key is its interrupt, so its selection is not copied: nothing is read.
  bool readSelectedTextWithoutCopying(PasteboardTextCallback done) override {
    if (consoleWindowOf(GetForegroundWindow()) == nullptr) return false;
    core_->loop().post([done = std::move(done)] { done(std::string()); });
    return true;
  }

  void shutdown() override {
    core_->stopListening();
    core_->clipboard.finish();
  }

 private:
  std::shared_ptr<Core> core_;
};

}  // namespace

std::unique_ptr<Platform> connectWindowsPlatform(MainLoop& loop) {
  auto core = std::make_shared<Core>(loop);
  if (!core->clipboard.ready()) return nullptr;
  return std::make_unique<WinPlatform>(std::move(core));
}

}  // namespace deskagent::platform::windows
