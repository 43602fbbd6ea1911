#include "platform/x11/x11_platform.hpp"

#include <chrono>
#include <vector>

#include "platform/linux/capture_devices.hpp"
#include "platform/shared_tap.hpp"
#include "platform/x11/x11_focus.hpp"
#include "platform/x11/x11_session.hpp"

namespace deskagent::platform::x11 {
namespace {

// While the display is gone, connecting again is tried at most this often (the permission
// probe and the tap retry each ask).
constexpr auto kReconnectInterval = std::chrono::seconds(1);

using TapState = SharedTapState;

// What outlives a connection: the taps (they listen again on the next connection), the change
// count, and the current session. Held in a shared_ptr so that posted tasks and taps that
// outlive the platform find it gone instead of dangling.
class Core : public std::enable_shared_from_this<Core> {
 public:
  explicit Core(MainLoop& loop) : loop_(loop) {}

  bool connect() {
    auto connection = Connection::open();
    if (!connection) return false;
    std::weak_ptr<Core> weak = weak_from_this();
    MainLoop* loop = &loop_;
    // Called from inside Xlib: only post.
    connection->setLostHandler([loop, weak] {
      loop->post([weak] {
        if (auto core = weak.lock()) core->dropLostSession();
      });
    });
    if (everConnected_) ++changeCount_;  // another server's clipboard is another clipboard
    everConnected_ = true;
    session_ = std::make_unique<Session>(std::move(connection), loop_, changeCount_,
                                         [weak](const KeyboardEvent& event) {
                                           if (auto core = weak.lock()) core->deliver(event);
                                         });
    session_->watch = loop_.watchReadable(
        session_->connection->fd(),
        [weak] {
          if (auto core = weak.lock()) core->onReadable();
        },
        [weak] {
          auto core = weak.lock();
          return core && core->session_ &&
                 (core->session_->connection->hasQueuedEvents() || core->session_->replyArrived());
        });
    updateListening();
    return true;
  }

  // The session if its server is still there.
  Session* session() {
    if (session_ && session_->connection->serverGone()) dropLostSession();
    return session_.get();
  }

  // The same, connecting again first if the server has gone and a while has passed.
  Session* reconnectingSession() {
    if (Session* s = session()) return s;
    auto now = std::chrono::steady_clock::now();
    if (lastAttempt_ && now - *lastAttempt_ < kReconnectInterval) return nullptr;
    lastAttempt_ = now;
    if (!connect()) return nullptr;
    noticeMissedEvents();
    return session_.get();
  }

  bool connected() const { return session_ && !session_->lost(); }

  void disconnect() { session_.reset(); }

  void registerTap(const std::shared_ptr<TapState>& tap) {
    std::erase_if(taps_, [](const std::weak_ptr<TapState>& t) { return t.expired(); });
    taps_.push_back(tap);
  }

  // Events reach a tap only while the server is there.
  bool tapCanHear(const TapState&) const { return connected(); }
  void postSyntheticKey(std::uint16_t keyCode, bool down, std::uint64_t flags) {
    if (Session* s = session()) s->chord.post(keyCode, down, flags);
  }

  // Raw key events are asked of the server only while some tap wants them.
  void updateListening() {
    if (!connected()) return;
    bool wanted = false;
    for (const auto& weak : taps_) {
      if (auto tap = weak.lock(); tap && tap->listening()) wanted = true;
    }
    session_->keys.setListening(wanted);
  }

  std::int64_t changeCount() const { return changeCount_; }
  MainLoop& loop() { return loop_; }

 private:
  void onReadable() {
    if (!connected()) return;
    session_->connection->dispatchPending();
    session_->takeReplies();
  }

  void dropLostSession() {
    if (!session_ || !session_->lost()) return;
    session_.reset();
    noticeMissedEvents();
  }

  // The callback runs on a later loop turn, never inside a platform call the logic is making.
  void postToTaps(TapEventType type, const KeyboardEvent& event) {
    postToListeningTaps(loop_, taps_, type, event);
  }

  void deliver(const KeyboardEvent& event) { postToTaps(TapEventType::flagsChanged, event); }

  // Key events may have been missed (the server went away, or came back): a tap told it was
  // disabled re-enables itself and compares with the keyboard as it is now.
  void noticeMissedEvents() { postToTaps(TapEventType::disabledByTimeout, KeyboardEvent{}); }

  MainLoop& loop_;
  std::unique_ptr<Session> session_;
  std::vector<std::weak_ptr<TapState>> taps_;
  std::int64_t changeCount_ = 0;
  bool everConnected_ = false;
  std::optional<std::chrono::steady_clock::time_point> lastAttempt_;
};

using X11EventTap = SharedEventTap<Core>;

class X11Platform final : public Platform {
 public:
  explicit X11Platform(std::shared_ptr<Core> core) : core_(std::move(core)) {}
  ~X11Platform() override { core_->disconnect(); }

  // XTEST is what synthetic input needs on X11; nobody is asked for it.
  bool isProcessTrusted(bool) override {
    Session* s = core_->reconnectingSession();
    return s != nullptr && s->connection->extensions().xtest;
  }
  std::int64_t checkListenEventAccess() override {
    Session* s = core_->reconnectingSession();
    return s != nullptr && s->keys.canListen() ? kAccessGranted : kAccessDenied;
  }
  void requestListenEventAccess(std::function<void()>) override {}  // X11 has no prompt to show
  std::int64_t microphoneAuthorizationStatus() override { return captureDeviceAuthorization(); }

  // The session location has no X11 counterpart (XInput 2 is the only listen-only source we
  // use), so it is refused.
  std::unique_ptr<EventTap> createEventTap(TapLocation location, TapCallback callback) override {
    if (location != TapLocation::hid) return nullptr;
    Session* s = core_->reconnectingSession();
    if (s == nullptr || !s->keys.canListen()) return nullptr;
    auto state = std::make_shared<TapState>(std::move(callback));
    core_->registerTap(state);
    return std::make_unique<X11EventTap>(core_, std::move(state));
  }
  std::unique_ptr<RunLoopSource> createRunLoopSource(EventTap& tap) override {
    return makeSharedRunLoopSource(core_, tap);
  }
  std::uint64_t currentModifierFlags() override {
    Session* s = core_->session();
    return s != nullptr ? s->keys.currentFlags() : 0;
  }

  std::unique_ptr<EventSource> createEventSource() override {
    return std::make_unique<NoEventSource>();
  }
  std::unique_ptr<SyntheticKeyEvent> createKeyboardEvent(EventSource*, std::uint16_t keyCode,
                                                         bool keyDown) override {
    return std::make_unique<SharedKeyEvent<Core>>(core_, keyCode, keyDown);
  }

  std::int64_t pasteboardChangeCount() override {
    Session* s = core_->session();
    return s != nullptr ? s->clipboard.changeCount() : core_->changeCount();
  }
  // Every read proceeds as the owner's answers arrive, each answered on the loop.
  void listPasteboardTypes(PasteboardListingCallback done) override {
    Session* s = core_->session();
    if (s == nullptr) {
      core_->loop().post([done = std::move(done)] { done({{}, PasteboardReadError::failed}); });
      return;
    }
    // A paste into a terminal that reads PRIMARY lends it PRIMARY: its text is kept first,
    // while the paste saves the clipboard and nothing waits on either.
    if (focusedWindow(*s->connection).terminal == TerminalKind::primaryOnly &&
        !s->primaryPaste.lent()) {
      s->primary.readText([weak = std::weak_ptr(core_),
                           done = std::move(done)](std::optional<std::string> text) mutable {
        auto core = weak.lock();
        Session* s = core ? core->session() : nullptr;
        if (s == nullptr) {
          done({{}, PasteboardReadError::failed});
          return;
        }
        s->primaryPaste.keep(std::move(text));
        s->clipboard.list(std::move(done));
      });
      return;
    }
    s->clipboard.list(std::move(done));
  }
  void readPasteboardType(std::size_t, const std::string& type, const PasteboardReadLimits& limits,
                          PasteboardTypeCallback done) override {
    if (Session* s = core_->session()) {
      s->clipboard.read(type, limits, std::move(done));
      return;
    }
    core_->loop().post([done = std::move(done)] { done({{}, PasteboardReadError::failed}); });
  }
  void cancelPasteboardReads() override {
    if (Session* s = core_->session()) {
      s->clipboard.cancelReads();
      s->primary.cancelReads();
    }
  }
  const std::vector<PasteboardTypeRule>& pasteboardTypeRules() const override {
    return x11TypeRules();
  }
  void readPasteboardText(PasteboardTextCallback done) override {
    if (Session* s = core_->session()) {
      s->clipboard.readText(std::move(done));
      return;
    }
    core_->loop().post([done = std::move(done)] { done(std::nullopt); });
  }
  // Each write of CLIPBOARD is also the end of a paste's loan of PRIMARY.
  void writePasteboardContents(const PasteboardContents& contents) override {
    if (Session* s = core_->session()) {
      s->clipboard.setContents(contents);
      s->primaryPaste.end();
    }
  }
  PasteboardTextWrite writePasteboardTextNotifyingRead(const std::string& text,
                                                       PasteboardReadCallback onRead) override {
    Session* s = core_->session();
    if (s == nullptr) return PasteboardTextWrite::failed;
    s->primaryPaste.end();
    s->clipboard.setTextNotifyingRead(text, std::move(onRead));
    return PasteboardTextWrite::writtenNotifyingRead;
  }

  PasteboardWriter pasteboardWriter() override {
    Session* s = core_->session();
    return s != nullptr ? s->clipboard.writer() : PasteboardWriter::unknown;
  }

  // A terminal's selection is PRIMARY, owned by the terminal while text is selected in it.
  bool readSelectedTextWithoutCopying(PasteboardTextCallback done) override {
    Session* s = core_->session();
    if (s == nullptr) return false;
    FocusedWindow focused = focusedWindow(*s->connection);
    if (focused.terminal == TerminalKind::none) return false;
    if (!s->primary.ownedByClientOf(focused.window)) {
      core_->loop().post([done = std::move(done)] { done(std::string()); });
      return true;
    }
    s->primary.readText(std::move(done));
    return true;
  }

  void pasteFinished() override {
    if (Session* s = core_->session()) s->primaryPaste.end();
  }

  void shutdown() override {
    if (Session* s = core_->session()) {
      s->primaryPaste.end();
      s->clipboard.handOverToManager();
    }
    core_->disconnect();
  }

 private:
  std::shared_ptr<Core> core_;
};

}  // namespace

std::unique_ptr<Platform> connectX11Platform(MainLoop& loop) {
  auto core = std::make_shared<Core>(loop);
  if (!core->connect()) return nullptr;
  return std::make_unique<X11Platform>(std::move(core));
}

}  // namespace deskagent::platform::x11
