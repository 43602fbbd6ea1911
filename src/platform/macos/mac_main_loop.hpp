#pragma once

#include <memory>

#include "loop/main_loop.hpp"

namespace deskagent::platform {

// The main loop on the main thread's run loop (CFRunLoopRun): posted tasks go through the main
// dispatch queue, timers through a run-loop timer and fd watches through CFFileDescriptor, so the
// event tap's source and everything of the agent's share the one thread.
std::unique_ptr<MainLoop> makeMacMainLoop();

}  // namespace deskagent::platform
