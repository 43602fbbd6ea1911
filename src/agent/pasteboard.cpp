#include "agent/pasteboard.hpp"

#include "agent/agent.hpp"

namespace deskagent {

void pasteIntoFrontmostApp(Agent&, const std::string&) {}

void readSelection(Agent&) {}

void postCommandKeyChord(Agent&, std::uint16_t) {}

}  // namespace deskagent
