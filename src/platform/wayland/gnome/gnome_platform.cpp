#include "platform/wayland/gnome/gnome_platform.hpp"

#include <algorithm>
#include <chrono>
#include <cstdlib>

#include "platform/linux/dbus/accessibility_focus.hpp"
#include "platform/linux/dbus/dbus_connection.hpp"
#include "platform/wayland/gnome/mutter_clipboard.hpp"
#include "platform/wayland/gnome/mutter_keys.hpp"
#include "platform/wayland/text_types.hpp"
#include "platform/wayland/wayland_clipboard.hpp"
#include "platform/wayland/wayland_platform.hpp"

namespace deskagent::platform::gnome {
namespace {

// The copied text a selection read answers with: at most 64 MiB, its owner's 1 s to give it.
constexpr PasteboardReadLimits kTextLimits{std::size_t{64} << 20, std::chrono::seconds(1),
                                           std::chrono::seconds(1)};

// GNOME's clipboard through mutter's session (mutter_clipboard.hpp), as the seam asks for it.
class GnomeClipboard final : public wayland::ClipboardSide {
 public:
  GnomeClipboard(MainLoop& loop, MutterKeys& keys, std::unique_ptr<MutterClipboard> clipboard)
      : loop_(loop), keys_(keys), clipboard_(std::move(clipboard)) {}

  // Null when mutter refused it.
  bool usable() const override { return clipboard_ != nullptr; }
  std::int64_t changeCount() override { return clipboard_ ? clipboard_->changeCount() : 0; }

  void listTypes(PasteboardListingCallback done) override {
    PasteboardListing listing;
    if (clipboard_) clipboard_->settle();  // a copy made just now is known by then
    if (!clipboard_) {
      listing.error = PasteboardReadError::failed;
    } else if (!clipboard_->types().empty()) {
      listing.items.push_back(clipboard_->types());
    }
    loop_.post([done = std::move(done), listing = std::move(listing)] { done(listing); });
  }
  void readType(const std::string& type, const PasteboardReadLimits& limits,
                PasteboardTypeCallback done) override {
    if (!clipboard_) {
      loop_.post([done = std::move(done)] { done({{}, PasteboardReadError::failed}); });
      return;
    }
    clipboard_->read(type, limits, std::move(done));
  }
  void cancelReads() override {
    if (clipboard_) clipboard_->cancelReads();
  }

  void readText(PasteboardTextCallback done) override {
    const auto& types = clipboard_ ? clipboard_->types() : std::vector<std::string>();
    auto text = std::find_if(types.begin(), types.end(), wayland::isTextType);
    if (text == types.end()) {
      loop_.post([done = std::move(done)] { done(std::nullopt); });
      return;
    }
    clipboard_->read(*text, kTextLimits, [done = std::move(done)](PasteboardTypeRead read) {
      if (read.error) return done(std::nullopt);
      done(read.bytes.str());
    });
  }

  // An empty content comes back as an empty text, the nearest to nothing that mutter takes: it
  // refuses an offer of no types, and an offer let go makes its clipboard manager put back the
  // copy it keeps, of the dictated text.
  void write(const PasteboardContents& contents) override {
    if (!clipboard_) return;
    clipboard_->offer(contents.items.empty() ? wayland::textContents("").items.front()
                                             : contents.items.front());
  }

  PasteboardTextWrite writeTextNotifyingRead(const std::string& text,
                                             PasteboardReadCallback onRead) override {
    if (!clipboard_) return PasteboardTextWrite::failed;
    const std::uint64_t chordsAtWrite = keys_.chords();
    auto notify = std::make_shared<PasteboardReadCallback>(std::move(onRead));
    // Mutter's own clipboard manager reads the text at every owner change, served before this
    // returns: only a read after our chord is the target's. Each such read is told.
    auto onTransfer = [this, chordsAtWrite, notify](const std::string& type) {
      if (!*notify || !wayland::isTextType(type) || keys_.chords() == chordsAtWrite) return;
      loop_.post(*notify);
    };
    return clipboard_->offer(wayland::dictatedContents(text).items.front(), onTransfer)
               ? PasteboardTextWrite::writtenNotifyingRead
               : PasteboardTextWrite::failed;
  }

 private:
  MainLoop& loop_;
  MutterKeys& keys_;
  std::unique_ptr<MutterClipboard> clipboard_;
};

}  // namespace

std::unique_ptr<Platform> connectGnomePlatform(MainLoop& loop) {
  const char* display = std::getenv("WAYLAND_DISPLAY");
  if (display == nullptr || *display == '\0') return nullptr;
  return wayland::connectDesktopPlatform(
      loop, [](wayland::Connection&, MainLoop& loop) -> std::optional<wayland::DesktopParts> {
        std::shared_ptr<dbus::Connection> bus = dbus::Connection::session(loop);
        if (!bus || !bus->nameHasOwner(kRemoteDesktopService)) return std::nullopt;
        auto keys = std::make_unique<MutterKeys>(loop, *bus);
        dbus::CallError refused;
        auto clipboard = std::make_unique<GnomeClipboard>(
            loop, *keys, MutterClipboard::create(loop, *bus, refused));
        auto focus = std::make_unique<dbus::AccessibilityFocus>(loop, *bus);
        return wayland::DesktopParts{bus, std::move(keys), std::move(focus), std::move(clipboard)};
      });
}

}  // namespace deskagent::platform::gnome
