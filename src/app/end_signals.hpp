#pragma once

#include "loop/main_loop.hpp"

namespace deskagent {

// How a host, a service manager or a terminal asks the agent to end (SIGTERM, SIGINT, SIGHUP):
// from the first such request on, the agent ends as it does at the end of its input, with every
// clipboard transfer finished; a second request ends the process at once. Also keeps a host that
// closes our standard output from ending us with a restore still pending.

// Call first thing in main: from here on a request to end is kept for watchEndSignals, not
// acted on by the system. A signal the process was started with ignored stays ignored.
void catchEndSignals();

// Runs `onEnd` on the loop, once, for the first request (one made before this call included).
LoopHandle watchEndSignals(MainLoop& loop, Task onEnd);

}  // namespace deskagent
