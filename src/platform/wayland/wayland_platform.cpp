#include "platform/wayland/wayland_platform.hpp"

#include <vector>

#include "platform/linux/capture_devices.hpp"
#include "platform/shared_tap.hpp"
#include "platform/wayland/evdev_key_watch.hpp"
#include "platform/wayland/wayland_chord.hpp"
#include "platform/wayland/wayland_clipboard.hpp"
#include "platform/wayland/wayland_connection.hpp"
#include "platform/wayland/wayland_toplevels.hpp"

namespace deskagent::platform::wayland {
namespace {

using TapState = SharedTapState;

// Everything the platform and its taps share; posted tasks and taps that outlive the platform
// find it gone instead of dangling.
class Core : public std::enable_shared_from_this<Core> {
 public:
  Core(MainLoop& loop, std::unique_ptr<Connection> connection)
      : loop_(loop),
        connection(std::move(connection)),
        toplevels(*this->connection),
        chord(*this->connection, toplevels),
        clipboard(*this->connection, loop, chord.chords()) {}

  void start() {
    std::weak_ptr<Core> weak = weak_from_this();
    watch = loop_.watchReadable(
        connection->fd(),
        [weak, loop = &loop_] {
          auto core = weak.lock();
          if (!core) return;
          core->connection->dispatch();
          // A compositor that has gone leaves its socket readable for good: stop watching it
          // (after this callback), and the backend answers as one without the protocols.
          if (core->connection->lost()) {
            loop->post([weak] {
              if (auto c = weak.lock()) c->watch.reset();
            });
          }
        },
        [weak] {
          auto core = weak.lock();
          return core && core->connection->hasQueuedEvents();
        });
    keys = std::make_unique<EvdevKeyWatch>(loop_, systemInputDevices(),
                                           [weak](const KeyboardEvent& event) {
                                             if (auto core = weak.lock()) core->deliver(event);
                                           });
  }

  void registerTap(const std::shared_ptr<TapState>& tap) {
    std::erase_if(taps_, [](const std::weak_ptr<TapState>& t) { return t.expired(); });
    taps_.push_back(tap);
  }

  bool tapCanHear(const TapState&) const { return keys->canListen(); }
  void postSyntheticKey(std::uint16_t keyCode, bool down, std::uint64_t flags) {
    chord.post(keyCode, down, flags);
  }

  void updateListening() {
    bool wanted = false;
    for (const auto& weak : taps_) {
      if (auto tap = weak.lock(); tap && tap->listening()) wanted = true;
    }
    keys->setListening(wanted);
  }

  MainLoop& loop_;
  std::unique_ptr<Connection> connection;
  Toplevels toplevels;
  ChordPoster chord;
  Clipboard clipboard;
  LoopHandle watch;
  std::unique_ptr<EvdevKeyWatch> keys;

 private:
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

  std::vector<std::weak_ptr<TapState>> taps_;
};

using WaylandEventTap = SharedEventTap<Core>;

class WaylandPlatform final : public Platform {
 public:
  explicit WaylandPlatform(std::shared_ptr<Core> core) : core_(std::move(core)) {}

  // The virtual keyboard is what synthetic input needs here; nobody is asked for it.
  bool isProcessTrusted(bool) override {
    core_->connection->dispatch();  // a compositor that has just gone shows itself here
    return !core_->connection->lost() && core_->chord.ready();
  }
  std::int64_t checkListenEventAccess() override {
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

  std::int64_t pasteboardChangeCount() override { return core_->clipboard.changeCount(); }
  // Each read is made at once and answered on the next turn of the loop.
  void listPasteboardTypes(PasteboardListingCallback done) override {
    core_->loop_.post(
        [done = std::move(done), listing = core_->clipboard.listing()] { done(listing); });
  }
  void readPasteboardType(std::size_t, const std::string& type, const PasteboardReadLimits& limits,
                          PasteboardTypeCallback done) override {
    core_->loop_.post(
        [done = std::move(done), read = core_->clipboard.readType(type, limits)] { done(read); });
  }
  const std::vector<PasteboardTypeRule>& pasteboardTypeRules() const override {
    return waylandTypeRules();
  }
  void readPasteboardText(PasteboardTextCallback done) override {
    core_->loop_.post([done = std::move(done), text = core_->clipboard.text()] { done(text); });
  }
  void writePasteboardContents(const PasteboardContents& contents) override {
    core_->clipboard.setContents(contents);
  }
  PasteboardTextWrite writePasteboardTextNotifyingRead(const std::string& text,
                                                       PasteboardReadCallback onRead) override {
    if (core_->connection->lost() ||
        !core_->clipboard.setTextNotifyingRead(text, std::move(onRead))) {
      return PasteboardTextWrite::failed;
    }
    return PasteboardTextWrite::writtenNotifyingRead;
  }

  void shutdown() override { core_->connection->flush(); }

 private:
  std::shared_ptr<Core> core_;
};

}  // namespace

std::unique_ptr<Platform> connectWaylandPlatform(MainLoop& loop) {
  auto connection = Connection::open();
  if (!connection) return nullptr;
  auto core = std::make_shared<Core>(loop, std::move(connection));
  core->start();
  return std::make_unique<WaylandPlatform>(std::move(core));
}

}  // namespace deskagent::platform::wayland
