#include "platform/wayland/wayland_session.hpp"

namespace deskagent::platform::wayland {
namespace {

// The clipboard through data-control, as the seam asks for it. A compositor that does not
// answer gives no clipboard to read: nothing read is whole.
class DataControlClipboard final : public ClipboardSide {
 public:
  DataControlClipboard(Connection& connection, MainLoop& loop, const std::uint64_t& chords,
                       std::int64_t& changeCount)
      : connection_(connection), loop_(loop), clipboard_(connection, loop, chords, changeCount) {}

  std::int64_t changeCount() override { return clipboard_.changeCount(); }
  void listTypes(PasteboardListingCallback done) override {
    PasteboardListing listing{{}, PasteboardReadError::failed};
    if (connection_.roundtrip()) listing = clipboard_.listing();
    loop_.post([done = std::move(done), listing = std::move(listing)] { done(listing); });
  }
  void readType(const std::string& type, const PasteboardReadLimits& limits,
                PasteboardTypeCallback done) override {
    clipboard_.readType(type, limits, std::move(done));
  }
  void cancelReads() override { clipboard_.cancelReads(); }
  void readText(PasteboardTextCallback done) override {
    if (connection_.answering()) return clipboard_.readText(std::move(done));
    loop_.post([done = std::move(done)] { done(std::nullopt); });
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

}  // namespace

Session::Session(std::unique_ptr<Connection> connection, MainLoop& loop, SessionShared& shared,
                 DesktopParts desktopParts)
    : connection(std::move(connection)), parts(std::move(desktopParts)) {
  Connection& c = *this->connection;
  // The windows are told of as soon as there is a listener, which the keymap's round trips must
  // find in place.
  if (!parts.focus)
    parts.focus = std::make_unique<ToplevelFocus>(c, shared.desktopEntries, shared.xwayland);
  keymap = std::make_unique<ShortcutKeymap>(&c);
  if (!parts.keys) parts.keys = std::make_unique<VirtualKeyboard>(c, *keymap);
  chord = std::make_unique<ChordPoster>(*keymap, *parts.keys);
  if (!parts.clipboard) {
    parts.clipboard =
        std::make_unique<DataControlClipboard>(c, loop, chord->chords(), shared.changeCount);
  }
  if (!c.hasPrimarySelection()) return;
  primary =
      std::make_unique<Clipboard>(c, loop, chord->chords(), primaryChangeCount, Selection::primary);
  primaryPaste = std::make_unique<PrimaryPaste>(*primary);
}

}  // namespace deskagent::platform::wayland
