#pragma once

#include <cstdint>
#include <string>

#include "agent/transfer_queue.hpp"

namespace deskagent {

struct Agent;

// Puts `text` into the frontmost application through the clipboard and the paste shortcut, and
// then gives the user their clipboard back. Answers with exactly one "paste" event.
void pasteIntoFrontmostApp(Agent& agent, std::string text);

// Reads the frontmost application's selection through the copy shortcut, leaving the user's
// clipboard as it was. Answers with exactly one "selection" event.
void readSelection(Agent& agent);

// One press and release of `keyCode` carrying exactly the Command modifier.
void postCommandKeyChord(Agent& agent, std::uint16_t keyCode);

}  // namespace deskagent
