#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "agent/input_line.hpp"

namespace deskagent {

// A command line reduced to what the dispatcher looks at. Each member holds what the last
// occurrence of that name at the top level said, and is empty where that was not of the kind the
// command needs.
struct Command {
  std::string type;
  std::optional<std::int64_t> keyCode;  // a whole number in the signed 64-bit range
  std::optional<std::string> text;
  std::optional<std::string> scope;
};

// Commands are flat objects, so this follows the line as it streams and builds no tree: anything
// but an object, or anything nested deeper than a few levels, is refused as soon as it shows.
// Reading consumes the line. Empty for a line that is not strict JSON, not an object, or has no
// string "type".
std::optional<Command> parseCommand(InputLine line);

}  // namespace deskagent
