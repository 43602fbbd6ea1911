#include "agent/pasteboard.hpp"

#include <memory>

#include "agent/agent.hpp"
#include "agent/paste_transfer.hpp"
#include "agent/selection_read.hpp"

namespace deskagent {

// Both go through the queue even when it is idle: the refusal, the chord and the event then
// come at the same point of a transfer's life whether or not it had to wait.
void pasteIntoFrontmostApp(Agent& agent, std::string text) {
  agent.transfers.submit(std::make_shared<PasteTransfer>(agent, std::move(text)));
}

void readSelection(Agent& agent) {
  agent.transfers.submit(std::make_shared<SelectionRead>(agent));
}

}  // namespace deskagent
