#include "agent/saved_clipboard.hpp"

#include <utility>

namespace deskagent {

namespace {

SavedClipboard fromContents(platform::Platform& platform, platform::PasteboardContents contents) {
  SavedClipboard saved;
  saved.contents = std::move(contents);
  // Reading a large content twice would double the wait; the items already hold the text.
  if (saved.contents.items.empty() && saved.contents.complete) {
    saved.text = platform.pasteboardString();
  }
  return saved;
}

}  // namespace

void saveClipboard(platform::Platform& platform, std::function<void(SavedClipboard)> then) {
  platform.readPasteboardContentsInTurns(
      [&platform, then = std::move(then)](platform::PasteboardContents contents) {
        then(fromContents(platform, std::move(contents)));
      });
}

SavedClipboard saveClipboardNow(platform::Platform& platform) {
  return fromContents(platform, platform.readPasteboardContents());
}

void restoreClipboard(platform::Platform& platform, const SavedClipboard& saved) {
  // A backend that cannot take snapshots gives no items even when there was text; the text
  // saved on its own still comes back.
  if (!saved.contents.items.empty()) {
    platform.writePasteboardContents(saved.contents);
    return;
  }
  platform.clearPasteboard();
  if (saved.text) platform.setPasteboardString(*saved.text);
}

}  // namespace deskagent
