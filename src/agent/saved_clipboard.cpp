#include "agent/saved_clipboard.hpp"

namespace deskagent {

SavedClipboard saveClipboard(platform::Platform& platform) {
  SavedClipboard saved;
  saved.contents = platform.readPasteboardContents();
  // Reading a large content twice would double the wait; the items already hold the text.
  if (saved.contents.items.empty() && saved.contents.complete) {
    saved.text = platform.pasteboardString();
  }
  return saved;
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
