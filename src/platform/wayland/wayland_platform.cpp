#include "platform/wayland/wayland_platform.hpp"

#include "platform/linux/capture_devices.hpp"
#include "platform/shared_tap.hpp"
#include "platform/wayland/evdev_taps.hpp"
#include "platform/wayland/wayland_chord.hpp"
#include "platform/wayland/wayland_clipboard.hpp"
#include "platform/wayland/wayland_connection.hpp"
#include "platform/wayland/wayland_toplevels.hpp"

namespace deskagent::platform::wayland {
namespace {

// Everything the platform shares with the tasks it posts; those that outlive the platform find it
// gone instead of dangling.
class Core : public std::enable_shared_from_this<Core> {
 public:
  Core(MainLoop& loop, std::unique_ptr<Connection> connection,
       std::unique_ptr<ShortcutKeymap> keymap, KeyboardSide side)
      : loop_(loop),
        connection(std::move(connection)),
        keymap(std::move(keymap)),
        side(std::move(side)),
        chord(*this->keymap, *this->side.keys, *this->side.focus),
        clipboard(*this->connection, loop, chord.chords()),
        taps(EvdevTaps::start(loop)) {}

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
  }

  void postSyntheticKey(std::uint16_t keyCode, bool down, std::uint64_t flags) {
    chord.post(keyCode, down, flags);
  }

  MainLoop& loop_;
  std::unique_ptr<Connection> connection;
  std::unique_ptr<ShortcutKeymap> keymap;
  KeyboardSide side;
  ChordPoster chord;
  Clipboard clipboard;
  std::shared_ptr<EvdevTaps> taps;
  LoopHandle watch;
};

class WaylandPlatform final : public Platform {
 public:
  explicit WaylandPlatform(std::shared_ptr<Core> core) : core_(std::move(core)) {}

  // The keyboard side is what synthetic input needs here; nobody is asked for it.
  bool isProcessTrusted(bool) override {
    core_->connection->dispatch();  // a compositor that has just gone shows itself here
    return !core_->connection->lost() && core_->chord.ready();
  }
  std::int64_t checkListenEventAccess() override { return core_->taps->checkListenEventAccess(); }
  void requestListenEventAccess() override {}  // the input group is the user's to join
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

  std::int64_t pasteboardChangeCount() override { return core_->clipboard.changeCount(); }
  std::optional<std::string> pasteboardString() override { return core_->clipboard.text(); }
  void clearPasteboard() override { core_->clipboard.clear(); }
  void setPasteboardString(const std::string& text) override { core_->clipboard.setText(text); }
  PasteboardContents readPasteboardContents() override { return core_->clipboard.snapshot(); }
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

  std::optional<std::string> selectedTextWithoutCopying() override {
    return core_->side.focus->selectedTextWithoutCopying();
  }

  void shutdown() override { core_->connection->flush(); }

 private:
  std::shared_ptr<Core> core_;
};

}  // namespace

std::unique_ptr<Platform> connectDataControlPlatform(MainLoop& loop,
                                                     const KeyboardSideFactory& keyboard) {
  auto connection = Connection::open();
  if (!connection || connection->dataControl() == nullptr) return nullptr;
  std::unique_ptr<ShortcutKeymap> keymap;
  auto side = keyboard(*connection, loop, [&]() -> const ShortcutKeymap& {
    if (!keymap) keymap = std::make_unique<ShortcutKeymap>(connection.get());
    return *keymap;
  });
  if (!side) return nullptr;
  if (!keymap) keymap = std::make_unique<ShortcutKeymap>(connection.get());
  auto core =
      std::make_shared<Core>(loop, std::move(connection), std::move(keymap), std::move(*side));
  core->start();
  return std::make_unique<WaylandPlatform>(std::move(core));
}

std::unique_ptr<Platform> connectWaylandPlatform(MainLoop& loop) {
  return connectDataControlPlatform(
      loop,
      [](Connection& connection, MainLoop&,
         const std::function<const ShortcutKeymap&()>& keymap) -> std::optional<KeyboardSide> {
        if (connection.virtualKeyboards() == nullptr) return std::nullopt;
        // The windows are told of as soon as there is a listener, which the keymap's round
        // trips must find in place.
        auto toplevels = std::make_unique<Toplevels>(connection);
        return KeyboardSide{nullptr, std::make_unique<VirtualKeyboard>(connection, keymap()),
                            std::move(toplevels)};
      });
}

}  // namespace deskagent::platform::wayland
