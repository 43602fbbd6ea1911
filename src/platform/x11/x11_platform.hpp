#pragma once

#include <memory>

#include "loop/main_loop.hpp"
#include "platform/platform.hpp"

namespace deskagent::platform::x11 {

// The X11 backend, when the display named by DISPLAY can be opened now; null otherwise. Once
// made it survives the display: while the server is gone it answers as a desktop without
// permissions, and it connects again when a display can be opened.
std::unique_ptr<Platform> connectX11Platform(MainLoop& loop);

}  // namespace deskagent::platform::x11
