#pragma once

#include <string>

namespace deskagent::platform {

// What a backend finds in this session, for `deskagent --check`: whether it can do its work, and
// what it found or why not, in a line a user can act on.
struct BackendDescription {
  std::string name;
  bool present = false;  // its desktop is there, whether it lets the agent work or not
  bool usable = false;
  std::string detail;
};

}  // namespace deskagent::platform
