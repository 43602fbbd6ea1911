#include "agent/saved_clipboard.hpp"

#include <utility>

namespace deskagent {

void saveClipboard(platform::Platform& platform, std::function<void(SavedClipboard)> then) {
  std::optional<std::string> text = platform.pasteboardString();
  platform.readPasteboardContentsInTurns(
      [text = std::move(text), then = std::move(then)](platform::PasteboardContents contents) {
        then(SavedClipboard{text, std::move(contents)});
      });
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
