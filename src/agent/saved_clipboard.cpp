#include "agent/saved_clipboard.hpp"

namespace deskagent {

void restoreClipboard(platform::Platform& platform, const SavedClipboard& saved) {
  if (saved.whole) platform.writePasteboardContents(saved.contents);
}

}  // namespace deskagent
