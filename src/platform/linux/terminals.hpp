#pragma once

#include <string_view>

namespace deskagent::platform {

// What a window's WM_CLASS (X11) or app id (Wayland) says about its keys. A terminal's selection is
// always PRIMARY, and Control+V and Control+C belong to the program running inside it.
enum class TerminalKind {
  none,           // not a terminal: Control+V and Control+C
  clipboardKeys,  // pastes CLIPBOARD on Control+Shift+V
  primaryOnly,    // binds no clipboard paste by default: Shift+Insert pastes PRIMARY
};

// By the instance or the class name, whichever is known (a Wayland app id: pass it as both).
TerminalKind terminalKindOfClass(std::string_view instanceName, std::string_view className);

}  // namespace deskagent::platform
