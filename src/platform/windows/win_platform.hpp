#pragma once

#include <memory>

#include "loop/main_loop.hpp"
#include "platform/platform.hpp"

namespace deskagent::platform::windows {

// The Windows backend, on the thread of `loop` (a WinMainLoop: the hook and the clipboard
// window are served by its message pump). Null when its window cannot be made.
std::unique_ptr<Platform> connectWindowsPlatform(MainLoop& loop);

}  // namespace deskagent::platform::windows
