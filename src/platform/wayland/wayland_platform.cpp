#include "platform/wayland/wayland_platform.hpp"

#include <chrono>
#include <vector>

#include "platform/linux/capture_devices.hpp"
#include "platform/shared_tap.hpp"
#include "platform/wayland/evdev_taps.hpp"

namespace deskagent::platform::wayland {
namespace {

// While the compositor is gone, connecting again is tried at most this often (the permission
// probe and the tap retry each ask).
constexpr auto kReconnectInterval = std::chrono::seconds(1);

// What outlives a connection: the key watch and its taps, what the sessions share, and the
// current session or the connection that is to become the next one. Held in a shared_ptr so that
// posted tasks and key events that outlive the platform find it gone instead of dangling.
class Core : public std::enable_shared_from_this<Core> {
 public:
  Core(MainLoop& loop, DesktopPartsFactory makeParts)
      : loop_(loop), makeParts_(std::move(makeParts)) {}

  MainLoop& loop() { return loop_; }

  // At start-up: waits (a bounded while) for the compositor WAYLAND_DISPLAY names. False where
  // there is none, or the desktop's parts cannot be had (then another backend is tried). One
  // that does not answer in time is connected to in the background, as after a restart.
  bool connectAtStart() {
    auto connection = Connection::connect();
    if (!connection) return false;
    connection->roundtrip();
    if (connection->lost()) return false;
    lastAttempt_ = std::chrono::steady_clock::now();
    if (!connection->listed()) {
      taps = EvdevTaps::start(loop_);
      awaitGlobals(std::move(connection));
      return true;
    }
    if (!startSession(std::move(connection))) return false;
    taps = EvdevTaps::start(loop_);
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

  void postSyntheticKey(std::uint16_t keyCode, bool down, std::uint64_t flags) {
    Session* s = session();
    if (s == nullptr) return;
    std::optional<TerminalKind> target = TerminalKind::none;
    if (down) target = keyCode == kMacKeyV ? pasteTarget : s->focus().kind();
    s->chord->post(keyCode, down, flags, target);
  }

  SessionShared shared;
  // What the next paste chord goes to, as decided when its text was written.
  std::optional<TerminalKind> pasteTarget = TerminalKind::none;
  std::shared_ptr<EvdevTaps> taps;

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
    startSession(std::move(connecting_));
  }

  bool startSession(std::unique_ptr<Connection> connection) {
    auto parts = makeParts_(*connection, loop_);
    if (!parts || (!parts->clipboard && !connection->dataControl())) return false;
    if (everConnected_) ++shared.changeCount;  // another compositor's clipboard is another one
    everConnected_ = true;
    session_ = std::make_unique<Session>(std::move(connection), loop_, shared, std::move(*parts));
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
    return true;
  }

  MainLoop& loop_;
  DesktopPartsFactory makeParts_;
  std::unique_ptr<Session> session_;
  std::unique_ptr<Connection> connecting_;
  LoopHandle connectingWatch_;
  std::optional<std::chrono::steady_clock::time_point> lastAttempt_;
  bool everConnected_ = false;
};

// A paste's text is offered on the primary selection too where the chord is Shift+Insert.
bool pastesThroughPrimary(std::optional<TerminalKind> target) {
  return target != TerminalKind::none && target != TerminalKind::clipboardKeys;
}

class WaylandPlatform final : public Platform {
 public:
  explicit WaylandPlatform(std::shared_ptr<Core> core) : core_(std::move(core)) {}

  // The keys and the clipboard are what synthetic input needs here; nobody is asked for them. A
  // compositor that has stopped answering cannot take a chord either.
  bool isProcessTrusted(bool) override {
    Session* s = core_->reconnectingSession();
    return s != nullptr && s->connection->answering() && s->chord->ready() &&
           s->clipboard().usable();
  }
  std::int64_t checkListenEventAccess() override {
    core_->reconnectingSession();
    return core_->taps->checkListenEventAccess();
  }
  // The input group is the user's to join: nothing to ask.
  void requestListenEventAccess(std::function<void()>) override {}
  std::int64_t microphoneAuthorizationStatus() override { return captureDeviceAuthorization(); }

  std::unique_ptr<EventTap> createEventTap(TapLocation location, TapCallback callback) override {
    return core_->taps->createEventTap(location, std::move(callback));
  }
  std::unique_ptr<RunLoopSource> createRunLoopSource(EventTap& tap) override {
    return core_->taps->createRunLoopSource(tap);
  }
  std::uint64_t currentModifierFlags() override { return core_->taps->currentModifierFlags(); }

  std::unique_ptr<EventSource> createEventSource() override {
    return std::make_unique<NoEventSource>();
  }
  std::unique_ptr<SyntheticKeyEvent> createKeyboardEvent(EventSource*, std::uint16_t keyCode,
                                                         bool keyDown) override {
    return std::make_unique<SharedKeyEvent<Core>>(core_, keyCode, keyDown);
  }

  std::int64_t pasteboardChangeCount() override {
    Session* s = core_->session();
    if (s == nullptr) return core_->shared.changeCount;
    s->connection->dispatch();
    return s->clipboard().changeCount();
  }
  // Reads are answered as the owner's data arrives, on the main loop.
  void listPasteboardTypes(PasteboardListingCallback done) override {
    Session* s = core_->session();
    if (s == nullptr) {
      core_->loop().post([done = std::move(done)] { done({{}, PasteboardReadError::failed}); });
      return;
    }
    // Every transfer starts here or with the selection read below.
    s->keys().prepare();
    s->clipboard().listTypes(std::move(done));
  }
  void readPasteboardType(std::size_t, const std::string& type, const PasteboardReadLimits& limits,
                          PasteboardTypeCallback done) override {
    if (Session* s = core_->session()) {
      s->clipboard().readType(type, limits, std::move(done));
      return;
    }
    core_->loop().post([done = std::move(done)] { done({{}, PasteboardReadError::failed}); });
  }
  void cancelPasteboardReads() override {
    if (Session* s = core_->session()) s->clipboard().cancelReads();
  }
  const std::vector<PasteboardTypeRule>& pasteboardTypeRules() const override {
    return waylandTypeRules();
  }
  void readPasteboardText(PasteboardTextCallback done) override {
    if (Session* s = core_->session()) {
      s->clipboard().readText(std::move(done));
      return;
    }
    core_->loop().post([done = std::move(done)] { done(std::nullopt); });
  }
  // Each write of the clipboard is also the end of a paste's loan of the primary selection.
  void writePasteboardContents(const PasteboardContents& contents) override {
    if (Session* s = core_->session()) {
      s->clipboard().write(contents);
      endPrimaryPaste(*s);
    }
  }
  PasteboardTextWrite writePasteboardTextNotifyingRead(const std::string& text,
                                                       PasteboardReadCallback onRead) override {
    Session* s = core_->session();
    // The chord that follows could not be typed: the text is not put on the clipboard at all.
    if (s == nullptr || !s->keys().prepare()) return PasteboardTextWrite::failed;
    endPrimaryPaste(*s);
    std::optional<TerminalKind> target = s->focus().kind();
    // Without a primary selection to offer the text on, Shift+Insert would paste what the user
    // selected: Control+V it is, there.
    if (pastesThroughPrimary(target) && !s->primaryPaste) target = TerminalKind::none;
    // The target reads one selection or the other.
    if (pastesThroughPrimary(target)) s->primaryPaste->begin(text, onRead);
    if (s->clipboard().writeTextNotifyingRead(text, onRead) == PasteboardTextWrite::failed) {
      endPrimaryPaste(*s);
      return PasteboardTextWrite::failed;
    }
    s->connection->roundtrip();
    core_->shared.xwayland.awaitSelectionsLeaveFocused(pastesThroughPrimary(target));
    core_->pasteTarget = target;
    return PasteboardTextWrite::writtenNotifyingRead;
  }
  void pasteFinished() override {
    if (Session* s = core_->session()) endPrimaryPaste(*s);
  }

  // Where no copy chord may go: a terminal, and a window that cannot be told. A terminal's copy
  // key is no safe chord even where it has one: Konsole, with nothing selected, hands
  // Control+Shift+C to the program inside as Control+C, an interrupt. There the focus source's
  // own reading of the selection, else a terminal's primary selection (read when X11 tells that
  // the focused window owns it), else nothing. Where no chord can be typed, nothing may be
  // copied: nothing is read.
  bool readSelectedTextWithoutCopying(PasteboardTextCallback done) override {
    Session* s = core_->session();
    if (s == nullptr) return false;
    std::optional<std::string> text;
    if (s->keys().prepare()) {
      std::optional<TerminalKind> kind = s->focus().kind();
      if (kind == TerminalKind::none) return false;
      text = s->focus().selectedText();
      if (!text && kind == TerminalKind::primaryOnly && s->primary &&
          core_->shared.xwayland.focusedOwnsPrimary() && s->connection->roundtrip()) {
        text = s->primary->text();
      }
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

std::unique_ptr<Platform> connectDesktopPlatform(MainLoop& loop, DesktopPartsFactory parts) {
  auto core = std::make_shared<Core>(loop, std::move(parts));
  if (!core->connectAtStart()) return nullptr;
  return std::make_unique<WaylandPlatform>(std::move(core));
}

std::unique_ptr<Platform> connectWaylandPlatform(MainLoop& loop) {
  return connectDesktopPlatform(loop, [](Connection& connection, MainLoop&) {
    return connection.usable() ? std::optional<DesktopParts>(DesktopParts{}) : std::nullopt;
  });
}

}  // namespace deskagent::platform::wayland
