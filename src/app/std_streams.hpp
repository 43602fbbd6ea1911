#pragma once

#include <memory>
#include <string_view>

#include "app/stdin_reader.hpp"

namespace deskagent {

// Keeps each standard stream the host closed taken (by /dev/null, where there is one to open), so
// that no descriptor opened later is read as the host's commands or written with events. Called
// before anything else opens one.
void holdStandardStreams();

// The process's standard input, as the host's commands arrive on it.
std::unique_ptr<InputStream> openStandardInput();

// Writes all of `line` to standard output, as one write where the pipe allows, however long the
// host takes to read it. A host that has gone away makes it give up quietly.
void writeToStandardOutput(std::string_view line);

// Writes all of a short `line` to standard output if the host's pipe has room for it now, and
// returns true; otherwise writes nothing and returns false, without waiting.
bool writeToStandardOutputAtOnce(std::string_view line);

}  // namespace deskagent
