#include "platform/gnome/gnome_platform.hpp"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdlib>

#include "platform/dbus/accessibility_focus.hpp"
#include "platform/dbus/dbus_connection.hpp"
#include "platform/gnome/mutter_clipboard.hpp"
#include "platform/gnome/mutter_keys.hpp"
#include "platform/linux/capture_devices.hpp"
#include "platform/shared_tap.hpp"
#include "platform/wayland/evdev_taps.hpp"
#include "platform/wayland/shortcut_keys.hpp"
#include "platform/wayland/wayland_chord.hpp"
#include "platform/wayland/wayland_connection.hpp"

namespace deskagent::platform::gnome {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;

// The snapshot's bounds, as data-control's: 64 MiB in all, an owner's 1 s for each type.
constexpr std::size_t kSnapshotLimit = 64 * 1024 * 1024;
constexpr MutterClipboard::Limits kTypeLimits{kSnapshotLimit, seconds(1), seconds(1)};
constexpr std::array<const char*, 5> kTextTypes = {"text/plain;charset=utf-8", "UTF8_STRING",
                                                   "text/plain", "TEXT", "STRING"};
// Clipboard managers that honour it keep the text out of their history.
constexpr const char* kSecretHintType = "x-kde-passwordManagerHint";

bool isTextType(const std::string& type) {
  return std::find(kTextTypes.begin(), kTextTypes.end(), type) != kTextTypes.end();
}

MutterClipboard::Content textContent(const std::string& text) {
  MutterClipboard::Content content;
  for (const char* type : kTextTypes) content.emplace_back(type, text);
  return content;
}

// Everything the platform shares with the tasks it posts and its key events.
class Core : public std::enable_shared_from_this<Core> {
 public:
  Core(MainLoop& loop, std::unique_ptr<dbus::Connection> bus,
       std::unique_ptr<wayland::Connection> wayland)
      : loop(loop),
        bus(std::move(bus)),
        wayland(std::move(wayland)),
        keymap(this->wayland.get()),
        keys(loop, *this->bus),
        focus(loop, *this->bus),
        chord(keymap, keys, focus),
        taps(wayland::EvdevTaps::start(loop)) {
    dbus::CallError error;
    clipboard = MutterClipboard::create(loop, *this->bus, error);
    if (!clipboard) refusal = "mutter's remote-desktop API refused us (" + error.describe() + ")";
  }

  void postSyntheticKey(std::uint16_t keyCode, bool down, std::uint64_t flags) {
    chord.post(keyCode, down, flags);
  }

  // Why the agent cannot type here; nothing while it can.
  std::optional<std::string> whyNot() const {
    if (refusal) return refusal;
    if (keys.refusal()) return keys.refusal();
    if (!bus->open()) return "the session bus has gone";
    return std::nullopt;
  }

  MainLoop& loop;
  std::unique_ptr<dbus::Connection> bus;
  std::unique_ptr<wayland::Connection> wayland;
  wayland::ShortcutKeymap keymap;
  MutterKeys keys;
  dbus::AccessibilityFocus focus;
  wayland::ChordPoster chord;
  std::shared_ptr<wayland::EvdevTaps> taps;
  std::unique_ptr<MutterClipboard> clipboard;
  std::optional<std::string> refusal;
};

class GnomePlatform final : public Platform {
 public:
  explicit GnomePlatform(std::shared_ptr<Core> core) : core_(std::move(core)) {}

  // Mutter's API is what synthetic input needs here; nobody is asked for it.
  bool isProcessTrusted(bool) override { return !core_->whyNot(); }
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

  std::int64_t pasteboardChangeCount() override {
    return core_->clipboard ? core_->clipboard->changeCount() : 0;
  }
  std::optional<std::string> pasteboardString() override;
  void clearPasteboard() override { offer({}); }
  void setPasteboardString(const std::string& text) override { offer(textContent(text)); }
  PasteboardContents readPasteboardContents() override {
    return PasteboardContents{{}, false};  // never needed here: GNOME does not tell who copied
  }
  void readPasteboardContentsInTurns(PasteboardContentsCallback done) override;
  void writePasteboardContents(const PasteboardContents& contents) override {
    MutterClipboard::Content content;
    if (!contents.items.empty()) {
      for (const auto& rep : contents.items.front().representations) {
        content.emplace_back(rep.type, rep.data);
      }
    }
    offer(std::move(content));
  }
  PasteboardTextWrite writePasteboardTextNotifyingRead(const std::string& text,
                                                       PasteboardReadCallback onRead) override;

  std::optional<std::string> selectedTextWithoutCopying() override {
    if (!core_->keys.begin()) return std::string();  // no chord can be sent: nothing to copy
    return core_->focus.selectedTextWithoutCopying();
  }

  void shutdown() override {}

 private:
  // Offers `content`; an empty one as an empty text, the nearest to nothing that mutter takes (it
  // refuses an offer of no types, and an offer let go makes its clipboard manager put back the
  // copy it keeps: of the dictated text).
  bool offer(MutterClipboard::Content content,
             std::function<void(const std::string&)> onTransfer = {}) {
    if (!core_->clipboard) return false;
    if (content.empty()) content.emplace_back(kTextTypes.front(), "");
    return core_->clipboard->offer(std::move(content), std::move(onTransfer));
  }

  void readType(std::vector<std::string> types, PasteboardContents contents, std::size_t budget,
                PasteboardContentsCallback done);

  std::shared_ptr<Core> core_;
};

std::optional<std::string> GnomePlatform::pasteboardString() {
  if (!core_->clipboard) return std::nullopt;
  const auto& types = core_->clipboard->types();
  for (const char* type : kTextTypes) {
    if (std::find(types.begin(), types.end(), type) != types.end()) {
      return core_->clipboard->readNow(type, kTypeLimits);
    }
  }
  return std::nullopt;
}

void GnomePlatform::readPasteboardContentsInTurns(PasteboardContentsCallback done) {
  // A transfer starts: its keys' session too, so that a refusal is known before anything is
  // written.
  core_->keys.begin();
  if (!core_->clipboard) {
    done(PasteboardContents{{}, false});
    return;
  }
  readType(core_->clipboard->types(), PasteboardContents{{PasteboardItem{}}, true}, kSnapshotLimit,
           std::move(done));
}

void GnomePlatform::readType(std::vector<std::string> types, PasteboardContents contents,
                             std::size_t budget, PasteboardContentsCallback done) {
  if (types.empty()) {
    if (contents.items.front().representations.empty()) contents.items.clear();
    done(std::move(contents));
    return;
  }
  const std::string type = types.front();
  types.erase(types.begin());
  MutterClipboard::Limits limits = kTypeLimits;
  limits.maxBytes = budget;
  std::weak_ptr<Core> weak = core_;
  core_->clipboard->read(
      type, limits,
      [this, weak, type, types = std::move(types), contents = std::move(contents), budget,
       done = std::move(done)](MutterClipboard::Read read) mutable {
        if (!weak.lock()) return;
        if (read.error && *read.error != MutterClipboard::ReadError::refused) {
          done(PasteboardContents{{}, false});  // not whole: it must not be replaced
          return;
        }
        if (!read.error) {
          budget -= read.bytes.size();
          contents.items.front().representations.push_back({type, std::move(read.bytes)});
        }
        readType(std::move(types), std::move(contents), budget, std::move(done));
      });
}

PasteboardTextWrite GnomePlatform::writePasteboardTextNotifyingRead(const std::string& text,
                                                                    PasteboardReadCallback onRead) {
  if (core_->whyNot() || !core_->keys.begin()) return PasteboardTextWrite::failed;
  auto content = textContent(text);
  content.emplace_back(kSecretHintType, "secret");
  const std::uint64_t chordsAtWrite = core_->chord.chords();
  std::weak_ptr<Core> weak = core_;
  auto notify = std::make_shared<PasteboardReadCallback>(std::move(onRead));
  // Mutter's own clipboard manager reads the text at every owner change: only a read after our
  // chord is the target's.
  const bool offered =
      offer(std::move(content), [weak, chordsAtWrite, notify](const std::string& type) {
        auto core = weak.lock();
        if (!core || !*notify || !isTextType(type) || core->chord.chords() == chordsAtWrite) return;
        core->loop.post(std::exchange(*notify, {}));
      });
  return offered ? PasteboardTextWrite::writtenNotifyingRead : PasteboardTextWrite::failed;
}

}  // namespace

std::unique_ptr<Platform> connectGnomePlatform(MainLoop& loop) {
  const char* display = std::getenv("WAYLAND_DISPLAY");
  if (display == nullptr || *display == '\0') return nullptr;
  auto bus = dbus::Connection::session(loop);
  if (!bus || !bus->nameHasOwner(kRemoteDesktopService)) return nullptr;
  // Mutter gives ordinary clients its keymap over Wayland; the seat's keyboard is the user's.
  auto wayland = wayland::Connection::open();
  auto core = std::make_shared<Core>(loop, std::move(bus), std::move(wayland));
  return std::make_unique<GnomePlatform>(std::move(core));
}

}  // namespace deskagent::platform::gnome
