#pragma once

#include <optional>
#include <string>

namespace deskagent::platform::wayland {

// What the desktop lets us know of the application that has the keyboard focus. A Wayland
// compositor tells ordinary clients nothing of it by itself: each backend has its own source.
enum class FocusedKind {
  application,  // Control+V and Control+C
  terminal,     // Control+Shift+V and Control+Shift+C, its own paste and copy
  unknown,      // Control+V, which no terminal turns into a signal; never Control+C
};

class FocusedApplication {
 public:
  virtual ~FocusedApplication() = default;
  // Asked for each chord: the window it goes to.
  virtual FocusedKind kind() = 0;
  // Its selected text where it must be read without the copy shortcut (Platform's
  // selectedTextWithoutCopying): nothing where the copy shortcut is the way.
  virtual std::optional<std::string> selectedTextWithoutCopying() { return std::nullopt; }
};

}  // namespace deskagent::platform::wayland
