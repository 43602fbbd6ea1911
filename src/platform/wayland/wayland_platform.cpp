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

// The clipboard through data-control. Each read is made at once and answered on the next turn of
// the loop.
class DataControlClipboard final : public ClipboardSide {
 public:
  DataControlClipboard(Connection& connection, MainLoop& loop, const std::uint64_t& chords)
      : connection_(connection), loop_(loop), clipboard_(connection, loop, chords) {}

  std::int64_t changeCount() override { return clipboard_.changeCount(); }
  void listTypes(PasteboardListingCallback done) override {
    loop_.post([done = std::move(done), listing = clipboard_.listing()] { done(listing); });
  }
  void readType(const std::string& type, const PasteboardReadLimits& limits,
                PasteboardTypeCallback done) override {
    loop_.post([done = std::move(done), read = clipboard_.readType(type, limits)] { done(read); });
  }
  const std::vector<PasteboardTypeRule>& typeRules() const override { return waylandTypeRules(); }
  void readText(PasteboardTextCallback done) override {
    loop_.post([done = std::move(done), text = clipboard_.text()] { done(text); });
  }
  void write(const PasteboardContents& contents) override { clipboard_.setContents(contents); }
  PasteboardTextWrite writeTextNotifyingRead(const std::string& text,
                                             PasteboardReadCallback onRead) override {
    if (connection_.lost() || !clipboard_.setTextNotifyingRead(text, std::move(onRead))) {
      return PasteboardTextWrite::failed;
    }
    return PasteboardTextWrite::writtenNotifyingRead;
  }

 private:
  Connection& connection_;
  MainLoop& loop_;
  Clipboard clipboard_;
};

// Everything the platform shares with the tasks it posts and its key events; those that outlive
// the platform find it gone instead of dangling.
class Core : public std::enable_shared_from_this<Core> {
 public:
  Core(MainLoop& loop, std::unique_ptr<Connection> connection,
       std::unique_ptr<ShortcutKeymap> keymap, DesktopParts parts)
      : loop_(loop),
        connection(std::move(connection)),
        keymap(std::move(keymap)),
        parts(std::move(parts)),
        chord(*this->keymap, *this->parts.keys, *this->parts.focus),
        taps(EvdevTaps::start(loop)) {
    if (!this->parts.clipboard) {
      this->parts.clipboard =
          std::make_unique<DataControlClipboard>(*this->connection, loop, chord.chords());
    }
  }

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
  ClipboardSide& clipboard() { return *parts.clipboard; }

  MainLoop& loop_;
  std::unique_ptr<Connection> connection;
  std::unique_ptr<ShortcutKeymap> keymap;
  DesktopParts parts;
  ChordPoster chord;
  std::shared_ptr<EvdevTaps> taps;
  LoopHandle watch;
};

class WaylandPlatform final : public Platform {
 public:
  explicit WaylandPlatform(std::shared_ptr<Core> core) : core_(std::move(core)) {}

  // What types and the clipboard are what synthetic input needs here; nobody is asked for them.
  bool isProcessTrusted(bool) override {
    core_->connection->dispatch();  // a compositor that has just gone shows itself here
    return !core_->connection->lost() && core_->chord.ready() && core_->clipboard().usable();
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

  std::int64_t pasteboardChangeCount() override { return core_->clipboard().changeCount(); }
  void listPasteboardTypes(PasteboardListingCallback done) override {
    // Every transfer starts here or with the selection read below.
    core_->parts.keys->prepare();
    core_->clipboard().listTypes(std::move(done));
  }
  void readPasteboardType(std::size_t, const std::string& type, const PasteboardReadLimits& limits,
                          PasteboardTypeCallback done) override {
    core_->clipboard().readType(type, limits, std::move(done));
  }
  void cancelPasteboardReads() override { core_->clipboard().cancelReads(); }
  const std::vector<PasteboardTypeRule>& pasteboardTypeRules() const override {
    return core_->clipboard().typeRules();
  }
  void readPasteboardText(PasteboardTextCallback done) override {
    core_->clipboard().readText(std::move(done));
  }
  void writePasteboardContents(const PasteboardContents& contents) override {
    core_->clipboard().write(contents);
  }
  PasteboardTextWrite writePasteboardTextNotifyingRead(const std::string& text,
                                                       PasteboardReadCallback onRead) override {
    // The chord that follows could not be typed: the text is not put on the clipboard at all.
    if (!core_->parts.keys->prepare()) return PasteboardTextWrite::failed;
    return core_->clipboard().writeTextNotifyingRead(text, std::move(onRead));
  }

  bool readSelectedTextWithoutCopying(PasteboardTextCallback done) override {
    // No chord can be typed: nothing may be copied, so nothing is.
    std::optional<std::string> text = core_->parts.keys->prepare()
                                          ? core_->parts.focus->selectedTextWithoutCopying()
                                          : std::string();
    if (!text) return false;
    core_->loop_.post([done = std::move(done), text = std::move(*text)] { done(text); });
    return true;
  }

  void shutdown() override { core_->connection->flush(); }

 private:
  std::shared_ptr<Core> core_;
};

}  // namespace

std::unique_ptr<Platform> connectDesktopPlatform(MainLoop& loop,
                                                 const DesktopPartsFactory& makeParts) {
  auto connection = Connection::open();
  if (!connection) return nullptr;
  std::unique_ptr<ShortcutKeymap> keymap;
  auto parts = makeParts(*connection, loop, [&]() -> const ShortcutKeymap& {
    if (!keymap) keymap = std::make_unique<ShortcutKeymap>(connection.get());
    return *keymap;
  });
  if (!parts || (!parts->clipboard && connection->dataControl() == nullptr)) return nullptr;
  if (!keymap) keymap = std::make_unique<ShortcutKeymap>(connection.get());
  auto core =
      std::make_shared<Core>(loop, std::move(connection), std::move(keymap), std::move(*parts));
  core->start();
  return std::make_unique<WaylandPlatform>(std::move(core));
}

std::unique_ptr<Platform> connectWaylandPlatform(MainLoop& loop) {
  return connectDesktopPlatform(
      loop,
      [](Connection& connection, MainLoop&,
         const std::function<const ShortcutKeymap&()>& keymap) -> std::optional<DesktopParts> {
        if (connection.dataControl() == nullptr || connection.virtualKeyboards() == nullptr) {
          return std::nullopt;
        }
        // The windows are told of as soon as there is a listener, which the keymap's round
        // trips must find in place.
        auto toplevels = std::make_unique<Toplevels>(connection);
        return DesktopParts{nullptr, std::make_unique<VirtualKeyboard>(connection, keymap()),
                            std::move(toplevels), nullptr};
      });
}

}  // namespace deskagent::platform::wayland
