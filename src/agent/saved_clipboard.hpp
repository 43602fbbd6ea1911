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
};

// Takes the plain text first, then the full content, which the platform may read over several
// turns of the main loop; `then` gets both, on the main loop, possibly before this returns.
void saveClipboard(platform::Platform& platform, std::function<void(SavedClipboard)> then);

// Puts back what was saved: all of it where the platform handed it over, otherwise the plain
// text alone (no text saved leaves the clipboard empty).
void restoreClipboard(platform::Platform& platform, const SavedClipboard& saved);

}  // namespace deskagent
