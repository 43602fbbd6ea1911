#pragma once

#include <string>
#include <vector>

namespace deskagent::platform::x11 {

// What `deskagent --check` tells a person of the X display that DISPLAY names.
struct DisplayDescription {
  bool named = false;  // DISPLAY is set
  bool opened = false;
  std::vector<std::string> facts;  // one line each: the server and its extensions, or why not
};

// Opens a connection of its own for a moment, asks the server about itself and the extensions
// the backend needs, and closes it. Reads no clipboard and no key.
DisplayDescription describeX11Display();

}  // namespace deskagent::platform::x11
