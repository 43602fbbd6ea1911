#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace deskagent {

// What this system offers the agent, as `deskagent --check` tells it.
struct DesktopDescription {
  std::vector<std::string> display;   // what display it would open and why, with what it found
  std::string choice;                 // the backend it would use, and why
  std::vector<std::string> keyWatch;  // where the watched key is heard from, and whether it can be
};

// Looks at this system's display and key sources the way the backend choice does; opens
// connections of its own for a moment, reads no clipboard and no key.
DesktopDescription describeDesktop();

// Prints, for a person, what the agent would use here and why and the permissions it would
// report; then the agent exits. Reads no clipboard and no key.
void printCheck(std::ostream& out);

}  // namespace deskagent
