#pragma once

#include <functional>
#include <memory>

#include "loop/clock.hpp"
#include "loop/main_loop.hpp"
#include "platform/platform.hpp"

namespace deskagent::platform {

// Makes a desktop backend, or nothing when none can run yet.
using BackendConnector = std::function<std::unique_ptr<Platform>()>;

// A backend that starts headless and becomes the first one `connect` gives: asked again every
// `interval` until then, and never after. Meanwhile it answers as the headless backend does, so
// the logic's own polling (the permission report, the tap's retry) finds the desktop once it
// is there. For an agent started before its display (an autostart racing the X server).
std::unique_ptr<Platform> awaitBackend(MainLoop& loop, Duration interval, BackendConnector connect);

}  // namespace deskagent::platform
