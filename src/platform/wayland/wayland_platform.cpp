#include "platform/wayland/wayland_platform.hpp"

#include <chrono>
#include <vector>

#include "platform/linux/capture_devices.hpp"
#include "platform/linux/desktop_entries.hpp"
#include "platform/linux/terminals.hpp"
#include "platform/shared_tap.hpp"
#include "platform/wayland/evdev_key_watch.hpp"
#include "platform/wayland/wayland_session.hpp"
#include "platform/wayland/xwayland_focus.hpp"

namespace deskagent::platform::wayland {
namespace {

// While the compositor is gone, connecting again is tried at most this often (the permission
// probe and the tap retry each ask).
constexpr auto kReconnectInterval = std::chrono::seconds(1);

using TapState = SharedTapState;

// What outlives a connection: the key watch and its taps, the clipboard's change count, what
// the desktop entries say, and the current session or the connection that is to become the next
// one. Held in a shared_ptr so that posted tasks and taps that outlive the platform find it gone
// instead of dangling.
class Core : public std::enable_shared_from_this<Core> {
 public:
  explicit Core(MainLoop& loop) : loop_(loop) {}

  MainLoop& loop() { return loop_; }

  // At start-up: waits (a bounded while) for the compositor WAYLAND_DISPLAY names. False where
  // there is none, or it lacks the protocols (then X11 is tried). One that does not answer in
  // time is connected to in the background, as after a restart.
  bool connectAtStart() {
    auto connection = Connection::connect();
    if (!connection) return false;
    connection->roundtrip();
    if (connection->lost() || (connection->listed() && !connection->usable())) return false;
    std::weak_ptr<Core> weak = weak_from_this();
    keys = std::make_unique<EvdevKeyWatch>(loop_, systemInputDevices(),
                                           [weak](const KeyboardEvent& event) {
                                             if (auto core = weak.lock()) core->deliver(event);
                                           });
    lastAttempt_ = std::chrono::steady_clock::now();
    if (connection->listed()) {
      startSession(std::move(connection));
    } else {
      awaitGlobals(std::move(connection));
    }
    return true;
  }

  // The session if its compositor is still there.
  Session* session() {
    if (session_ && session_->connection->lost()) session_.reset();
    return session_.get();
  }

  // The same, connecting again first if the compositor has gone and a while has passed.
  Session* reconnectingSession() {
    if (Session* s = session()) return s;
    if (connecting_) {
      connecting_->dispatch();
      if (!connecting_->lost()) {
        if (connecting_->listed()) finishConnecting();
        return session_.get();
      }
      connecting_.reset();
      connectingWatch_.reset();
    }
    auto now = std::chrono::steady_clock::now();
    if (lastAttempt_ && now - *lastAttempt_ < kReconnectInterval) return nullptr;
    lastAttempt_ = now;
    if (auto connection = Connection::connect()) awaitGlobals(std::move(connection));
    return nullptr;
  }

  // What the focused window is (nothing: it cannot be told). The compositor's app id first, by
  // the terminal list and then the desktop entries; an XWayland window the compositor does not
  // name clearly, by its WM_CLASS.
  std::optional<TerminalKind> focusedKind(Session& s) {
    s.connection->dispatch();
    if (auto appId = s.toplevels.focusedAppId(); appId && !appId->empty()) {
      TerminalKind kind = terminalKindOfClass(*appId, *appId);
      if (kind != TerminalKind::none) return kind;
      switch (desktopEntries_.find(*appId)) {
        case DesktopApp::terminal:
          return TerminalKind::clipboardKeys;
        case DesktopApp::application:
          return TerminalKind::none;
        case DesktopApp::unknown:
          break;
      }
    }
    return xwayland.focusedKind();
  }

  void registerTap(const std::shared_ptr<TapState>& tap) {
    std::erase_if(taps_, [](const std::weak_ptr<TapState>& t) { return t.expired(); });
    taps_.push_back(tap);
  }

  bool tapCanHear(const TapState&) const { return keys->canListen(); }
  void postSyntheticKey(std::uint16_t keyCode, bool down, std::uint64_t flags) {
    Session* s = session();
    if (s == nullptr) return;
    std::optional<TerminalKind> target = TerminalKind::none;
    if (down) target = keyCode == kMacKeyV ? pasteTarget : focusedKind(*s);
    s->chord.post(keyCode, down, flags, target);
  }

  void updateListening() {
    bool wanted = false;
    for (const auto& weak : taps_) {
      if (auto tap = weak.lock(); tap && tap->listening()) wanted = true;
    }
    keys->setListening(wanted);
  }

  std::int64_t changeCount = 0;
  // What the next paste chord goes to, as decided when its text was written.
  std::optional<TerminalKind> pasteTarget = TerminalKind::none;
  std::unique_ptr<EvdevKeyWatch> keys;
  XwaylandFocus xwayland;

 private:
  // Watches a new connection until the compositor has listed its globals.
  void awaitGlobals(std::unique_ptr<Connection> connection) {
    connecting_ = std::move(connection);
    std::weak_ptr<Core> weak = weak_from_this();
    connectingWatch_ = loop_.watchReadable(connecting_->fd(), [weak] {
      auto core = weak.lock();
      if (!core || !core->connecting_) return;
      core->connecting_->dispatch();
      // Not from inside this callback: finishing replaces the watch that runs it.
      if (core->connecting_->listed() || core->connecting_->lost()) {
        core->loop_.post([weak] {
          if (auto c = weak.lock()) c->reconnectingSession();
        });
      }
    });
  }

  void finishConnecting() {
    connectingWatch_.reset();
    auto connection = std::move(connecting_);
    if (connection->usable()) startSession(std::move(connection));
  }

  void startSession(std::unique_ptr<Connection> connection) {
    if (everConnected_) ++changeCount;  // another compositor's clipboard is another clipboard
    everConnected_ = true;
    session_ = std::make_unique<Session>(std::move(connection), loop_, changeCount);
    std::weak_ptr<Core> weak = weak_from_this();
    session_->watch = loop_.watchReadable(
        session_->connection->fd(),
        [weak] {
          auto core = weak.lock();
          if (!core || !core->session_) return;
          core->session_->connection->dispatch();
          // A compositor that has gone leaves its socket readable for good: the session goes
          // (after this callback), and the next look connects again.
          if (core->session_->connection->lost()) {
            core->loop_.post([weak] {
              if (auto c = weak.lock()) c->session();
            });
          }
        },
        [weak] {
          auto core = weak.lock();
          return core && core->session_ && core->session_->connection->hasQueuedEvents();
        });
  }

  // The callback runs on a later loop turn, never inside a platform call the logic is making.
  void deliver(const KeyboardEvent& event) {
    for (const auto& weak : taps_) {
      auto tap = weak.lock();
      if (!tap || !tap->listening()) continue;
      loop_.post([weak, event] {
        if (auto t = weak.lock(); t && t->listening()) {
          t->callback(TapEventType::flagsChanged, event);
        }
      });
    }
  }

  MainLoop& loop_;
  std::unique_ptr<Session> session_;
  std::unique_ptr<Connection> connecting_;
  LoopHandle connectingWatch_;
  std::optional<std::chrono::steady_clock::time_point> lastAttempt_;
  bool everConnected_ = false;
  DesktopEntries desktopEntries_;
  std::vector<std::weak_ptr<TapState>> taps_;
};

using WaylandEventTap = SharedEventTap<Core>;

// A paste's text is offered on the primary selection too where the chord is Shift+Insert.
bool pastesThroughPrimary(std::optional<TerminalKind> target) {
  return target != TerminalKind::none && target != TerminalKind::clipboardKeys;
}

class WaylandPlatform final : public Platform {
 public:
  explicit WaylandPlatform(std::shared_ptr<Core> core) : core_(std::move(core)) {}

  // The virtual keyboard is what synthetic input needs here; nobody is asked for it. A
  // compositor that has stopped answering cannot take a chord either.
  bool isProcessTrusted(bool) override {
    Session* s = core_->reconnectingSession();
    return s != nullptr && s->connection->answering() && s->chord.ready();
  }
  std::int64_t checkListenEventAccess() override {
    core_->reconnectingSession();
    return core_->keys->rescan() ? kAccessGranted : kAccessDenied;
  }
  // The input group is the user's to join: nothing to ask.
  void requestListenEventAccess(std::function<void()>) override {}
  std::int64_t microphoneAuthorizationStatus() override { return captureDeviceAuthorization(); }

  // The session location has no counterpart here (the keyboards' own devices are the one
  // listen-only source), so it is refused.
  std::unique_ptr<EventTap> createEventTap(TapLocation location, TapCallback callback) override {
    if (location != TapLocation::hid || !core_->keys->rescan()) return nullptr;
    auto state = std::make_shared<TapState>(std::move(callback));
    core_->registerTap(state);
    return std::make_unique<WaylandEventTap>(core_, std::move(state));
  }
  std::unique_ptr<RunLoopSource> createRunLoopSource(EventTap& tap) override {
    return makeSharedRunLoopSource(core_, tap);
  }
  std::uint64_t currentModifierFlags() override { return core_->keys->currentFlags(); }

  std::unique_ptr<EventSource> createEventSource() override {
    return std::make_unique<NoEventSource>();
  }
  std::unique_ptr<SyntheticKeyEvent> createKeyboardEvent(EventSource*, std::uint16_t keyCode,
                                                         bool keyDown) override {
    return std::make_unique<SharedKeyEvent<Core>>(core_, keyCode, keyDown);
  }

  std::int64_t pasteboardChangeCount() override {
    if (Session* s = core_->session()) s->connection->dispatch();
    return core_->changeCount;
  }
  // Reads are answered as the owner's data arrives, on the main loop. A compositor that does not
  // answer gives no clipboard to read: nothing read is whole.
  void listPasteboardTypes(PasteboardListingCallback done) override {
    Session* s = core_->session();
    PasteboardListing listing{{}, PasteboardReadError::failed};
    if (s != nullptr && s->connection->roundtrip()) listing = s->clipboard.listing();
    core_->loop().post([done = std::move(done), listing = std::move(listing)] { done(listing); });
  }
  void readPasteboardType(std::size_t, const std::string& type, const PasteboardReadLimits& limits,
                          PasteboardTypeCallback done) override {
    if (Session* s = core_->session()) {
      s->clipboard.readType(type, limits, std::move(done));
      return;
    }
    core_->loop().post([done = std::move(done)] { done({{}, PasteboardReadError::failed}); });
  }
  void cancelPasteboardReads() override {
    if (Session* s = core_->session()) s->clipboard.cancelReads();
  }
  const std::vector<PasteboardTypeRule>& pasteboardTypeRules() const override {
    return waylandTypeRules();
  }
  void readPasteboardText(PasteboardTextCallback done) override {
    Session* s = core_->session();
    if (s != nullptr && s->connection->answering()) {
      s->clipboard.readText(std::move(done));
      return;
    }
    core_->loop().post([done = std::move(done)] { done(std::nullopt); });
  }
  // Each write of the clipboard is also the end of a paste's loan of the primary selection.
  void writePasteboardContents(const PasteboardContents& contents) override {
    if (Session* s = core_->session()) {
      s->clipboard.setContents(contents);
      endPrimaryPaste(*s);
    }
  }
  PasteboardTextWrite writePasteboardTextNotifyingRead(const std::string& text,
                                                       PasteboardReadCallback onRead) override {
    Session* s = core_->session();
    if (s == nullptr) return PasteboardTextWrite::failed;
    endPrimaryPaste(*s);
    std::optional<TerminalKind> target = core_->focusedKind(*s);
    // Without a primary selection to offer the text on, Shift+Insert would paste what the user
    // selected: Control+V it is, there.
    if (pastesThroughPrimary(target) && !s->primaryPaste) target = TerminalKind::none;
    // The target reads one selection or the other.
    if (pastesThroughPrimary(target)) s->primaryPaste->begin(text, onRead);
    if (!s->clipboard.setTextNotifyingRead(text, onRead)) {
      endPrimaryPaste(*s);
      return PasteboardTextWrite::failed;
    }
    s->connection->roundtrip();
    core_->xwayland.awaitSelectionsLeaveFocused(pastesThroughPrimary(target));
    core_->pasteTarget = target;
    return PasteboardTextWrite::writtenNotifyingRead;
  }
  void pasteFinished() override {
    if (Session* s = core_->session()) endPrimaryPaste(*s);
  }

  // Where no copy chord may go: a terminal without a clipboard key, whose selection is the
  // primary selection (read when X11 tells that the focused window owns it), and a window that
  // cannot be told, where nothing is read.
  bool readSelectedTextWithoutCopying(PasteboardTextCallback done) override {
    Session* s = core_->session();
    if (s == nullptr) return false;
    std::optional<TerminalKind> kind = core_->focusedKind(*s);
    if (kind == TerminalKind::none || kind == TerminalKind::clipboardKeys) return false;
    std::optional<std::string> text;
    if (kind == TerminalKind::primaryOnly && s->primary && core_->xwayland.focusedOwnsPrimary() &&
        s->connection->roundtrip()) {
      text = s->primary->text();
    }
    core_->loop().post([done = std::move(done), text = std::move(text)] { done(text); });
    return true;
  }

  void shutdown() override {
    if (Session* s = core_->session()) {
      endPrimaryPaste(*s);
      s->connection->flush();
    }
  }

 private:
  static void endPrimaryPaste(Session& s) {
    if (s.primaryPaste) s.primaryPaste->end();
  }

  std::shared_ptr<Core> core_;
};

}  // namespace

std::unique_ptr<Platform> connectWaylandPlatform(MainLoop& loop) {
  auto core = std::make_shared<Core>(loop);
  if (!core->connectAtStart()) return nullptr;
  return std::make_unique<WaylandPlatform>(std::move(core));
}

}  // namespace deskagent::platform::wayland
