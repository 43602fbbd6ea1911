#pragma once

#include "platform/platform.hpp"

namespace deskagent {

// What the user had on the clipboard before a transfer took it over.
struct SavedClipboard {
  // Every item and type saved, in the owner's order; no items when the clipboard was empty.
  platform::PasteboardContents contents;
  // False when the content could not be saved whole: writing anything over it would lose what
  // was not read, so it must not be replaced.
  bool whole = false;
};

// Puts back what was saved.
void restoreClipboard(platform::Platform& platform, const SavedClipboard& saved);

}  // namespace deskagent
