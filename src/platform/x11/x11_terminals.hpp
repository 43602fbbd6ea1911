#pragma once

#include <string_view>

namespace deskagent::platform::x11 {

// Whether a window's WM_CLASS (instance and class name) is that of a terminal emulator, whose
// paste and copy shortcuts are Control+Shift+V and Control+Shift+C because Control+V and
// Control+C belong to the program running inside.
bool isTerminalWindowClass(std::string_view instanceName, std::string_view className);

}  // namespace deskagent::platform::x11
