#pragma once

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
// platform handed over no items (a backend without snapshots).
SavedClipboard saveClipboard(platform::Platform& platform);

// Puts back what was saved: all of it where the platform handed it over, otherwise the plain
// text alone (no text saved leaves the clipboard empty).
void restoreClipboard(platform::Platform& platform, const SavedClipboard& saved);

}  // namespace deskagent
