// The synthetic Command+key press and release that makes the frontmost application paste or
// copy.

#include "agent/agent.hpp"
#include "agent/pasteboard.hpp"

namespace deskagent {

void postCommandKeyChord(Agent& agent, std::uint16_t keyCode) {
  auto source = agent.platform.createEventSource();
  // Without this the user's own typing would be held back for a moment after our events.
  if (source) source->permitLocalEventsDuringSuppression();
  // Both exist before either is posted, so a failure to create the key-up never leaves a
  // lone key-down in the event stream.
  auto keyDown = agent.platform.createKeyboardEvent(source.get(), keyCode, true);
  auto keyUp = agent.platform.createKeyboardEvent(source.get(), keyCode, false);
  // Replacing the flags drops any modifier the user is holding: Shift-Command-V would be a
  // different command in many applications.
  if (keyDown) keyDown->setFlags(platform::kFlagCommand);
  if (keyUp) keyUp->setFlags(platform::kFlagCommand);
  if (keyDown) keyDown->post();
  if (keyUp) keyUp->post();
}

}  // namespace deskagent
