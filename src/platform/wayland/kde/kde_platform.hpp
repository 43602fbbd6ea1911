#pragma once

#include <memory>
#include <string>

#include "loop/main_loop.hpp"
#include "platform/platform.hpp"

namespace deskagent::platform::kde {

// The backend for KDE Plasma on Wayland: KWin's data-control for the clipboard (the Wayland
// backend's), its EIS for the keys, its scripting for the focused application. Nothing when
// WAYLAND_DISPLAY names no compositor with data-control or KWin's EIS is not on the session bus;
// `whyNot` then says which.
std::unique_ptr<Platform> connectKdePlatform(MainLoop& loop, std::string* whyNot = nullptr);

}  // namespace deskagent::platform::kde
