#pragma once

#include <functional>
#include <optional>
#include <string>

#include "platform/platform.hpp"

namespace deskagent {

// What the user had on the clipboard before a transfer took it over.
struct SavedClipboard {
  // The plain text, absent when there was none; an empty string is a text like any other.
  std::optional<std::string> text;
  // Every item and type the platform could hand over, the plain text among them.
  platform::PasteboardContents contents;
  // False when the content could not be read whole: it must not be replaced then.
  bool complete() const { return contents.complete; }
};

// Reads the user's content once: the full content, and the plain text on its own only where the
// platform handed over no items (a backend without snapshots). The platform may read a large
// content over several turns of the main loop; `then` gets it on the main loop, possibly before
// this returns.
void saveClipboard(platform::Platform& platform, std::function<void(SavedClipboard)> then);
// The same, read at once: for a content that must be taken before anything else happens.
SavedClipboard saveClipboardNow(platform::Platform& platform);

// Puts back what was saved: all of it where the platform handed it over, otherwise the plain
// text alone (no text saved leaves the clipboard empty).
void restoreClipboard(platform::Platform& platform, const SavedClipboard& saved);

}  // namespace deskagent
