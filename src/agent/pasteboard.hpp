#pragma once

#include <cstdint>
#include <string>

namespace deskagent {

struct Agent;

// Clipboard transfers (pastes and selection reads) in flight or waiting their turn.
class TransferQueue {
 public:
  explicit TransferQueue(Agent& agent) : agent_(agent) {}

 private:
  [[maybe_unused]] Agent& agent_;
};

// Puts `text` into the frontmost application through the clipboard and the paste shortcut.
void pasteIntoFrontmostApp(Agent& agent, const std::string& text);

// Reads the frontmost application's selection through the copy shortcut.
void readSelection(Agent& agent);

// One press and release of `keyCode` carrying exactly the Command modifier.
void postCommandKeyChord(Agent& agent, std::uint16_t keyCode);

}  // namespace deskagent
