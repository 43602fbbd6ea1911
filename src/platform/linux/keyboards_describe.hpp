#pragma once

#include <string>
#include <vector>

namespace deskagent::platform {

// What `deskagent --check` tells a person of the keyboards' event devices (/dev/input/event*),
// the key watch's source outside X11: which are keyboards, which this process may read, and
// what membership of the `input` group would change.
struct KeyboardsDescription {
  int readable = 0;                // keyboards this process may read
  std::vector<std::string> facts;  // one line each
};

// Opens each device for a moment to ask its name and keys; reads no key event.
KeyboardsDescription describeKeyboards(const std::string& dir = "/dev/input");

}  // namespace deskagent::platform
