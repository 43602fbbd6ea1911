#pragma once

#include <string_view>

#include "agent/event.hpp"
#include "agent/input_line.hpp"

namespace deskagent {

struct Agent;

// Writes the event as one line to the host: one write of the JSON text and its line feed,
// under outputLock. Never fails from the caller's point of view.
void emit(Agent& agent, const Event& event);

// Turns one line from the host into at most one action; a line that cannot be used leaves no
// trace at all. Takes the line over, and lets go of it before the command runs.
void handleCommand(Agent& agent, InputLine line);
void handleCommand(Agent& agent, std::string_view line);

}  // namespace deskagent
