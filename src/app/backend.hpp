#pragma once

#include <memory>

#include "loop/main_loop.hpp"
#include "platform/platform.hpp"

namespace deskagent {

// Settings of this system's memory allocator, made once at start-up before anything else.
void configureAllocator();

// The main loop of this operating system: poll(2) on Linux, the main run loop on macOS.
std::unique_ptr<MainLoop> makeMainLoop();

// The first backend that can run here; the headless one always can. Where a display is named
// but cannot be opened yet, the headless one until it can.
std::unique_ptr<platform::Platform> connectPlatform(MainLoop& loop);

}  // namespace deskagent
