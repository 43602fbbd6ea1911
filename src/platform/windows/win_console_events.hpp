#pragma once

#include "loop/main_loop.hpp"

namespace deskagent::platform::windows {

// Console control events (Ctrl+C, Ctrl+Break, the console closing, logoff, shutdown) end the
// agent as the end of its input does: the loop finishes the transfers in flight, so every
// restore runs, and the process exits with status 0 once finishedAfterConsoleEvent() has been
// called (or the system's grace of a few seconds is nearly over). A second event ends it at once.
void endOnConsoleEvents(MainLoop& loop);

// Called when the agent's work is done, before it exits.
void finishedAfterConsoleEvent();

}  // namespace deskagent::platform::windows
